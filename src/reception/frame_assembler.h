#pragma once
// Cuts frames (0x68, L, L bytes, 0x16) out of the received byte stream.
// The bytes of each receive event are fed in as they come; every complete
// frame in the buffer is handed on, in order, within the same event.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class FrameAssembler {
 public:
  static constexpr std::uint8_t kStartByte = 0x68;
  static constexpr std::uint8_t kEndByte = 0x16;
  static constexpr size_t kBufferCap = 512;

  struct Counters {
    std::uint64_t framesCut = 0;
    std::uint64_t noiseBytes = 0;    // dropped while searching for a start byte
    std::uint64_t resyncs = 0;       // start bytes dropped for a bad end byte
    std::uint64_t overflows = 0;     // buffer discarded past the cap
    std::uint64_t decodeErrors = 0;  // errors that escaped the frame handler
  };

  using FrameHandler = std::function<void(std::string_view frame)>;

  // Appends `chunk` and hands every complete frame to `onFrame`. An exception
  // thrown by `onFrame` empties the buffer (frame positions included), is
  // counted, and propagates to the caller.
  void Feed(std::string_view chunk, const FrameHandler& onFrame);

  // Empties the buffer and the frame positions (after an error elsewhere in
  // the receive path).
  void Reset();

  const Counters& Stats() const { return m_counters; }
  void CountDecodeError() { ++m_counters.decodeErrors; }
  size_t Buffered() const { return m_buffer.size() - m_head; }
  // 1-based position of the held start byte in the pending bytes, 0 if none.
  size_t FrameStart() const { return m_frameStart ? m_frameStart - m_head : 0; }

 private:
  void Compact();

  std::string m_buffer;
  size_t m_head = 0;        // bytes before m_head are consumed
  size_t m_frameStart = 0;  // 1-based position in m_buffer, 0 while searching
  Counters m_counters;
};
