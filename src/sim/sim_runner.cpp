#include "sim_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "korvex.h"
#include "traffic.h"

namespace sim {

namespace {

constexpr size_t kOutCap = 4096;    // generation waits while this much is queued for the line
constexpr size_t kMaxEvents = 64;   // ... and while this many transmissions wait for their time
constexpr int kHungRetryMs = 100;   // how often a hung-up line is looked at again
constexpr int kDrainPollMs = 20;    // how often the slave's input queue is looked at when finishing
constexpr int kDrainSettleMs = 60;  // ... and how long it must stay empty
constexpr std::uint64_t kFaultStream = 0x6661756C74730000ull;
constexpr std::uint64_t kAnswerStream = 0x616E737765720000ull;
constexpr std::uint64_t kMissStream = 0x6D69737300000000ull;
constexpr size_t kInCap = 4096;  // a paced line reads no more ahead than this: the program's writes block

void MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;
  cfmakeraw(&tio);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &tio);
}

void SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Points `link` at `target`, replacing what is there, in one step for readers.
bool PointLink(const std::string& link, const std::string& target, std::string* error) {
  const std::string tmp = link + ".tmp" + std::to_string(getpid());
  unlink(tmp.c_str());
  if (symlink(target.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0) {
    if (error) *error = "cannot make link " + link + ": " + std::strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

// Removes `link` only while it is ours: a symbolic link to `target`.
void RemoveLink(const std::string& link, const std::string& target) {
  char buf[4096];
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n > 0 && std::string(buf, static_cast<size_t>(n)) == target) unlink(link.c_str());
}

}  // namespace

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

  int master = -1;
  int slave = -1;  // held open so that the program may close and reopen its side
  std::string slavePath;
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
  void Log(std::string line) {
    if (options.log) logLines.push_back(std::move(line));
  }

  void Queue(const std::vector<Piece>& pieces, std::int64_t now, bool prompt = false) {
    for (const Piece& p : pieces) {
      const std::int64_t at = std::max(now, lastQueuedAt) + p.delayMs;
      lastQueuedAt = at;
      outBytes += p.bytes.size();
      out.push_back({at, p.bytes, 0, prompt});
    }
  }

  // `keepStarted`: a frame already partly on the line is finished first, as
  // a device's UART would; the program has to tell its rest from a prompt.
  void DiscardOutput(const char* why, bool keepStarted = false) {
    std::deque<OutPiece> kept;
    size_t keptBytes = 0;
    if (keepStarted && !out.empty() && out.front().sent > 0) {
      keptBytes = out.front().bytes.size() - out.front().sent;
      kept.push_back(std::move(out.front()));
    }
    if (outBytes > keptBytes)
      Log(std::string("discarded ") + std::to_string(outBytes - keptBytes) + " queued bytes (" + why + ")");
    out = std::move(kept);
    outBytes = keptBytes;
  }

  std::int64_t ByteUs() const { return options.baud > 0 ? 10'000'000 / options.baud : 0; }

  // Bytes read from the program. On a paced line they reach the Korvex one
  // byte time after another, as they would come off a real line.
  void Arrive(const Bytes& bytes, std::int64_t now) {
    if (options.baud <= 0) {
      Input(bytes, now);
      return;
    }
    if (inFlight.empty()) inFirstDoneUs = std::max(now * 1000, inLastDoneUs) + ByteUs();
    inFlight += bytes;
  }

  void DeliverArrived(std::int64_t now) {
    if (inFlight.empty()) return;
    const std::int64_t nowUs = now * 1000;
    if (nowUs < inFirstDoneUs) return;
    const size_t n = std::min(inFlight.size(), static_cast<size_t>((nowUs - inFirstDoneUs) / ByteUs()) + 1);
    const Bytes in = inFlight.substr(0, n);
    inFlight.erase(0, n);
    inLastDoneUs = inFirstDoneUs + static_cast<std::int64_t>(n - 1) * ByteUs();
    inFirstDoneUs = inLastDoneUs + ByteUs();
    Input(in, now);
  }

  bool TrafficHeld() const { return korvex.CurrentMode() != KorvexTransceiver::Mode::Idle; }

  void Generate(std::int64_t now) {
    if (!plugged || sourceDone) return;
    while (now >= nextBurstMs && outBytes < kOutCap && events.size() < kMaxEvents && !sourceDone) {
      if (replay) {
        if (replayNext >= replayUnits.size()) {
          sourceDone = true;
          break;
        }
        events.emplace(nextBurstMs, Event{Kind::Replay, replayUnits[replayNext++]});
        nextBurstMs += options.intervalMs;
      } else {
        const Burst b = traffic.Next(repeater.Repeating(LocalSeconds(now)));
        events.emplace(nextBurstMs, Event{Kind::Traffic, b.direct});
        // Flat out (interval 0) the repeater's copy follows straight on, so
        // that a --count run carries both copies of each telegram.
        const int delay = options.intervalMs == 0 ? 0 : b.repeatDelayMs;
        if (!b.repeated.empty()) events.emplace(nextBurstMs + delay, Event{Kind::Traffic, b.repeated});
        nextBurstMs += b.gapMs;
      }
      // A reader that stalled for long gets no flood of old traffic when it comes back.
      if (nextBurstMs < now - 1000) nextBurstMs = now;
    }
  }

  void MoveDueEvents(std::int64_t now) {
    if (!held.empty() && plugged && !TrafficHeld()) {
      for (const Event& h : held) {
        Queue(faults.Apply(h.frame), now);
        ++stats.framesSent;
        ++stats.answers;
      }
      held.clear();
    }
    while (!events.empty() && events.begin()->first <= now) {
      Event e = std::move(events.begin()->second);
      events.erase(events.begin());
      if (e.kind == Kind::Traffic && sourceDone) continue;
      // A pulled-out device sends nothing. In configuration mode the Korvex
      // forwards no radio traffic: the PC reads prompts then. A repeater
      // answer is held back until the mode ends rather than lost.
      if (!plugged) {
        ++stats.dropped;
        continue;
      }
      if (TrafficHeld()) {
        if (e.kind == Kind::Answer) {
          held.push_back(std::move(e));
        } else {
          ++stats.dropped;
        }
        continue;
      }
      Queue(faults.Apply(e.frame, e.kind != Kind::Replay), now);
      ++stats.framesSent;
      if (e.kind == Kind::Answer) ++stats.answers;
      if (e.kind == Kind::Traffic) {
        ++stats.telegramsSent;
        if (options.count > 0 && stats.telegramsSent >= static_cast<std::uint64_t>(options.count)) {
          sourceDone = true;
          Log("sent " + std::to_string(stats.telegramsSent) + " telegrams, --count reached");
        }
      }
    }
  }

  void WriteOut(std::int64_t now) {
    blockedOut = false;
    while (plugged && !hung && !out.empty() && out.front().atMs <= now) {
      OutPiece& piece = out.front();
      const std::int64_t nowUs = now * 1000;
      size_t n = piece.bytes.size() - piece.sent;
      if (options.baud > 0) {
        if (nowUs < lineFreeAtUs) break;
        // About 5 ms of line time per write keeps the pace without a wake-up per byte.
        const size_t perWrite = std::max<size_t>(1, static_cast<size_t>(options.baud) / 2000);
        n = std::min(n, perWrite);
      }
      const ssize_t w = ::write(master, piece.bytes.data() + piece.sent, n);
      if (w < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          blockedOut = true;
        } else {
          hung = true;
          Log(std::string("line write failed: ") + std::strerror(errno));
        }
        break;
      }
      const size_t written = static_cast<size_t>(w);
      if (record) std::fwrite(piece.bytes.data() + piece.sent, 1, written, record);
      stats.bytesSent += written;
      outBytes -= written;
      if (options.baud > 0)
        lineFreeAtUs =
            std::max(lineFreeAtUs, nowUs) + static_cast<std::int64_t>(written) * 10'000'000 / options.baud;
      // An offset rather than erasing the front: a paced line writes a
      // frame in several pieces and would move the rest each time.
      piece.sent += written;
      if (piece.sent == piece.bytes.size()) {
        if (options.pieceWritten) options.pieceWritten(piece.bytes);
        // The Korvex waits for the next step from its prompt on, not from the request.
        if (piece.prompt) lastInputMs = std::max(lastInputMs, now);
        out.pop_front();
      }
    }
    if (record) std::fflush(record);
  }

  void Input(const Bytes& bytes, std::int64_t now) {
    stats.bytesReceived += bytes.size();
    lastInputMs = now;
    const auto result = korvex.Feed(bytes);
    std::string line = "received " + HexText(bytes) + "->";
    for (const auto& n : result.notes) line += " " + n + ";";
    if (!result.prompts.empty()) {
      // A Korvex in configuration mode forwards no radio traffic. What is
      // already on the line (or in the program's queue) stays there: the
      // program must take the prompt from behind it, as on a real line.
      DiscardOutput("configuration mode", true);
      lastQueuedAt = now;
      Bytes answered;
      for (char p : result.prompts) {
        if (++promptsAsked == static_cast<std::uint64_t>(std::max(options.dropPrompt, 0))) {
          ++stats.promptsDropped;
          line += " prompt " + std::to_string(promptsAsked) + " not answered (--drop-prompt);";
        } else {
          answered.push_back(p);
        }
      }
      stats.prompts += answered.size();
      if (!answered.empty()) Queue({Piece{options.promptDelayMs, answered}}, now, true);
    }
    for (const Bytes& frame : result.commandFrames) {
      ++stats.commandFrames;
      if (options.deaf || missRng.Chance(options.miss)) {
        ++stats.commandsMissed;
        line += " the repeater did not hear it;";
        continue;
      }
      auto r = repeater.HandleFrame(frame, LocalSeconds(now));
      // Only the repeater the frame is addressed to takes it.
      for (size_t i = 0; !r.forUs && i < others.size(); ++i) {
        auto o = others[i].HandleFrame(frame, LocalSeconds(now));
        if (o.forUs) r = std::move(o);
      }
      line += " " + r.note + ";";
      if (r.answer) {
        const int delay = answerRng.Between(options.answerDelayMinMs,
                                            std::max(options.answerDelayMinMs, options.answerDelayMaxMs));
        const auto signal = static_cast<std::uint8_t>(answerRng.Between(120, 200));
        events.emplace(now + delay, Event{Kind::Answer, WrapFrame(*r.answer, signal)});
      }
    }
    Log(std::move(line));
  }

  void Quiet(std::int64_t now) {
    // The Korvex waits for the PC only once its own prompt has left.
    if (std::any_of(out.begin(), out.end(), [](const OutPiece& p) { return p.prompt; })) return;
    if ((korvex.HasPartialInput() || korvex.CurrentMode() != KorvexTransceiver::Mode::Idle) &&
        now - lastInputMs >= options.quietMs) {
      const auto result = korvex.Idle();
      ++stats.quietTimeouts;
      for (const auto& n : result.notes) Log("line quiet -> " + n);
    }
  }

  size_t SlaveQueued() const {
    int n = 0;
    if (slave < 0 || ioctl(slave, FIONREAD, &n) != 0) return 0;
    return static_cast<size_t>(std::max(n, 0));
  }

  // Milliseconds until something is due, -1 for nothing.
  int Timeout(std::int64_t now) const {
    std::int64_t next = -1;
    const auto consider = [&](std::int64_t t) {
      if (next < 0 || t < next) next = t;
    };
    if (plugged && !sourceDone && outBytes < kOutCap && events.size() < kMaxEvents) consider(nextBurstMs);
    if (!events.empty()) consider(events.begin()->first);
    if (!out.empty() && !blockedOut) {
      // A paced line waits for the line, not only for the piece's time:
      // waking at the piece's time alone spins while the line is busy.
      std::int64_t due = out.front().atMs;
      if (options.baud > 0) due = std::max(due, (lineFreeAtUs + 999) / 1000);
      consider(due);
    }
    const bool promptPending =
        std::any_of(out.begin(), out.end(), [](const OutPiece& p) { return p.prompt; });
    if (!promptPending && (korvex.HasPartialInput() || korvex.CurrentMode() != KorvexTransceiver::Mode::Idle))
      consider(lastInputMs + options.quietMs);
    if (!inFlight.empty()) consider((inFirstDoneUs + 999) / 1000);
    if (sourceDone && !finished) consider(now + kDrainPollMs);
    if (hung) consider(now + kHungRetryMs);
    if (next < 0) return -1;
    return static_cast<int>(std::clamp<std::int64_t>(next - now, 0, 60'000));
  }
};

SimulatorRunner::SimulatorRunner(SimOptions options) : m_options(std::move(options)) {}

SimulatorRunner::~SimulatorRunner() { Stop(); }

bool SimulatorRunner::OpenPty(std::string* error) {
  Engine& e = *m_engine;
  int master = -1, slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    if (error) *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  MakeRaw(master);
  MakeRaw(slave);
  SetNonBlocking(master);
  e.master = master;
  e.slave = slave;
  e.slavePath = name;
  e.plugged = true;
  e.hung = false;
  e.lineFreeAtUs = 0;
  if (!m_options.linkPath.empty() && !PointLink(m_options.linkPath, e.slavePath, error)) {
    ClosePty();
    return false;
  }
  return true;
}

void SimulatorRunner::ClosePty() {
  Engine& e = *m_engine;
  if (!m_options.linkPath.empty() && !e.slavePath.empty()) RemoveLink(m_options.linkPath, e.slavePath);
  if (e.master >= 0) close(e.master);
  if (e.slave >= 0) close(e.slave);
  e.master = e.slave = -1;
  e.plugged = false;
  e.hung = false;
  e.DiscardOutput("device pulled out");
  e.held.clear();
  e.inFlight.clear();
}

bool SimulatorRunner::Start(std::string* error) {
  std::unique_lock lock(m_mutex);
  if (m_running) {
    if (error) *error = "simulator already running";
    return false;
  }
  const std::vector<std::string> ids = AllRepeaterIds();
  for (size_t i = 0; i < ids.size(); ++i) {
    if (!IdTextToWire(ids[i])) {
      if (error) *error = "repeater ID must be 8 digits: " + ids[i];
      return false;
    }
    if (std::find(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(i), ids[i]) != ids.begin() + static_cast<std::ptrdiff_t>(i)) {
      if (error) *error = "repeater ID given twice: " + ids[i];
      return false;
    }
  }
  const CivilTime start = m_options.startTime ? *m_options.startTime : LocalNow();
  m_engine = std::make_unique<Engine>(m_options, ToSeconds(start));
  Engine& e = *m_engine;
  RepeaterState state;
  state.id = m_options.repeaterId;
  state.flags[SimRepeater::kFlagAutoMode - 1] = true;
  e.repeater = SimRepeater(state, ToSeconds(start));
  for (const std::string& id : m_options.moreRepeaterIds) {
    state.id = id;
    e.others.emplace_back(state, ToSeconds(start));
  }
  // A new ID may be neither a meter's nor another repeater's.
  const auto idInUse = [&e](const std::string& id) {
    if (e.traffic.IsMeterId(id) || e.repeater.State().id == id) return true;
    for (const SimRepeater& r : e.others)
      if (r.State().id == id) return true;
    return false;
  };
  e.repeater.SetIdInUse(idInUse);
  for (SimRepeater& r : e.others) r.SetIdInUse(idInUse);
  for (const auto& [id, setting] : m_options.stuck) {
    if (e.repeater.State().id == id) e.repeater.Stick(setting);
    for (SimRepeater& r : e.others)
      if (r.State().id == id) r.Stick(setting);
  }

  if (!m_options.replayPath.empty()) {
    auto capture = LoadCapture(m_options.replayPath, error);
    if (!capture) return false;
    e.replay = true;
    e.replayUnits = SplitCapture(*capture);
  }
  if (!m_options.recordPath.empty()) {
    e.record = std::fopen(m_options.recordPath.c_str(), "wb");
    if (!e.record) {
      if (error) *error = "cannot write " + m_options.recordPath + ": " + std::strerror(errno);
      return false;
    }
  }
  m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (m_wakeFd < 0 || !OpenPty(error)) {
    if (m_wakeFd < 0 && error) *error = std::string("eventfd: ") + std::strerror(errno);
    if (e.record) std::fclose(e.record);
    e.record = nullptr;
    if (m_wakeFd >= 0) close(m_wakeFd);
    m_wakeFd = -1;
    return false;
  }
  m_stop = false;
  m_running = true;
  m_thread = std::thread([this] { Run(); });
  return true;
}

void SimulatorRunner::Wake() {
  const std::uint64_t one = 1;
  if (m_wakeFd >= 0) [[maybe_unused]]
    ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void SimulatorRunner::Stop() {
  {
    std::lock_guard lock(m_mutex);
    if (!m_running) return;
    m_stop = true;
    Wake();
  }
  if (m_thread.joinable()) m_thread.join();
  std::lock_guard lock(m_mutex);
  ClosePty();
  m_changed.notify_all();
  if (m_engine->record) std::fclose(m_engine->record);
  m_engine->record = nullptr;
  close(m_wakeFd);
  m_wakeFd = -1;
  m_running = false;
  m_changed.notify_all();
}

void SimulatorRunner::Run() {
  std::unique_lock lock(m_mutex);
  Engine& e = *m_engine;
  std::vector<char> buf(4096);
  while (!m_stop) {
    ServeRequest();
    std::int64_t now = e.NowMs();
    e.DeliverArrived(now);
    e.Quiet(now);
    e.Generate(now);
    e.MoveDueEvents(now);
    e.WriteOut(now);
    if (e.sourceDone && !e.finished && e.events.empty() && e.out.empty()) {
      // Bytes written to the master reach the slave's queue a moment later,
      // so an empty queue counts only when it is still empty a while on.
      if (e.SlaveQueued() != 0) {
        e.drainedSince = -1;
      } else if (e.drainedSince < 0) {
        e.drainedSince = now;
      } else if (now - e.drainedSince >= kDrainSettleMs) {
        e.finished = true;
        e.Log("all sent and read");
      }
    }
    m_changed.notify_all();

    pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {-1, 0, 0}};
    nfds_t nfds = 1;
    if (e.plugged && !e.hung) {
      const short in = e.inFlight.size() < kInCap ? POLLIN : 0;
      fds[1] = {e.master, static_cast<short>(in | (e.blockedOut ? POLLOUT : 0)), 0};
      nfds = 2;
    }
    const int timeout = e.Timeout(now);
    std::vector<std::string> lines;
    lines.swap(e.logLines);
    lock.unlock();
    for (const auto& l : lines) m_options.log(l);
    const int ready = poll(fds, nfds, timeout);
    lock.lock();
    if (ready < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      std::uint64_t v;
      [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &v, sizeof v);
    }
    now = e.NowMs();
    if (nfds == 2 && (fds[1].revents & POLLIN)) {
      Bytes in;
      while (in.size() + e.inFlight.size() < kInCap) {
        const ssize_t n = ::read(e.master, buf.data(), buf.size());
        if (n > 0) {
          in.append(buf.data(), static_cast<size_t>(n));
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) e.hung = true;
        break;
      }
      if (!in.empty()) e.Arrive(in, now);
    } else if (nfds == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
      // Not while we hold the slave, but never spin on a line that is gone.
      e.hung = true;
      e.Log("line hung up");
    }
    if (e.hung && e.plugged) {
      pollfd probe{e.master, POLLIN, 0};
      if (poll(&probe, 1, 0) >= 0 && !(probe.revents & (POLLHUP | POLLERR | POLLNVAL))) e.hung = false;
    }
  }
  std::vector<std::string> lines;
  lines.swap(e.logLines);
  lock.unlock();
  for (const auto& l : lines) m_options.log(l);
}

std::string SimulatorRunner::SlavePath() const {
  std::lock_guard lock(m_mutex);
  return m_engine ? m_engine->slavePath : std::string();
}

std::string SimulatorRunner::RepeaterId() const {
  std::lock_guard lock(m_mutex);
  return m_engine ? m_engine->repeater.State().id : m_options.repeaterId;
}

SimStats SimulatorRunner::Stats() const {
  std::lock_guard lock(m_mutex);
  return m_engine ? m_engine->stats : SimStats{};
}

RepeaterState SimulatorRunner::Repeater() const {
  std::lock_guard lock(m_mutex);
  return m_engine ? m_engine->repeater.State() : RepeaterState{};
}

std::vector<RepeaterState> SimulatorRunner::Repeaters() const {
  std::lock_guard lock(m_mutex);
  std::vector<RepeaterState> all;
  if (!m_engine) return all;
  all.push_back(m_engine->repeater.State());
  for (const SimRepeater& r : m_engine->others) all.push_back(r.State());
  return all;
}

std::vector<std::string> SimulatorRunner::AllRepeaterIds() const {
  std::vector<std::string> ids{m_options.repeaterId};
  ids.insert(ids.end(), m_options.moreRepeaterIds.begin(), m_options.moreRepeaterIds.end());
  return ids;
}

std::array<std::uint8_t, 256> SimulatorRunner::KorvexMemory() const {
  std::lock_guard lock(m_mutex);
  return m_engine ? m_engine->korvex.Memory() : std::array<std::uint8_t, 256>{};
}

bool SimulatorRunner::Finished() const {
  std::lock_guard lock(m_mutex);
  return m_engine && m_engine->finished;
}

bool SimulatorRunner::WaitFinished(int limitMs) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::milliseconds(limitMs),
                            [&] { return !m_running || (m_engine && m_engine->finished); }) &&
         m_engine && m_engine->finished;
}

