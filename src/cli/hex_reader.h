#pragma once
// The reader of `velrpt-cli decode --hex`: hexadecimal text to bytes, fed
// piece by piece as the input is read (a pair may be split between two reads).

#include <string>
#include <string_view>

namespace hex_reader_detail {

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

}  // namespace hex_reader_detail

// Hexadecimal text to bytes, across reads: a pair may be split between two.
class HexReader {
 public:
  // False on a character that is neither a hex digit nor white space, or a
  // pair split by white space.
  bool Convert(std::string_view text, std::string& out) {
    for (char c : text) {
      if (hex_reader_detail::IsBlank(c)) {
        if (m_pending >= 0) return false;
        continue;
      }
      const int d = hex_reader_detail::HexDigit(c);
      if (d < 0) return false;
      if (m_pending < 0) {
        m_pending = d;
      } else {
        out.push_back(static_cast<char>(m_pending * 16 + d));
        m_pending = -1;
      }
    }
    return true;
  }
  bool Complete() const { return m_pending < 0; }

 private:
  int m_pending = -1;
};
