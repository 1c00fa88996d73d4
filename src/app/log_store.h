#pragma once
// The log window's lines, kept compactly: a busy site writes a million lines
// a day, so each line costs its characters plus a small reference, and
// appending never copies the lines already held. A received frame's line is
// kept as its time prefix (shared by every line of the same second) and its
// raw bytes, a third of its text; its text is made when it is read.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class LogStore {
 public:
  void Append(std::string_view line);
  // The line `prefix` + the hex text of `frame` ("68 00 16 ").
  void AppendTelegram(std::string_view prefix, std::string_view frame);
  void Clear();

  size_t Count() const { return m_refs.size(); }
  std::string Line(size_t index) const;
  // The text of line `index`: in the store, or made in `scratch`.
  std::string_view LineView(size_t index, std::string& scratch) const;
  // The longest line held, in characters (for the horizontal scroll range).
  size_t MaxLength() const { return m_maxLength; }
  // Bytes held for the lines and their references.
  size_t MemoryBytes() const;

 private:
  static constexpr size_t kBlockSize = 1 << 20;
  static constexpr std::uint32_t kTelegram = 0x80000000u;  // in Ref::length
  struct Ref {
    std::uint32_t block;
    std::uint32_t offset;
    std::uint32_t length;  // bytes held; kTelegram set: a prefix index, then the frame
  };
  struct Block {
    std::unique_ptr<char[]> data;
    size_t size = 0;
    size_t used = 0;
  };
  char* Reserve(size_t bytes);
  std::uint32_t PrefixIndex(std::string_view prefix);
  std::string_view Prefix(std::uint32_t index) const;

  std::vector<Block> m_blocks;
  std::vector<Ref> m_refs;
  std::string m_prefixChars;                  // every distinct prefix, one after the other
  std::vector<std::uint32_t> m_prefixStarts;  // where each starts in m_prefixChars
  size_t m_maxLength = 0;
};
