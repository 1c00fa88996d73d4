#pragma once
// Our own ini file with private-profile semantics: section and key names
// match without regard to case, a missing file or key gives the default,
// and the lines we do not change (other sections, keys, comments, their
// order and line endings) stay exactly as they are. QSettings is not used:
// its dialect escapes names and reorders the file.

#include <string>
#include <vector>

class IniFile {
 public:
  // Strings are read back up to this many characters.
  static constexpr size_t kMaxValueLength = 2047;

  // Reads the file; a missing or unreadable file reads as empty.
  explicit IniFile(std::string path);

  const std::string& Path() const { return m_path; }

  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  // Decimal, or hexadecimal after "$" or "0x"/"0X" (text longer than two
  // characters); any other text gives the default.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  // Any integer other than 0 is true; text that is no integer gives the default.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  // Changes the copy in memory; Save() writes it.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

  // Replaces the file through a temporary file and a rename. On failure the
  // file is unchanged and `error` names it ("Unable to write to ...").
  bool Save(std::string& error) const;

  // The file's text as Save() would write it.
  std::string Text() const;

 private:
  struct Line {
    std::string text;  // without its line ending
    std::string end;   // "\r\n", "\n" or "" for a last line without one
  };
  // Index of the first line of the section's body, or -1. The first section
  // of that name wins, as does the first key.
  int FindSection(const std::string& section) const;
  int FindKey(int bodyStart, const std::string& key) const;
  std::string NewLineEnd() const;

  std::string m_path;
  std::vector<Line> m_lines;
};

// Parses an integer the way the ini file reads one; false for other text.
bool ParseIniInteger(const std::string& text, int& value);
