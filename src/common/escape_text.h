#pragma once
// Names that come from outside (port names, file names, the system's error
// texts) may hold control characters. Written raw into a log line, a line
// break in a name would start a forged line of its own, so they are shown
// escaped instead.

#include <string>
#include <string_view>

// `text` with every ASCII control character and DEL written as an escape:
// \n, \r, \t, or \xNN. All other bytes (UTF-8 included) pass unchanged.
inline std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  static const char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}
