#pragma once
// Helpers of the simulator tests: command frames laid out byte by byte as the
// program sends them, the program's own receive path with fixed time texts,
// and a reader on the slave side of the simulator's pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "command_frame.h"
#include "local_formats.h"
#include "log_sink.h"
#include "receive_handler.h"
#include "repeater_answer.h"
#include "sim_runner.h"
#include "string_grid.h"
#include "telegram_decoder.h"

namespace simtest {

constexpr int kLimitMs = 15000;

// A simulator that sends meter traffic flat out and answers within 5-20 ms.
inline sim::SimOptions FastOptions(std::uint64_t seed) {
  sim::SimOptions o;
  o.seed = seed;
  o.intervalMs = 0;
  o.answerDelayMinMs = 5;
  o.answerDelayMaxMs = 20;
  o.startTime = sim::CivilTime{2026, 12, 7, 9, 7, 30};
  return o;
}

inline std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// A frame exactly as the program builds it (a fresh program: access number 1).
inline std::string ProgramFrame(CommandKind kind, const CommandControls& controls,
                                std::string_view data = {}) {
  CommandState state;
  IdToBcd(controls.repeaterId, state.repeaterAddress);
  FixedClock clock(LocalTime{2026, 12, 7, 9, 7, 30});
  VectorLogSink log;
  return BuildCommandFrame(kind, data, FrameInputs{controls, clock, log}, state);
}

// The program's frame carrying `records` as they stand (its custom data command)
// to repeater `id`: 68 L 06 8D 59 id 03 00 N 7A 01 00 00 00 records 16.
inline std::string CommandFrame(const std::string& id, const std::string& records, bool bare = false) {
  CommandControls controls;
  controls.repeaterId = id;
  controls.bmt = bare;
  return ProgramFrame(CommandKind::CustomData, controls, records);
}

inline const std::string kRepeater = "12345678";

// The program's receive path: frames -> DecodeTelegram, with the repeater's
// frames going to DecodeRepeaterAnswer. Date "dd.MM.yyyy", time "HH:mm:ss".
struct ProgramSide {
  ProgramSide()
      : clock(LocalTime{2026, 12, 7, 9, 7, 30}),
        formats(QString("dd.MM.yyyy"), QString("HH:mm:ss"), QChar('.')),
        time(clock, formats),
        table(MakeTelegramTable()),
        handler(TelegramContext{log, table, time,
                                [this](std::string_view frame) { DecodeRepeaterAnswer(frame, log, time); },
                                [this](const std::string& s) { status = s; }, [](int) {}}) {}

  void Feed(std::string_view bytes) { handler.ReceiveBytes(bytes, options); }

  FixedClock clock;
  LocalFormats formats;
  TimeTexts time;
  VectorLogSink log;
  StringGrid table;
  std::string status;
  DecodeOptions options;
  ReceiveHandler handler;
};

// Opens a pseudo-terminal slave the way a serial port is opened: raw, no
// controlling terminal, non-blocking.
inline int OpenSlave(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

// Reads from `fd` until `done(bytes so far)` or the time limit; returns what was read.
inline std::string ReadUntil(int fd, const std::function<bool(const std::string&)>& done, int limitMs) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  char buf[4096];
  while (!done(got)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    // Short slices: `done` may turn true without any byte arriving.
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 50))) <= 0) continue;
    if (p.revents & (POLLHUP | POLLERR)) break;
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

inline bool WriteAll(int fd, const std::string& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) {
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, 1000);
        continue;
      }
      return false;
    }
    at += static_cast<size_t>(n);
  }
  return true;
}

// Lines from the first that starts with `prefix` on (empty when none does).
inline std::vector<std::string> LinesFrom(const std::vector<std::string>& lines, const std::string& prefix) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].rfind(prefix, 0) == 0) return {lines.begin() + static_cast<long>(i), lines.end()};
  return {};
}

// True when a line equals `text` (or, with `prefix`, starts with it).
inline bool HasLine(const std::vector<std::string>& lines, const std::string& text, bool prefix = false) {
  for (const auto& l : lines)
    if (prefix ? l.rfind(text, 0) == 0 : l == text) return true;
  return false;
}

}  // namespace simtest
