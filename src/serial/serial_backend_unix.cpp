// The POSIX serial back end: one descriptor opened O_RDWR|O_NOCTTY|
// O_NONBLOCK and claimed with flock and TIOCEXCL, raw termios2 settings
// (serial_line_unix.cpp), poll() on the device and an eventfd for the
// wake-up, FIONREAD/TIOCOUTQ for the queues, tcflush, tcdrain, and the
// driver's line error counters.

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "serial_backend.h"
#include "serial_types.h"

namespace {

// Pause after a failed poll(), so a broken line does not spin.
constexpr int kRetryPauseMs = 100;

class UnixSerial : public SerialBackend {
 public:
  explicit UnixSerial(UniqueFd fd) : m_fd(std::move(fd)) {}

  int Apply(const LineConfig& config, int inQueue, int outQueue) override {
    // Linux drivers keep fixed queues: the sizes have nothing to set.
    (void)inQueue;
    (void)outQueue;
    return ApplyLineConfig(m_fd.Get(), config);
  }

  int ReadBackBaudrate(int& baud) override {
    LineTaken taken;
    if (int error = ReadLineTaken(m_fd.Get(), taken)) return error;
    baud = taken.outSpeed;
    return 0;
  }

  int CheckLineTaken(const std::string& shownPath, const LineConfig& asked, std::string& notTaken) override {
    LineTaken taken;
    if (int error = ReadLineTaken(m_fd.Get(), taken)) return error;
    notTaken = LineNotTaken(shownPath, asked, taken);
    return 0;
  }

  int SetEventMask(uint32_t mask) override {
    if (!m_wake.Valid()) {
      m_wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
      if (!m_wake.Valid()) return errno;
    }
    m_mask = mask;
    return 0;
  }

  long long Read(char* buffer, size_t size, int& error) override {
    error = 0;
    for (;;) {
      const ssize_t n = ::read(m_fd.Get(), buffer, size);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return 0;
      error = errno;
      return -1;
    }
  }

  long long Write(const char* data, size_t size, int deadlineMs, int& error) override {
    error = 0;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    size_t written = 0;
    while (written < size) {
      const ssize_t n = ::write(m_fd.Get(), data + written, size - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        error = errno;
        return -1;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      pollfd fd{m_fd.Get(), POLLOUT, 0};
      ::poll(&fd, 1, static_cast<int>(left));
    }
    return static_cast<long long>(written);
  }

  int QueueCounts(int& in, int& out) override { return ::QueueCounts(m_fd.Get(), in, out); }

  int Flush(bool input, bool output) override { return FlushDevice(m_fd.Get(), input, output); }

  int Drain(int deadlineMs) override {
    if (deadlineMs >= 0) {
      // tcdrain cannot be bounded: wait for the output queue here, then let
      // tcdrain see the last byte out of the shift register.
      using Clock = std::chrono::steady_clock;
      const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
      for (;;) {
        int in = 0, out = 0;
        if (int error = ::QueueCounts(m_fd.Get(), in, out)) return error;
        if (out == 0) break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return ETIMEDOUT;
        pollfd fd{m_fd.Get(), 0, 0};
        ::poll(&fd, 1, static_cast<int>(std::min<long long>(left, 5)));
      }
    }
    for (;;) {
      if (::tcdrain(m_fd.Get()) == 0) return 0;
      if (errno != EINTR) return errno;
    }
  }

  WaitResult WaitEvents(int timeoutMs, uint32_t& events) override {
    events = 0;
    pollfd fds[2] = {{m_fd.Get(), 0, 0}, {m_wake.Get(), POLLIN, 0}};
    if (m_mask & EV_RXCHAR) fds[0].events = POLLIN;
    const int ready = ::poll(fds, m_wake.Valid() ? 2 : 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) return WaitResult::TimedOut;
      pollfd wake{m_wake.Get(), POLLIN, 0};
      if (::poll(&wake, m_wake.Valid() ? 1 : 0, kRetryPauseMs) <= 0) return WaitResult::TimedOut;
      fds[1].revents = wake.revents;
    }
    if (fds[1].revents & POLLIN) {
      uint64_t value;
      [[maybe_unused]] ssize_t n = ::read(m_wake.Get(), &value, sizeof value);
      return WaitResult::Woken;
    }
    // A device that went away reports this for ever: the caller stops.
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return WaitResult::Lost;
    if (fds[0].revents & POLLIN) {
      events = EV_RXCHAR;
      return WaitResult::Events;
    }
    return WaitResult::TimedOut;
  }

  void Wake() override {
    if (!m_wake.Valid()) return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wake.Get(), &one, sizeof one);
  }

  uint32_t TakeLineErrors() override {
    const LineErrorCounters now = ReadLineErrorCounters(m_fd.Get());
    std::lock_guard lock(m_errorMutex);
    const uint32_t flags = m_haveBaseline ? LineErrorFlags(m_errorBaseline, now) : 0;
    m_errorBaseline = now;
    m_haveBaseline = true;
    return flags;
  }

  bool HungUp(int error) override { return LineHungUp(m_fd.Get(), error); }

  bool WaitReadable(int timeoutMs, bool& lost) override {
    lost = false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
      int queued = 0;
      if (::ioctl(m_fd.Get(), FIONREAD, &queued) == 0 && queued > 0) return true;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd fd{m_fd.Get(), POLLIN, 0};
      const int ready = ::poll(&fd, 1, static_cast<int>(left));
      if (ready < 0 && errno != EINTR) return false;
      // A hung-up line reports without data.
      if (ready > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fd.revents & POLLIN)) {
        lost = true;
        return false;
      }
    }
  }

  void Release() override { ReleaseSerialDevice(m_fd.Get()); }

 private:
  UniqueFd m_fd;
  UniqueFd m_wake;
  uint32_t m_mask = 0;  // set before the event thread starts, then by it only
  std::mutex m_errorMutex;
  LineErrorCounters m_errorBaseline;
  bool m_haveBaseline = false;
};

}  // namespace

std::unique_ptr<SerialBackend> SerialBackend::Open(const std::string& path, int& error, bool& notFound) {
  UniqueFd fd = OpenSerialDevice(path, error);
  notFound = false;
  if (!fd.Valid()) {
    notFound = error == ENOENT || error == ENODEV || error == ENXIO;
    return nullptr;
  }
  return std::make_unique<UnixSerial>(std::move(fd));
}

std::string SerialErrorText(int error) {
  char buffer[256];
  // GNU strerror_r: returns the text, maybe not in `buffer`.
  std::string text = strerror_r(error, buffer, sizeof buffer);
  while (!text.empty()) {
    unsigned char c = static_cast<unsigned char>(text.back());
    if (c != ' ' && c != '.' && !std::iscntrl(c)) break;
    text.pop_back();
  }
  return text;
}
