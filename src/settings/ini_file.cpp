#include "ini_file.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>

#include "plain_text.h"
#include "text_files.h"

namespace {

const std::string kLf = "\n";

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// "[name]" (blanks around allowed) gives the trimmed name.
bool SectionName(const std::string& line, std::string& name) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  const size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

// "key=value" gives the trimmed key; false for lines without "=".
bool KeyName(const std::string& line, std::string& key) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(line.substr(0, eq));
  return !key.empty();
}

// A line break inside a value would make a key of its own.
std::string OneLine(std::string value) {
  std::replace_if(
      value.begin(), value.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return value;
}

bool HexDigits(const std::string& digits, std::uint32_t& value) {
  if (digits.empty() || digits.size() > 8) return false;
  value = 0;
  for (char c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  return true;
}

}  // namespace

bool ParseIniInteger(const std::string& text, int& value) {
  std::string t = Trim(text);
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.erase(0, 1);
  }
  std::uint32_t hex = 0;
  // Hexadecimal texts cover the full 32 bits, as "$FFFFFFFF" is -1.
  if (!t.empty() && t[0] == '$') {
    if (!HexDigits(t.substr(1), hex)) return false;
  } else if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    if (!HexDigits(t.substr(2), hex)) return false;
  } else {
    if (t.empty() || t.size() > 18 ||
        !std::all_of(t.begin(), t.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      return false;
    const long long v = std::stoll(t) * (negative ? -1 : 1);
    if (v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    return true;
  }
  const auto v = static_cast<std::int32_t>(hex);
  value = negative ? static_cast<int>(0u - static_cast<std::uint32_t>(v)) : v;
  return true;
}

IniFile::IniFile(std::string path) : m_path(std::move(path)) {
  std::string content, error;
  if (!ReadWholeFile(m_path, content, error)) return;
  size_t start = 0;
  while (start < content.size()) {
    const size_t lf = content.find('\n', start);
    if (lf == std::string::npos) {
      m_lines.push_back({content.substr(start), ""});
      break;
    }
    const bool crlf = lf > start && content[lf - 1] == '\r';
    m_lines.push_back({content.substr(start, lf - start - (crlf ? 1 : 0)), crlf ? "\r\n" : "\n"});
    start = lf + 1;
  }
}

int IniFile::FindSection(const std::string& section) const {
  std::string name;
  for (size_t i = 0; i < m_lines.size(); ++i)
    if (SectionName(m_lines[i].text, name) && SameName(name, section)) return static_cast<int>(i) + 1;
  return -1;
}

int IniFile::FindKey(int bodyStart, const std::string& key) const {
  std::string name;
  for (size_t i = static_cast<size_t>(bodyStart); i < m_lines.size(); ++i) {
    if (SectionName(m_lines[i].text, name)) break;
    if (KeyName(m_lines[i].text, name) && SameName(name, key)) return static_cast<int>(i);
  }
  return -1;
}

std::string IniFile::NewLineEnd() const {
  for (const Line& line : m_lines)
    if (!line.end.empty()) return line.end;
  return kLf;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
  const int body = FindSection(section);
  if (body < 0) return def;
  const int at = FindKey(body, key);
  if (at < 0) return def;
  const std::string& text = m_lines[static_cast<size_t>(at)].text;
  std::string value = Trim(text.substr(text.find('=') + 1));
  // A value in matching quotes is read without them.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
  return value;
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  int value = def;
  return ParseIniInteger(ReadString(section, key, std::string()), value) ? value : def;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  const std::string line = key + "=" + OneLine(value);
  const int body = FindSection(section);
  if (body < 0) {
    if (!m_lines.empty() && m_lines.back().end.empty()) m_lines.back().end = NewLineEnd();
    const std::string end = NewLineEnd();
    m_lines.push_back({"[" + section + "]", end});
    m_lines.push_back({line, end});
    return;
  }
  const int at = FindKey(body, key);
  if (at >= 0) {
    std::string existing;
    KeyName(m_lines[static_cast<size_t>(at)].text, existing);
    m_lines[static_cast<size_t>(at)].text = existing + "=" + OneLine(value);
    return;
  }
  // A new key goes after the section's last non-blank line.
  size_t insert = static_cast<size_t>(body);
  std::string name;
  for (size_t i = static_cast<size_t>(body); i < m_lines.size() && !SectionName(m_lines[i].text, name); ++i)
    if (!Trim(m_lines[i].text).empty()) insert = i + 1;
  if (insert > 0 && m_lines[insert - 1].end.empty()) m_lines[insert - 1].end = NewLineEnd();
  m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insert), Line{line, NewLineEnd()});
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

std::string IniFile::Text() const {
  std::string text;
  for (const Line& line : m_lines) text += line.text + line.end;
  return text;
}

bool IniFile::Save(std::string& error) const { return ReplaceFile(m_path, Text(), error); }
