#pragma once
// SimulatorRunner: the simulated Korvex with its repeater and meters, played
// on a thread of its own on a line: by default the master side of a
// pseudo-terminal, or queues in this process behind the serial device
// interface (in_process_korvex.h). The program (GUI, CLI --simulate, tests)
// opens SlavePath() exactly like a real port.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "repeater.h"
#include "sim_line.h"
#include "wmbus_codec.h"

namespace sim {

struct SimOptions {
  std::string repeaterId = "12345678";
  // Further repeaters within reach of the Korvex, each with its own state
  // (provisioning a batch). The meters are around the first one.
  std::vector<std::string> moreRepeaterIds;
  // Settings a repeater keeps whatever it is told: (ID, setting).
  std::vector<std::pair<std::string, StuckSetting>> stuck;
  int meters = 12;
  int intervalMs = 1000;  // mean time between meter transmissions
  std::uint64_t seed = 1;
  int baud = 0;                // pace the bytes like a line at this rate; 0: as fast as the reader takes them
  double noise = 0;            // probability of random bytes ahead of a frame
  bool chunks = false;         // frames in random pieces with random gaps
  double badFrames = 0;        // probability of a wrong end byte
  long long count = 0;         // meter telegrams to send before finishing; 0: no end
  std::string recordPath;      // every byte sent to the program is appended here
  std::string replayPath;      // send this capture instead of generated traffic
  std::string linkPath;        // a symbolic link to the slave, removed at the end
  int answerDelayMinMs = 150;  // the repeater answers this long after a command ...
  int answerDelayMaxMs = 400;  // ... at most this long
  int quietMs = 500;           // a line quiet this long ends a half frame and configuration mode
  int promptDelayMs = 0;       // the Korvex answers ">" this long after the request
  int dropPrompt = 0;          // this prompt of the run (1 = the first) is never answered; 0: none
  double miss = 0;             // probability that the repeater does not hear a command
  bool deaf = false;           // the repeater hears no command at all (and so never answers)
  std::optional<CivilTime> startTime;  // the repeater's clock at start (default: the PC's local time)
  // Receives one line per byte stream from the program (hex and what the
  // simulator made of it) and per event worth knowing. Called on the
  // simulator's thread.
  std::function<void(const std::string& line)> log;
  // Called on the simulator's thread right after the last byte of a piece
  // (a frame with any noise ahead of it, a chunk, a prompt) went onto the
  // line, with the piece's bytes: the line-rate benchmark times the way from
  // here to the window. Keep it short; the line waits meanwhile.
  std::function<void(const std::string& bytes)> pieceWritten;
};

struct SimStats {
  std::uint64_t telegramsSent = 0;  // meter telegrams put on the line (each copy counts)
  std::uint64_t framesSent = 0;     // every frame, repeater answers and replayed frames included
  std::uint64_t bytesSent = 0;
  std::uint64_t bytesReceived = 0;
  std::uint64_t commandFrames = 0;   // command frames the Korvex took from the line
  std::uint64_t answers = 0;         // repeater answers put on the line
  std::uint64_t prompts = 0;         // ">" sent
  std::uint64_t promptsDropped = 0;  // ">" left unanswered (--drop-prompt)
  std::uint64_t commandsMissed = 0;  // command frames the repeater did not hear (--miss, --deaf)
  std::uint64_t quietTimeouts = 0;   // configuration mode or a half frame ended by a quiet line
  std::uint64_t dropped = 0;         // meter telegrams not forwarded (configuration mode, device pulled out)
};

class SimulatorRunner {
 public:
  // Without a line: on a pseudo-terminal.
  explicit SimulatorRunner(SimOptions options, std::unique_ptr<SimLine> line = nullptr);
  ~SimulatorRunner();  // stops and joins
  SimulatorRunner(const SimulatorRunner&) = delete;
  SimulatorRunner& operator=(const SimulatorRunner&) = delete;

  // Opens the line (the pseudo-terminal and the link), the record and replay
  // files, and starts the thread. False with a reason when anything cannot be opened.
  bool Start(std::string* error);
  // Stops the thread, closes the pseudo-terminal, removes the link. Idempotent.
  void Stop();

  // Where the program opens the device: the pseudo-terminal's slave, or the
  // in-process device's name.
  std::string SlavePath() const;
  // The first repeater's present ID (it changes with a NewId command).
  std::string RepeaterId() const;
  SimStats Stats() const;
  RepeaterState Repeater() const;
  // Every repeater, the first one first.
  std::vector<RepeaterState> Repeaters() const;
  std::array<std::uint8_t, 256> KorvexMemory() const;

  // --count telegrams sent (or the replay played) and read by the program.
  bool Finished() const;
  bool WaitFinished(int limitMs) const;
  // Waits until the stats satisfy `test`, at most `limitMs`.
  bool WaitFor(const std::function<bool(const SimStats&)>& test, int limitMs) const;

  // The device is pulled out: the line closes under the program (its reads
  // fail, its wait reports the loss) and the link goes away.
  void Unplug();
  // ... and put back: a new pseudo-terminal with the link pointing at it, or
  // the in-process device openable again. The repeater keeps its state; the
  // Korvex starts afresh.
  bool Replug(std::string* error);

 private:
  struct Engine;
  void Run();
  bool PlugIn(std::string* error);
  std::vector<std::string> AllRepeaterIds() const;
  void PullOut();
  void Wake();
  static constexpr int kUnplug = 1;
  static constexpr int kReplug = 2;
  bool Request(int kind, std::string* error);
  void ServeRequest();
  void DoUnplug();
  bool DoReplug(std::string* error);

  SimOptions m_options;
  std::unique_ptr<SimLine> m_line;
  std::unique_ptr<Engine> m_engine;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::thread m_thread;
  bool m_stop = false;
  bool m_running = false;
  int m_request = 0;
  std::uint64_t m_requestTicket = 0;
  std::uint64_t m_requestDone = 0;
  bool m_requestOk = false;
  std::string m_requestError;
};

}  // namespace sim
