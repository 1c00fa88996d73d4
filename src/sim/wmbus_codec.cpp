#include "wmbus_codec.h"

#include <ctime>

#include "civil_date.h"

namespace sim {

std::uint16_t PackManufacturer(std::string_view letters) {
  unsigned v = 0;
  for (size_t i = 0; i < 3; ++i) {
    const unsigned c = i < letters.size() ? static_cast<unsigned char>(letters[i]) : '@';
    v = (v << 5) | ((c - 64u) & 0x1F);
  }
  return static_cast<std::uint16_t>(v);
}

std::optional<Bytes> IdTextToWire(std::string_view idText) {
  if (idText.size() != 8) return std::nullopt;
  for (char c : idText)
    if (c < '0' || c > '9') return std::nullopt;
  Bytes wire(4, '\0');
  for (int k = 0; k < 4; ++k) {
    const int hi = idText[2 * k] - '0';
    const int lo = idText[2 * k + 1] - '0';
    wire[3 - k] = static_cast<char>(hi * 16 + lo);
  }
  return wire;
}

std::string WireToIdText(std::string_view wire4) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (int i = 3; i >= 0; --i) {
    const std::uint8_t b = At(wire4, static_cast<size_t>(i));
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 0x0F]);
  }
  return text;
}

bool IsBcdId(std::string_view wire4) {
  if (wire4.size() != 4) return false;
  for (char c : wire4) {
    const auto b = static_cast<std::uint8_t>(c);
    if ((b >> 4) > 9 || (b & 0x0F) > 9) return false;
  }
  return true;
}

std::string HexText(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 0x0F]);
    text.push_back(' ');
  }
  return text;
}

std::optional<Bytes> ParseHex(std::string_view text) {
  Bytes out;
  int pending = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (pending >= 0) return std::nullopt;  // digits of a byte belong together
      continue;
    } else {
      return std::nullopt;
    }
    if (pending < 0) {
      pending = v;
    } else {
      Put(out, static_cast<std::uint8_t>(pending * 16 + v));
      pending = -1;
    }
  }
  if (pending >= 0) return std::nullopt;
  return out;
}

std::int64_t ToSeconds(const CivilTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

CivilTime FromSeconds(std::int64_t s) {
  const CivilMoment m = CivilFromMs(s * 1000);
  return CivilTime{m.date.year, m.date.month, m.date.day, m.hour, m.minute, m.second};
}

CivilTime LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  return CivilTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// The simulated repeater keeps its own type F codec instead of the
// program's: it stands for the device the program must agree with, so a
// fault in the program's year folding shows as a wrong clock, not as two
// copies agreeing with each other.
Bytes EncodeTypeF(const CivilTime& t) {
  const int y = ((t.year - 2000) % 128 + 128) % 128;
  Bytes out;
  Put(out, static_cast<std::uint8_t>(t.minute));
  Put(out, static_cast<std::uint8_t>(t.hour));
  Put(out, static_cast<std::uint8_t>((y % 8) * 32 + t.day));
  Put(out, static_cast<std::uint8_t>((y / 8) * 16 + t.month));
  return out;
}

std::optional<CivilTime> DecodeTypeF(std::string_view four) {
  if (four.size() != 4) return std::nullopt;
  CivilTime t;
  t.minute = At(four, 0) & 0x3F;
  t.hour = At(four, 1) & 0x1F;
  t.day = At(four, 2) & 0x1F;
  t.month = At(four, 3) & 0x0F;
  t.year = 2000 + ((At(four, 2) & 0xE0) >> 5) + ((At(four, 3) & 0xF0) >> 1);
  t.second = 0;
  if (t.minute > 59 || t.hour > 23 || t.day == 0 || t.month == 0 || t.month > 12) return std::nullopt;
  // A 31st of a short month would silently become the 1st of the next.
  if (FromSeconds(ToSeconds(t)).day != t.day) return std::nullopt;
  return t;
}

Bytes WrapFrame(std::string_view telegram, std::uint8_t signal) {
  Bytes frame;
  frame.reserve(telegram.size() + 4);
  Put(frame, kStartByte);
  Put(frame, static_cast<std::uint8_t>(telegram.size() + 1));
  frame.append(telegram);
  Put(frame, signal);
  Put(frame, kEndByte);
  return frame;
}

}  // namespace sim
