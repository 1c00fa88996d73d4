#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <stdexcept>

PtyPair::PtyPair() {
  char name[256] = {};
  if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
  m_slavePath = name;
  // Raw from the start, so bytes the device sends before the component
  // opens are neither echoed nor cooked.
  termios tio{};
  ::tcgetattr(m_slave, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(m_slave, TCSANOW, &tio);
  ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
  ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
  ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() {
  CloseMaster();
  if (m_slave >= 0) ::close(m_slave);
}

void PtyPair::Send(std::string_view bytes) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!bytes.empty()) {
    ssize_t n = ::write(m_master, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) throw std::runtime_error("pty master write failed");
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("pty master write timed out");
    pollfd fd{m_master, POLLOUT, 0};
    ::poll(&fd, 1, 100);
  }
}

std::string PtyPair::ReadAvailable() {
  std::string out;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

std::string PtyPair::Receive(std::size_t count, int timeoutMs) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < count) {
    out += ReadAvailable();
    if (out.size() >= count) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    if (left <= 0) break;
    pollfd fd{m_master, POLLIN, 0};
    ::poll(&fd, 1, static_cast<int>(left));
  }
  return out;
}

void PtyPair::CloseMaster() {
  if (m_master >= 0) ::close(m_master);
  m_master = -1;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  // The tick makes sure the loop comes round even when no event arrives.
  QTimer tick;
  tick.start(5);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}
