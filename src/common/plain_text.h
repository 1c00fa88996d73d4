#pragma once
// Reading plain text the same way everywhere: a decimal number as the
// grids, the command boxes, the batch file and the options take it, and a
// field without the blanks around it.

#include <cctype>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>

// How much a decimal text may carry besides its digits and a minus sign.
struct DecimalRules {
  bool plusSign = false;  // one leading '+', as the window's boxes take it
};

// `text` as a whole decimal number of type T, all of it; nullopt when it is
// empty, carries anything else, or does not fit.
template <typename T = int>
std::optional<T> ParseDecimalText(std::string_view text, DecimalRules rules = {}) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (rules.plusSign && first != last && *first == '+') ++first;
  if (first == last) return std::nullopt;
  T value{};
  const auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last) return std::nullopt;
  return value;
}

// `text` without the white space at either end.
inline std::string Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return std::string(text);
}