bool SimulatorRunner::WaitFor(const std::function<bool(const SimStats&)>& test, int limitMs) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::milliseconds(limitMs),
                            [&] { return m_engine && test(m_engine->stats); });
}

void SimulatorRunner::DoUnplug() {
  if (!m_engine->plugged) return;
  ClosePty();
  m_engine->korvex = KorvexTransceiver{};
  m_engine->Log("device pulled out");
}

bool SimulatorRunner::DoReplug(std::string* error) {
  if (m_engine->plugged) return true;
  if (!OpenPty(error)) return false;
  m_engine->nextBurstMs = m_engine->NowMs();
  m_engine->Log("device put back on " + m_engine->slavePath);
  return true;
}

// The descriptors belong to the thread while it runs (it may be polling them
// right now), so the change is made there and waited for here.
bool SimulatorRunner::Request(int kind, std::string* error) {
  std::unique_lock lock(m_mutex);
  if (!m_engine) {
    if (error) *error = "simulator not started";
    return false;
  }
  if (!m_running) return kind == kUnplug ? (DoUnplug(), true) : DoReplug(error);
  m_request = kind;
  const std::uint64_t ticket = ++m_requestTicket;
  Wake();
  m_changed.wait(lock, [&] { return m_requestDone >= ticket || !m_running; });
  if (m_requestDone < ticket) {
    if (error) *error = "simulator stopped";
    return false;
  }
  if (!m_requestOk && error) *error = m_requestError;
  return m_requestOk;
}

void SimulatorRunner::ServeRequest() {
  if (m_request == 0) return;
  m_requestError.clear();
  m_requestOk = m_request == kUnplug ? (DoUnplug(), true) : DoReplug(&m_requestError);
  m_request = 0;
  m_requestDone = m_requestTicket;
  m_changed.notify_all();
}

void SimulatorRunner::Unplug() { Request(kUnplug, nullptr); }

bool SimulatorRunner::Replug(std::string* error) { return Request(kReplug, error); }

}  // namespace sim
