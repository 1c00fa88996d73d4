#pragma once
// The log window's lines, kept compactly: a busy site writes a million lines
// a day, so each line costs its characters plus a small reference, and
// appending never copies the lines already held.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class LogStore {
 public:
  void Append(std::string_view line);
  void Clear();

  size_t Count() const { return m_refs.size(); }
  std::string_view Line(size_t index) const;
  // The longest line held, in characters (for the horizontal scroll range).
  size_t MaxLength() const { return m_maxLength; }
  // Bytes held for the lines and their references.
  size_t MemoryBytes() const;

 private:
  static constexpr size_t kBlockSize = 1 << 20;
  struct Ref {
    std::uint32_t block;
    std::uint32_t offset;
    std::uint32_t length;
  };
  struct Block {
    std::unique_ptr<char[]> data;
    size_t size = 0;
    size_t used = 0;
  };
  std::vector<Block> m_blocks;
  std::vector<Ref> m_refs;
  size_t m_maxLength = 0;
};
