#include "log_store.h"

#include <algorithm>
#include <cstring>

void LogStore::Append(std::string_view line) {
  if (m_blocks.empty() || m_blocks.back().size - m_blocks.back().used < line.size()) {
    Block block;
    block.size = std::max(kBlockSize, line.size());
    block.data.reset(new char[block.size]);
    m_blocks.push_back(std::move(block));
  }
  Block& block = m_blocks.back();
  if (!line.empty()) std::memcpy(block.data.get() + block.used, line.data(), line.size());
  m_refs.push_back({static_cast<std::uint32_t>(m_blocks.size() - 1), static_cast<std::uint32_t>(block.used),
                    static_cast<std::uint32_t>(line.size())});
  block.used += line.size();
  m_maxLength = std::max(m_maxLength, line.size());
}

void LogStore::Clear() {
  m_blocks.clear();
  m_refs.clear();
  m_refs.shrink_to_fit();
  m_maxLength = 0;
}

std::string_view LogStore::Line(size_t index) const {
  const Ref& r = m_refs.at(index);
  return std::string_view(m_blocks[r.block].data.get() + r.offset, r.length);
}

size_t LogStore::MemoryBytes() const {
  size_t bytes = m_refs.capacity() * sizeof(Ref);
  for (const Block& b : m_blocks) bytes += b.size;
  return bytes;
}
