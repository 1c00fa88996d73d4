#pragma once
// Small pure helpers that turn wireless M-Bus field values into the texts of
// the log window and the telegram table.

#include <cstdint>
#include <string>
#include <string_view>

// Three letters from the two manufacturer bytes (low byte first); each letter
// is its code minus 64 in 5 bits, the first taking the top six bits.
std::string ManufacturerText(std::uint8_t low, std::uint8_t high);
inline std::string ManufacturerText(std::string_view twoBytes) {
  return ManufacturerText(static_cast<std::uint8_t>(twoBytes.at(0)),
                          static_cast<std::uint8_t>(twoBytes.at(1)));
}

// Medium name of a device type byte; "Other" for codes we do not know.
const char* MediumText(std::uint8_t deviceType);

// The Notes text from the two configuration bytes (mode digit and block count).
std::string EncryptionText(std::uint8_t config1, std::uint8_t config2);
void AppendEncryptionText(std::string& out, std::uint8_t config1, std::uint8_t config2);

// Date and time field of type F (four bytes as in the telegram). `vif` must be
// exactly "6D" or "ED", otherwise the result is empty. Example: 05 09 47 3C -> "9:05, 7.12.26".
void DateTimeText(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4, std::string_view vif,
                  std::string& result);

// Key filter of the numeric edits: digits, backspace, LF and CR pass; any
// other character becomes ESC (27), which an edit does not insert.
char FilterDigitKey(char key);
