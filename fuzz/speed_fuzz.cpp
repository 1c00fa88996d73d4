// The speed box's text as the port connection reads it: a whole number
// with blanks around and an optional +, or std::invalid_argument.

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "port_connection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int value = 0;
  try {
    value = SpeedValue(text);
  } catch (const std::invalid_argument& e) {
    // The refusal names the text on one line.
    const std::string message = e.what();
    if (message.find('\n') != std::string::npos || message.find('\r') != std::string::npos) std::abort();
    return 0;
  }
  // What was accepted prints back as the digits between the blanks.
  const size_t first = text.find_first_not_of(' ');
  const size_t last = text.find_last_not_of(' ');
  if (first == std::string::npos) std::abort();
  std::string digits = text.substr(first, last - first + 1);
  if (digits[0] == '+') digits.erase(0, 1);
  int again = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), again);
  if (ec != std::errc() || end != digits.data() + digits.size() || again != value) std::abort();
  return 0;
}
