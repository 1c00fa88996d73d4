#pragma once
// Range checks for the numeric command-line options of velrpt, velrpt-cli
// and velrpt-sim. Every numeric option goes through these before its value
// is used, so a huge or odd value ("3000000", "inf", "1e999") can never
// overflow a timer or a count. A refused value gets one line naming the
// option and its range; the program then exits with kBadOptionStatus.

#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <system_error>

#include "escape_text.h"
#include "plain_text.h"

// The exit status of every program for a refused option.
inline constexpr int kBadOptionStatus = 2;

namespace option_range_detail {

template <typename T>
std::string NumberText(T value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

inline std::string Refusal(const std::string& option, const char* what, const std::string& lo,
                           const std::string& hi, const std::string& text) {
  return option + " needs " + what + " from " + lo + " to " + hi + ", not '" + EscapeControls(text) + "'";
}

}  // namespace option_range_detail

// `text` as a whole decimal number from `lo` to `hi`. Otherwise nullopt,
// and `error` is the line to print, e.g.
// "--meters needs a whole number from 0 to 200, not '201'".
inline std::optional<long long> ParseIntOption(const std::string& option, const std::string& text,
                                               long long lo, long long hi, std::string& error) {
  const std::optional<long long> value = ParseDecimalText<long long>(text);
  if (!value || *value < lo || *value > hi) {
    using namespace option_range_detail;
    error = Refusal(option, "a whole number", NumberText(lo), NumberText(hi), text);
    return std::nullopt;
  }
  return *value;
}

// `text` as a finite decimal number (fractions and exponents allowed) from
// `lo` to `hi`. Otherwise nullopt, and `error` is the line to print, e.g.
// "--seconds needs a number from 0 to 2147483, not 'inf'".
inline std::optional<double> ParseRealOption(const std::string& option, const std::string& text, double lo,
                                             double hi, std::string& error) {
  double value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  const auto [end, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || end != last || !std::isfinite(value) || value < lo || value > hi) {
    using namespace option_range_detail;
    error = Refusal(option, "a number", NumberText(lo), NumberText(hi), text);
    return std::nullopt;
  }
  return value;
}
