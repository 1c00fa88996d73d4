#pragma once
// Wireless M-Bus field encodings the simulated devices need: manufacturer
// codes, BCD serial IDs, type F date and time, and the Korvex's frame around
// every telegram it passes to the PC. Byte strings are std::string, one byte
// per char, as everywhere else in the program.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

using Bytes = std::string;

inline std::uint8_t At(std::string_view b, size_t i) { return static_cast<std::uint8_t>(b[i]); }
inline void Put(Bytes& out, std::uint8_t v) { out.push_back(static_cast<char>(v)); }
inline void Put16(Bytes& out, unsigned v) {
  Put(out, static_cast<std::uint8_t>(v & 0xFF));
  Put(out, static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

inline constexpr std::uint8_t kStartByte = 0x68;
inline constexpr std::uint8_t kEndByte = 0x16;

// The program's own manufacturer code, as it stands in a frame.
inline constexpr std::uint8_t kOwnMfrLow = 0x8D;
inline constexpr std::uint8_t kOwnMfrHigh = 0x59;

// "ABC" -> 16-bit code (each letter minus 64 in 5 bits, first letter high).
std::uint16_t PackManufacturer(std::string_view letters);

// 8-digit ID text -> 4 BCD bytes, least significant first (wire order).
// Nothing unless the text is exactly 8 decimal digits.
std::optional<Bytes> IdTextToWire(std::string_view idText);
// 4 wire bytes -> the ID text the program shows (hex digits, most significant first).
std::string WireToIdText(std::string_view wire4);
// True when all 8 nibbles are decimal digits.
bool IsBcdId(std::string_view wire4);

// Upper-case hex with one blank after each byte (log lines).
std::string HexText(std::string_view bytes);
// Hex text (any blanks, line breaks, upper or lower case) -> bytes; nothing on an odd digit count or other
// text.
std::optional<Bytes> ParseHex(std::string_view text);

// A local calendar time, to the second.
struct CivilTime {
  int year = 2026, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  bool operator==(const CivilTime&) const = default;
};
// Seconds since 1970-01-01 00:00 of the same calendar (no time zone involved).
std::int64_t ToSeconds(const CivilTime& t);
CivilTime FromSeconds(std::int64_t s);
// The PC's local time now.
CivilTime LocalNow();

// Type F date and time, 4 bytes (minute, hour, day + year bits, month + year bits); the year as 0..127 after
// 2000.
Bytes EncodeTypeF(const CivilTime& t);
// Nothing when a field is out of range (minute > 59, hour > 23, day 0, month 0 or > 12).
std::optional<CivilTime> DecodeTypeF(std::string_view four);

// The Korvex's frame: 0x68, L, telegram (from its C-field), signal byte, 0x16.
Bytes WrapFrame(std::string_view telegram, std::uint8_t signal);

}  // namespace sim
