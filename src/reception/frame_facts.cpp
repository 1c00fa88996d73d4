#include "frame_facts.h"

#include "hex.h"
#include "telegram_decoder.h"

namespace {

// As the decoder: a field counts only when it lies before the signal byte.
bool HasField(std::string_view frame, size_t lastOffset) { return lastOffset + 3 <= frame.size(); }

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
    f.id = std::uint32_t{ByteAt(frame, 8)} << 24 | std::uint32_t{ByteAt(frame, 7)} << 16 |
           std::uint32_t{ByteAt(frame, 6)} << 8 | ByteAt(frame, 5);
  }
  if (f.hasType) {
    f.version = ByteAt(frame, 9);
    f.medium = ByteAt(frame, 10);
  }
  if (f.hasCI) {
    f.ci = ByteAt(frame, 11);
    switch (f.ci) {
      case 0x7A:
        f.hasHeader = HasField(frame, 15);
        if (f.hasHeader)
          f.status = ByteAt(frame, 13), f.config1 = ByteAt(frame, 14), f.config2 = ByteAt(frame, 15);
        break;
      case 0x72:
        f.hasHeader = HasField(frame, 23);
        if (f.hasHeader)
          f.status = ByteAt(frame, 21), f.config1 = ByteAt(frame, 22), f.config2 = ByteAt(frame, 23);
        break;
      case 0x78:
        f.hasHeader = HasField(frame, 22);
        if (f.hasHeader) f.status = ByteAt(frame, 21), f.config1 = ByteAt(frame, 22);
        break;
      default:
        break;
    }
    f.repeated = f.hasHeader && (f.config1 & 0x01) != 0;
  }

  // The decoder's order: the CI check comes before the ID is looked at.
  if (options.discardWrongCI && f.hasCI && !IsAcceptedCI(f.ci))
    f.kind = FrameFacts::Kind::kWrongCI;
  else if (f.hasId && (SameId(f.id, options.repeaterId) || SameId(f.id, options.newId)))
    f.kind = FrameFacts::Kind::kAnswer;
  else if (!f.hasCI)
    f.kind = FrameFacts::Kind::kShort;
  else
    f.kind = FrameFacts::Kind::kTelegram;
  return f;
}
