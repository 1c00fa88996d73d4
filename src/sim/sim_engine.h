#pragma once
// The simulator's state and its steps, run by SimulatorRunner's thread under
// its lock: traffic and answers scheduled as events, the bytes queued for the
// line and written at the line's pace, the program's bytes fed to the Korvex.
// Only the simulator's own files include this.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "korvex.h"
#include "sim_line.h"
#include "sim_runner.h"
#include "traffic.h"

namespace sim {

inline constexpr size_t kOutCap = 4096;    // generation waits while this much is queued for the line
inline constexpr size_t kMaxEvents = 64;   // ... and while this many transmissions wait for their time
inline constexpr int kHungRetryMs = 100;   // how often a hung-up line is looked at again
inline constexpr int kDrainPollMs = 20;    // how often the slave's input queue is looked at when finishing
inline constexpr int kDrainSettleMs = 60;  // ... and how long it must stay empty
// A paced line reads no more ahead than this: the program's writes block.
inline constexpr size_t kInCap = 4096;
inline constexpr std::uint64_t kFaultStream = 0x6661756C74730000ull;
inline constexpr std::uint64_t kAnswerStream = 0x616E737765720000ull;
inline constexpr std::uint64_t kMissStream = 0x6D69737300000000ull;

struct SimulatorRunner::Engine {
  enum class Kind { Traffic, Answer, Replay };
  struct Event {
    Kind kind;
    Bytes frame;
  };
  struct OutPiece {
    std::int64_t atMs;
    Bytes bytes;
    size_t sent = 0;      // bytes already on the line
    bool prompt = false;  // the Korvex's ">"
  };

  Engine(const SimOptions& o, std::int64_t startLocal)
      : options(o),
        repeater(RepeaterState{}, startLocal),
        traffic(o.seed, o.meters, o.intervalMs, o.repeaterId),
        faults(o.seed ^ kFaultStream, FaultOptions{o.noise, o.badFrames, o.chunks}),
        answerRng(o.seed ^ kAnswerStream),
        missRng(o.seed ^ kMissStream),
        startLocalSeconds(startLocal) {}

  const SimOptions& options;
  SimRepeater repeater;
  std::vector<SimRepeater> others;  // --repeaters beyond the first
  TrafficGenerator traffic;
  FaultInjector faults;
  SimRandom answerRng;
  SimRandom missRng;
  KorvexTransceiver korvex;
  std::int64_t startLocalSeconds;
  std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();

  SimLine* line = nullptr;  // the runner's
  bool plugged = false;
  bool hung = false;
  bool blockedOut = false;  // the last write found the line full

  std::deque<OutPiece> out;
  size_t outBytes = 0;
  std::int64_t lastQueuedAt = 0;
  std::multimap<std::int64_t, Event> events;
  std::vector<Event> held;  // answers that came due in configuration mode
  std::int64_t nextBurstMs = 0;
  std::int64_t lineFreeAtUs = 0;
  std::int64_t lastInputMs = 0;
  // Bytes from the program still on their way over a paced line: the first
  // of them is in at inFirstDoneUs, each further one a byte time later.
  Bytes inFlight;
  std::int64_t inFirstDoneUs = 0;
  std::int64_t inLastDoneUs = 0;
  std::uint64_t promptsAsked = 0;

  std::vector<Bytes> replayUnits;
  size_t replayNext = 0;
  bool replay = false;

  std::FILE* record = nullptr;
  SimStats stats;
  bool sourceDone = false;  // --count reached or the capture played
  bool finished = false;
  std::int64_t drainedSince = -1;
  std::vector<std::string> logLines;

  std::int64_t NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
        .count();
  }
  std::int64_t LocalSeconds(std::int64_t nowMs) const { return startLocalSeconds + nowMs / 1000; }
  std::int64_t ByteUs() const { return options.baud > 0 ? 10'000'000 / options.baud : 0; }
  bool TrafficHeld() const { return korvex.CurrentMode() != KorvexTransceiver::Mode::Idle; }
  void Log(std::string line) {
    if (options.log) logLines.push_back(std::move(line));
  }

  // The steps of one turn of the loop, in this order.
  void DeliverArrived(std::int64_t now);
  void Quiet(std::int64_t now);
  void Generate(std::int64_t now);
  void MoveDueEvents(std::int64_t now);
  void WriteOut(std::int64_t now);

  // Bytes read from the program. On a paced line they reach the Korvex one
  // byte time after another, as they would come off a real line.
  void Arrive(const Bytes& bytes, std::int64_t now);
  void Input(const Bytes& bytes, std::int64_t now);

  void Queue(const std::vector<Piece>& pieces, std::int64_t now, bool prompt = false);
  // `keepStarted`: a frame already partly on the line is finished first, as
  // a device's UART would; the program has to tell its rest from a prompt.
  void DiscardOutput(const char* why, bool keepStarted = false);

  // Milliseconds until something is due, -1 for nothing.
  int Timeout(std::int64_t now) const;
};

}  // namespace sim
