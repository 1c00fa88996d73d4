// The simulated device's line: the pseudo-terminal and its link, pulling the
// device out and putting it back (asked of the running thread, which owns
// the descriptors).
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim_engine.h"

namespace sim {

namespace {

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
