#pragma once
// The radio traffic the Korvex passes to the PC, made from a seed so that the
// same seed gives the same bytes; the faults a real line adds; and captures
// (recorded or from the field) cut back into what was sent at once.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "meters.h"
#include "sim_random.h"
#include "wmbus_codec.h"

namespace sim {

// One meter transmission as the Korvex hears it.
struct Burst {
  int gapMs = 0;          // since the previous burst
  Bytes direct;           // frame heard straight from the meter
  Bytes repeated;         // frame heard from the repeater (empty when it does not repeat)
  int repeatDelayMs = 0;  // the repeater sends its copy this long after the meter
};

class TrafficGenerator {
 public:
  TrafficGenerator(std::uint64_t seed, int meterCount, int intervalMs, const std::string& repeaterId);

  // The next transmission; `repeaterOn` says whether the repeater repeats now.
  Burst Next(bool repeaterOn);

  const std::vector<SimMeter>& Meters() const { return m_meters; }
  bool IsMeterId(const std::string& id) const;

 private:
  SimRandom m_rng;
  std::vector<SimMeter> m_meters;
  int m_intervalMs;
};

struct FaultOptions {
  double noise = 0;      // probability of random bytes ahead of a frame
  double badFrames = 0;  // probability of a wrong end byte
  bool chunks = false;   // deliver frames in random pieces with random gaps
};

// A piece of bytes to put on the line, not before `delayMs` after the previous piece.
struct Piece {
  int delayMs = 0;
  Bytes bytes;
};

class FaultInjector {
 public:
  FaultInjector(std::uint64_t seed, FaultOptions options) : m_rng(seed), m_options(options) {}
  // The pieces that carry `frame` (and any noise) onto the line. With
  // `corrupt` false only the chunking applies (prompts, replayed captures).
  std::vector<Piece> Apply(const Bytes& frame, bool corrupt = true);

 private:
  SimRandom m_rng;
  FaultOptions m_options;
};

// A capture: raw bytes as they came from a line, or hex text (what --record
// writes is raw; hex is accepted for hand-made files). Nothing on a file that
// cannot be read.
std::optional<Bytes> LoadCapture(const std::string& path, std::string* error);

// The capture a file's content stands for: hex text when it is one, else
// the raw bytes themselves.
Bytes CaptureFromContent(Bytes raw);

// Cuts a capture into the units that went out at once: each whole frame
// (0x68, L, ..., 0x16 at its place) on its own, the bytes between frames as
// units of their own. Joined together the units give the capture back.
std::vector<Bytes> SplitCapture(const Bytes& capture);

}  // namespace sim
