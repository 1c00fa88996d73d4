#include "log_store.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "hex.h"

char* LogStore::Reserve(size_t bytes) {
  if (m_blocks.empty() || m_blocks.back().size - m_blocks.back().used < bytes) {
    Block block;
    block.size = std::max(kBlockSize, bytes);
    block.data.reset(new char[block.size]);
    m_blocks.push_back(std::move(block));
  }
  Block& block = m_blocks.back();
  char* at = block.data.get() + block.used;
  m_refs.push_back({static_cast<std::uint32_t>(m_blocks.size() - 1), static_cast<std::uint32_t>(block.used),
                    static_cast<std::uint32_t>(bytes)});
  block.used += bytes;
  return at;
}

void LogStore::Append(std::string_view line) {
  // Longer lines than a length field holds are cut there; none comes near it.
  line = line.substr(0, kTelegram - 1);
  char* at = Reserve(line.size());
  if (!line.empty()) std::memcpy(at, line.data(), line.size());
  m_maxLength = std::max(m_maxLength, line.size());
}

std::uint32_t LogStore::PrefixIndex(std::string_view prefix) {
  // Lines come in time order: the prefix is the last one or, between the
  // lines of a wrongly addressed frame, the one before it.
  const size_t n = m_prefixStarts.size();
  for (size_t back = 1; back <= std::min<size_t>(n, 2); ++back)
    if (Prefix(static_cast<std::uint32_t>(n - back)) == prefix) return static_cast<std::uint32_t>(n - back);
  m_prefixStarts.push_back(static_cast<std::uint32_t>(m_prefixChars.size()));
  m_prefixChars.append(prefix);
  return static_cast<std::uint32_t>(n);
}

std::string_view LogStore::Prefix(std::uint32_t index) const {
  const size_t start = m_prefixStarts[index];
  const size_t end = index + 1 < m_prefixStarts.size() ? m_prefixStarts[index + 1] : m_prefixChars.size();
  return std::string_view(m_prefixChars).substr(start, end - start);
}

void LogStore::AppendTelegram(std::string_view prefix, std::string_view frame) {
  if (m_prefixChars.size() + prefix.size() >= kTelegram || frame.size() > 0xFFFF) {
    // Out of what the compact form holds (never at a real site): as text.
    std::string line(prefix);
    AppendHexText(line, frame);
    Append(line);
    return;
  }
  const std::uint32_t index = PrefixIndex(prefix);
  char* at = Reserve(sizeof index + frame.size());
  std::memcpy(at, &index, sizeof index);
  if (!frame.empty()) std::memcpy(at + sizeof index, frame.data(), frame.size());
  m_refs.back().length |= kTelegram;
  m_maxLength = std::max(m_maxLength, prefix.size() + 3 * frame.size());
}

void LogStore::Clear() {
  m_blocks.clear();
  m_refs.clear();
  m_refs.shrink_to_fit();
  m_prefixChars.clear();
  m_prefixChars.shrink_to_fit();
  m_prefixStarts.clear();
  m_prefixStarts.shrink_to_fit();
  m_maxLength = 0;
}

std::string_view LogStore::LineView(size_t index, std::string& scratch) const {
  const Ref& r = m_refs.at(index);
  const char* data = m_blocks[r.block].data.get() + r.offset;
  if (!(r.length & kTelegram)) return std::string_view(data, r.length);
  std::uint32_t prefix = 0;
  std::memcpy(&prefix, data, sizeof prefix);
  scratch.assign(Prefix(prefix));
  AppendHexText(scratch, std::string_view(data + sizeof prefix, (r.length & ~kTelegram) - sizeof prefix));
  return scratch;
}

std::string LogStore::Line(size_t index) const {
  std::string scratch;
  const std::string_view line = LineView(index, scratch);
  if (line.data() != scratch.data()) scratch.assign(line);
  return scratch;
}

size_t LogStore::MemoryBytes() const {
  size_t bytes = m_refs.capacity() * sizeof(Ref) + m_prefixChars.capacity() +
                 m_prefixStarts.capacity() * sizeof(std::uint32_t);
  for (const Block& b : m_blocks) bytes += b.size;
  return bytes;
}
