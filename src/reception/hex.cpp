#include "hex.h"

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

void AppendHexText(std::string& out, std::string_view bytes) {
  const size_t start = out.size();
  out.resize(start + bytes.size() * 3);
  char* p = out.data() + start;
  for (char b : bytes) {
    const auto v = static_cast<unsigned char>(b);
    *p++ = kDigits[v >> 4];
    *p++ = kDigits[v & 0x0F];
    *p++ = ' ';
  }
}

std::string HexText(std::string_view bytes) {
  std::string out;
  AppendHexText(out, bytes);
  return out;
}

std::string HexByte(std::uint8_t value) {
  return std::string{kDigits[value >> 4], kDigits[value & 0x0F]};
}

std::int32_t HexToInt(std::string_view text) {
  if (text.size() < 8) throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
  std::uint32_t value = 0;
  for (size_t i = 0; i < 8; ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0) throw ConversionError("'" + std::string(text.substr(0, 8)) + "' is not a valid integer value");
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(value);
}

Bytes HexTextToBytes(std::string_view text) {
  Bytes out;
  // 1-based i as the routine was always described: pairs start at 1, 4, 7, ...
  for (size_t i = 1; i < text.size(); i += 3) {
    const int hi = HexValue(text[i - 1]);
    const int lo = HexValue(text[i]);
    if (hi < 0 || lo < 0) return Bytes();
    out.push_back(static_cast<char>(hi * 16 + lo));
  }
  return out;
}
