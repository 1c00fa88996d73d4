#include "sim_runner.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "sim_engine.h"

// Starting and stopping the simulator's thread, its loop, and what the
// program may ask of it. The line is in sim_line.cpp, the simulated
// devices' steps in sim_engine.cpp.

namespace sim {

SimulatorRunner::SimulatorRunner(SimOptions options) : m_options(std::move(options)) {}

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

}  // namespace sim
