// The simulated device on the master side of a pseudo-terminal: the program
// opens the slave (or the symbolic link to it) exactly like a real port.
// The slave stays open here too, so that the program may close and reopen
// its side; pulling the device out closes both.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sim_line.h"
#include "sim_runner.h"

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

class PtyLine : public SimLine {
 public:
  explicit PtyLine(std::string linkPath) : m_linkPath(std::move(linkPath)) {}
  ~PtyLine() override {
    Unplug();
    if (m_wakeFd >= 0) close(m_wakeFd);
  }

  bool Plug(std::string* error) override {
    if (m_wakeFd < 0) {
      m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
      if (m_wakeFd < 0) {
        if (error) *error = std::string("eventfd: ") + std::strerror(errno);
        return false;
      }
    }
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
    m_master = master;
    m_slave = slave;
    m_slavePath = name;
    if (!m_linkPath.empty() && !PointLink(m_linkPath, m_slavePath, error)) {
      Unplug();
      return false;
    }
    return true;
  }

  void Unplug() override {
    if (!m_linkPath.empty() && !m_slavePath.empty()) RemoveLink(m_linkPath, m_slavePath);
    if (m_master >= 0) close(m_master);
    if (m_slave >= 0) close(m_slave);
    m_master = m_slave = -1;
  }

  std::string Path() const override { return m_slavePath; }

  long long Send(const char* data, size_t size, std::string& error) override {
    for (;;) {
      const ssize_t w = ::write(m_master, data, size);
      if (w >= 0) return w;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      error = std::strerror(errno);
      return -1;
    }
  }

  size_t Unread() const override {
    int n = 0;
    if (m_slave < 0 || ioctl(m_slave, FIONREAD, &n) != 0) return 0;
    return static_cast<size_t>(std::max(n, 0));
  }

  bool Wait(int timeoutMs, Turn& turn) override {
    pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {-1, 0, 0}};
    nfds_t nfds = 1;
    if (turn.listen && m_master >= 0) {
      const short in = turn.room > 0 ? POLLIN : 0;
      fds[1] = {m_master, static_cast<short>(in | (turn.wantRoom ? POLLOUT : 0)), 0};
      nfds = 2;
    }
    const int ready = poll(fds, nfds, timeoutMs);
    if (ready < 0 && errno != EINTR) return false;
    if (fds[0].revents & POLLIN) {
      std::uint64_t v;
      [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &v, sizeof v);
    }
    if (nfds == 2 && (fds[1].revents & POLLIN)) {
      while (turn.in.size() < turn.room) {
        const ssize_t n = ::read(m_master, m_buf.data(), m_buf.size());
        if (n > 0) {
          turn.in.append(m_buf.data(), static_cast<size_t>(n));
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) turn.hungUp = true;
        break;
      }
    } else if (nfds == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
      // Not while we hold the slave, but never spin on a line that is gone.
      turn.hungUp = true;
    }
    return true;
  }

  bool StillHungUp() override {
    if (m_master < 0) return true;
    pollfd probe{m_master, POLLIN, 0};
    return poll(&probe, 1, 0) < 0 || (probe.revents & (POLLHUP | POLLERR | POLLNVAL));
  }

  void Wake() override {
    const std::uint64_t one = 1;
    if (m_wakeFd >= 0) [[maybe_unused]]
      ssize_t n = ::write(m_wakeFd, &one, sizeof one);
  }

 private:
  std::string m_linkPath;
  int m_wakeFd = -1;
  int m_master = -1;
  int m_slave = -1;
  std::string m_slavePath;
  std::vector<char> m_buf = std::vector<char>(4096);
};

}  // namespace

std::unique_ptr<SimLine> MakePtyLine(const SimOptions& options) {
  return std::make_unique<PtyLine>(options.linkPath);
}

}  // namespace sim
