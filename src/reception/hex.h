#pragma once
// Byte strings and their hexadecimal texts. A byte string is a std::string
// holding one byte per char, as frames and command frames are passed around.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

using Bytes = std::string;

inline std::uint8_t ByteAt(std::string_view bytes, size_t index) {
  return static_cast<std::uint8_t>(bytes[index]);
}

// "68 00 16 ": two upper-case digits per byte, each followed by one blank.
std::string HexText(std::string_view bytes);
// Appends the hex text of `bytes` to `out` (no allocation when it fits).
void AppendHexText(std::string& out, std::string_view bytes);
// Two upper-case digits, no blank.
std::string HexByte(std::uint8_t value);

// A character that is not a hexadecimal digit.
class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The first 8 characters as a 32-bit hexadecimal number (wrapping: FFFFFFFF
// is -1). Throws ConversionError on a non-hex character or a text shorter
// than 8 characters.
std::int32_t HexToInt(std::string_view text);

// "01 A2 FF" -> 01 A2 FF: pairs at positions 1-2, 4-5, ... with any one
// character between them. Empty on any non-hex pair; a trailing single
// character is ignored.
Bytes HexTextToBytes(std::string_view text);
