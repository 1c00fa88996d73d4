#include "sim_runner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "sim_engine.h"

// Starting and stopping the simulator's thread, its loop, and what the
// program may ask of it. Pulling out and putting back are in sim_line.cpp,
// the lines in sim_pty_line_unix.cpp and in_process_korvex.cpp, the
// simulated devices' steps in sim_engine.cpp.

namespace sim {

SimulatorRunner::SimulatorRunner(SimOptions options, std::unique_ptr<SimLine> line)
    : m_options(std::move(options)), m_line(std::move(line)) {
#ifndef _WIN32
  if (!m_line) m_line = MakePtyLine(m_options);
#endif
}

SimulatorRunner::~SimulatorRunner() { Stop(); }

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
    if (std::find(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(i), ids[i]) !=
        ids.begin() + static_cast<std::ptrdiff_t>(i)) {
      if (error) *error = "repeater ID given twice: " + ids[i];
      return false;
    }
  }
  if (!m_line) {
    if (error) *error = "no line for the simulated device";
    return false;
  }
  const CivilTime start = m_options.startTime ? *m_options.startTime : LocalNow();
  m_engine = std::make_unique<Engine>(m_options, ToSeconds(start));
  Engine& e = *m_engine;
  e.line = m_line.get();
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
  if (!PlugIn(error)) {
    if (e.record) std::fclose(e.record);
    e.record = nullptr;
    return false;
  }
  m_stop = false;
  m_running = true;
  m_thread = std::thread([this] { Run(); });
  return true;
}

void SimulatorRunner::Wake() { m_line->Wake(); }

void SimulatorRunner::Stop() {
  {
    std::lock_guard lock(m_mutex);
    if (!m_running) return;
    m_stop = true;
    Wake();
  }
  if (m_thread.joinable()) m_thread.join();
  std::lock_guard lock(m_mutex);
  PullOut();
  m_changed.notify_all();
  if (m_engine->record) std::fclose(m_engine->record);
  m_engine->record = nullptr;
  m_running = false;
  m_changed.notify_all();
}

void SimulatorRunner::Run() {
  std::unique_lock lock(m_mutex);
  Engine& e = *m_engine;
  while (!m_stop) {
    ServeRequest();
    std::int64_t now = e.NowMs();
    e.DeliverArrived(now);
    e.Quiet(now);
    e.Generate(now);
    e.MoveDueEvents(now);
    e.WriteOut(now);
    m_line->OnTheLine(e.inFlight.size());
    if (e.sourceDone && !e.finished && e.events.empty() && e.out.empty()) {
      // Bytes written to the master reach the slave's queue a moment later,
      // so an empty queue counts only when it is still empty a while on.
      if (m_line->Unread() != 0) {
        e.drainedSince = -1;
      } else if (e.drainedSince < 0) {
        e.drainedSince = now;
      } else if (now - e.drainedSince >= kDrainSettleMs) {
        e.finished = true;
        e.Log("all sent and read");
      }
    }
    m_changed.notify_all();

    SimLine::Turn turn;
    turn.listen = e.plugged && !e.hung;
    turn.room = e.inFlight.size() < kInCap ? kInCap - e.inFlight.size() : 0;
    turn.wantRoom = e.blockedOut;
    const int timeout = e.Timeout(now);
    std::vector<std::string> lines;
    lines.swap(e.logLines);
    lock.unlock();
    for (const auto& l : lines) m_options.log(l);
    // The line belongs to this thread: nothing else plugs or pulls it while it runs.
    const bool waited = m_line->Wait(timeout, turn);
    lock.lock();
    if (!waited) break;
    now = e.NowMs();
    if (turn.flushedOut) e.inFlight.clear();
    if (!turn.in.empty()) e.Arrive(turn.in, now);
    if (turn.hungUp && !e.hung) {
      e.hung = true;
      e.Log("line hung up");
    }
    if (e.hung && e.plugged && !m_line->StillHungUp()) e.hung = false;
  }
  std::vector<std::string> lines;
  lines.swap(e.logLines);
  lock.unlock();
  for (const auto& l : lines) m_options.log(l);
}

std::string SimulatorRunner::SlavePath() const {
  std::lock_guard lock(m_mutex);
  return m_engine ? m_line->Path() : std::string();
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

}  // namespace sim
