#include "frame_assembler.h"

#include <cstring>

void FrameAssembler::Reset() {
  m_buffer.clear();
  m_head = 0;
  m_frameStart = 0;
}

void FrameAssembler::Compact() {
  if (m_head == 0) return;
  if (m_frameStart) m_frameStart -= m_head;
  m_buffer.erase(0, m_head);
  m_head = 0;
}

void FrameAssembler::Feed(std::string_view chunk, const FrameHandler& onFrame) {
  m_buffer.append(chunk.data(), chunk.size());
  try {
    for (;;) {
      if (m_frameStart == 0) {
        // Searching: everything ahead of the next start byte is noise and can
        // never become part of a frame.
        const void* hit = std::memchr(m_buffer.data() + m_head, kStartByte, m_buffer.size() - m_head);
        if (!hit) {
          m_counters.noiseBytes += m_buffer.size() - m_head;
          m_head = m_buffer.size();
          break;
        }
        const size_t pos = static_cast<size_t>(static_cast<const char*>(hit) - m_buffer.data());
        m_counters.noiseBytes += pos - m_head;
        m_head = pos;
        m_frameStart = pos + 1;
      }
      const size_t start = m_frameStart - 1;  // 0-based
      if (m_buffer.size() <= start + 1) break;  // length byte not here yet
      const size_t length = static_cast<std::uint8_t>(m_buffer[start + 1]);
      const size_t end = start + length + 2;  // 0-based position of the end byte
      if (end >= m_buffer.size()) break;      // end position not here yet
      if (static_cast<std::uint8_t>(m_buffer[end]) != kEndByte) {
        // Not a frame after all: drop this start byte and look for the next
        // one right behind it, so good frames that follow are not held up.
        ++m_counters.resyncs;
        m_frameStart = 0;
        m_head = start + 1;
        continue;
      }
      const std::string_view frame(m_buffer.data() + start, length + 3);
      m_head = end + 1;
      m_frameStart = 0;
      ++m_counters.framesCut;
      onFrame(frame);
    }
  } catch (...) {
    Reset();
    throw;
  }
  Compact();
  if (m_buffer.size() > kBufferCap) {
    ++m_counters.overflows;
    Reset();
  }
}
