#include "hex.h"

#include <cstring>

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

namespace {
// "XY " of every byte value, packed so one 4-byte store writes a byte's text
// (the fourth byte is overwritten by the next one's).
struct HexTriples {
  char text[256][4];
  constexpr HexTriples() : text() {
    for (unsigned v = 0; v < 256; ++v) {
      text[v][0] = kDigits[v >> 4];
      text[v][1] = kDigits[v & 0x0F];
      text[v][2] = ' ';
    }
  }
};
constexpr HexTriples kTriples;
}  // namespace

void AppendHexText(std::string& out, std::string_view bytes) {
  if (bytes.empty()) return;
  const size_t start = out.size();
  out.resize(start + bytes.size() * 3 + 1);  // room for the last store's spare byte
  char* p = out.data() + start;
  for (char b : bytes) {
    std::memcpy(p, kTriples.text[static_cast<unsigned char>(b)], 4);
    p += 3;
  }
  out.pop_back();
}

std::string HexText(std::string_view bytes) {
  std::string out;
  AppendHexText(out, bytes);
  return out;
}

std::string HexByte(std::uint8_t value) { return std::string{kDigits[value >> 4], kDigits[value & 0x0F]}; }

std::int32_t HexToInt(std::string_view text) {
  if (text.size() < 8) throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
  std::uint32_t value = 0;
  for (size_t i = 0; i < 8; ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0)
      throw ConversionError("'" + std::string(text.substr(0, 8)) + "' is not a valid integer value");
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(value);
}

Bytes HexTextToBytes(std::string_view text) {
  Bytes out;
  // 1-based i, as the routine is described: pairs start at 1, 4, 7, ...
  for (size_t i = 1; i < text.size(); i += 3) {
    const int hi = HexValue(text[i - 1]);
    const int lo = HexValue(text[i]);
    if (hi < 0 || lo < 0) return Bytes();
    out.push_back(static_cast<char>(hi * 16 + lo));
  }
  return out;
}
