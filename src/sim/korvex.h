#pragma once
// The simulated Korvex's side of the line from the PC: its configuration
// mode with the parameter memory, and the command frames it sends on to the
// repeater (framed 0x68 .. 0x16, or bare as the "BMT" box sends them).
// Bytes come in any chunking; everything is parsed as one stream.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "wmbus_codec.h"

namespace sim {

class KorvexTransceiver {
 public:
  static constexpr std::uint8_t kPrompt = '>';

  enum class Mode { Idle, Config, Address, Value, Written };

  // What one call of Feed produced.
  struct Output {
    Bytes prompts;                     // bytes to send back at once (">")
    std::vector<Bytes> commandFrames;  // whole frames in the framed layout (0x68 L .. 0x16)
    std::vector<std::string> notes;    // what the transceiver made of the bytes, for the log
  };

  // Takes the next bytes from the PC.
  Output Feed(std::string_view bytes);

  // The line has been quiet for a while: a half-received frame is dropped and
  // configuration mode times out, as the device's own inter-byte timer does.
  Output Idle();

  Mode CurrentMode() const { return m_mode; }
  bool HasPartialInput() const { return !m_pending.empty(); }
  const std::array<std::uint8_t, 256>& Memory() const { return m_memory; }
  // The repeater ID in the parameter memory (addresses 27-30, most significant first).
  std::string MemoryRepeaterId() const;

 private:
  // False when `b` is no configuration step (the mode is left then).
  bool ConfigByte(std::uint8_t b, Output& out);
  void ParseFrames(Output& out, bool quiet);
  void Drop(size_t n, const char* why, Output& out);
  void FlushNoise(Output& out);

  Mode m_mode = Mode::Idle;
  std::uint8_t m_address = 0;
  std::array<std::uint8_t, 256> m_memory{};
  Bytes m_pending;  // frame bytes not yet complete
  Bytes m_noise;    // dropped bytes not yet reported
};

}  // namespace sim
