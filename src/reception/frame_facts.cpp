#include "frame_facts.h"

#include "hex.h"
#include "telegram_decoder.h"

namespace {

// The telegram proper lies between the length byte and the signal-strength
// byte; a field counts only when it lies wholly inside it, so a short frame
// never has its signal or end byte read as a header field.
bool HasField(std::string_view frame, size_t lastOffset) { return lastOffset + 3 <= frame.size(); }

// Four bytes, the highest offset first, as one number.
std::uint32_t Word32(std::string_view frame, size_t highest) {
  return std::uint32_t{ByteAt(frame, highest)} << 24 | std::uint32_t{ByteAt(frame, highest - 1)} << 16 |
         std::uint32_t{ByteAt(frame, highest - 2)} << 8 | ByteAt(frame, highest - 3);
}

// The ID text is 8 hex digits of 4 bytes, so it equals an option's text only
// when that text is those 8 digits in upper case.
bool SameId(std::uint32_t id, const std::string& text) {
  if (text.size() != 8) return false;
  std::uint32_t value = 0;
  for (char ch : text) {
    int d;
    if (ch >= '0' && ch <= '9')
      d = ch - '0';
    else if (ch >= 'A' && ch <= 'F')
      d = ch - 'A' + 10;
    else
      return false;
    value = value << 4 | static_cast<std::uint32_t>(d);
  }
  return value == id;
}

bool IsAnswerId(std::uint32_t id, const DecodeOptions& options) {
  if (SameId(id, options.repeaterId) || SameId(id, options.newId)) return true;
  for (const std::string& other : options.answerIds)
    if (SameId(id, other)) return true;
  return false;
}

// Status and configuration bytes from `statusAt` on; `configBytes` 1 or 2.
void Header(std::string_view frame, size_t statusAt, size_t configBytes, FrameFacts& f) {
  f.hasHeader = HasField(frame, statusAt + configBytes);
  if (!f.hasHeader) return;
  f.status = ByteAt(frame, statusAt);
  f.config1 = ByteAt(frame, statusAt + 1);
  if (configBytes == 2) f.config2 = ByteAt(frame, statusAt + 2);
}

// Status and configuration bytes lie where the CI's header puts them.
void ReadHeader(std::string_view frame, FrameFacts& f) {
  switch (f.ci) {
    case 0x7A:
      Header(frame, 13, 2, f);
      break;
    case 0x72:
      f.hasAux = HasField(frame, 15);
      if (f.hasAux) f.auxId = Word32(frame, 15);
      Header(frame, 21, 2, f);
      break;
    case 0x78:
      // No header of its own: the program reads the bytes at the long header's place.
      Header(frame, 21, 1, f);
      break;
    default:
      break;
  }
  f.repeated = f.hasHeader && (f.config1 & 0x01) != 0;
}

}  // namespace

FrameFacts ReadFrameFacts(std::string_view frame, const DecodeOptions& options) {
  FrameFacts f;
  f.hasCI = HasField(frame, 11);
  f.hasId = HasField(frame, 8);
  f.hasType = HasField(frame, 10);
  f.hasRssi = frame.size() >= 4;
  if (f.hasRssi) f.rssi = ByteAt(frame, frame.size() - 2) >> 1;
  if (f.hasId) {
    f.c = ByteAt(frame, 2);
    f.manufacturer[0] = ByteAt(frame, 3);
    f.manufacturer[1] = ByteAt(frame, 4);
    f.id = Word32(frame, 8);
  }
  if (f.hasType) {
    f.version = ByteAt(frame, 9);
    f.medium = ByteAt(frame, 10);
  }
  if (f.hasCI) {
    f.ci = ByteAt(frame, 11);
    ReadHeader(frame, f);
  }

  // The CI check comes before the ID is looked at.
  if (options.discardWrongCI && f.hasCI && !IsAcceptedCI(f.ci))
    f.kind = FrameFacts::Kind::kWrongCI;
  else if (f.hasId && IsAnswerId(f.id, options))
    f.kind = FrameFacts::Kind::kAnswer;
  else if (!f.hasCI)
    f.kind = FrameFacts::Kind::kShort;
  else
    f.kind = FrameFacts::Kind::kTelegram;
  return f;
}
