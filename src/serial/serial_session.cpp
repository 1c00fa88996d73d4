#include "serial_session.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <cerrno>
#include <chrono>

#include "serial_port.h"

namespace {

// While bytes are left unread, or a transmission is to be watched until it
// has left, the event thread rechecks the queues at this interval: poll()
// cannot wait for "one more byte" or "output queue empty".
constexpr int kRecheckMs = 10;
// Pause after a failed wait or write, so a broken line does not spin.
constexpr auto kRetryPause = std::chrono::milliseconds(100);

void DrainWake(int eventFd) {
  uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(eventFd, &value, sizeof value);
}

// On a worker thread: hand the events to the owner's thread and wait until
// they were handled or the session stopped. False once stopped. The
// request travels through the session's own queue (under its lock); the
// posted call carries nothing, so no data crosses threads unguarded.
// Posting happens under the session lock, so nothing is posted to the
// owner after Close.
bool HandOver(const std::shared_ptr<SerialSession>& s, uint32_t events, bool lost, int* unread = nullptr) {
  auto request = std::make_shared<HandoverRequest>();
  request->events = events;
  request->lost = lost;
  std::unique_lock lock(s->mutex);
  if (s->stop) return false;
  s->pending.push_back(request);
  QMetaObject::invokeMethod(s->owner, "ProcessHandovers", Qt::QueuedConnection);
  s->handoverCv.wait(lock, [&] { return request->done || s->stop; });
  if (unread) *unread = request->unread;
  return !s->stop;
}

}  // namespace

UniqueFd MakeWakeFd() { return UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)); }

void SignalWake(int eventFd) {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(eventFd, &one, sizeof one);
}

void SerialSession::Stop() {
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  handoverCv.notify_all();
  bufferCv.notify_all();
  if (eventWake.Valid()) SignalWake(eventWake.Get());
  if (writeWake.Valid()) SignalWake(writeWake.Get());
}

void RunEventThread(std::shared_ptr<SerialSession> s) {
  const int dev = s->device.Get();
  const int wake = s->eventWake.Get();
  int leftover = 0;  // bytes the last handler left in the queue
  LineErrorCounters errorBase = ReadLineErrorCounters(dev);
  while (!s->Stopped()) {
    const bool txWatch = (s->mask & EV_TXEMPTY) && s->txPending.load();
    pollfd fds[2] = {{dev, 0, 0}, {wake, POLLIN, 0}};
    if ((s->mask & EV_RXCHAR) && leftover == 0) fds[0].events = POLLIN;
    const int timeout = leftover > 0 || txWatch ? kRecheckMs : -1;
    if (::poll(fds, 2, timeout) < 0) {
      if (errno != EINTR) {
        std::unique_lock lock(s->mutex);
        s->handoverCv.wait_for(lock, kRetryPause, [&] { return s->stop; });
      }
      continue;
    }
    if (fds[1].revents & POLLIN) {
      DrainWake(wake);
      continue;
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // The device is gone and poll() would report it for ever: say so
      // once and stop waiting on it.
      HandOver(s, 0, true);
      return;
    }
    uint32_t events = 0;
    int in = 0, out = 0;
    if (fds[0].revents & POLLIN) {
      events |= EV_RXCHAR;
    } else if (leftover > 0 && QueueCounts(dev, in, out) == 0) {
      if (in > leftover)
        events |= EV_RXCHAR;
      else
        leftover = in;
    }
    if (txWatch && QueueCounts(dev, in, out) == 0 && out == 0) {
      s->txPending = false;
      events |= EV_TXEMPTY;
    }
    if (s->mask & EV_ERR) {
      LineErrorCounters now = ReadLineErrorCounters(dev);
      if (LineErrorFlags(errorBase, now) != 0) events |= EV_ERR;
      errorBase = now;
    }
    if (events == 0) continue;
    // Only what the handler was told of and left unread is old; anything
    // beyond that in the queue arrived meanwhile and is announced next.
    int unread = 0;
    if (!HandOver(s, events, false, &unread)) return;
    if (events & EV_RXCHAR) leftover = unread;
  }
}

void RunWriteThread(std::shared_ptr<SerialSession> s) {
  const int dev = s->device.Get();
  const int wake = s->writeWake.Get();
  for (;;) {
    std::string chunk;
    uint64_t generation;
    {
      std::unique_lock lock(s->mutex);
      s->bufferCv.wait(lock, [&] { return s->stop || !s->buffer.empty(); });
      if (s->stop) return;
      chunk = s->buffer;
      generation = s->generation;
    }
    std::size_t written = 0;
    bool failed = false;
    bool interrupted = false;
    while (written < chunk.size() && !interrupted) {
      ssize_t n = ::write(dev, chunk.data() + written, chunk.size() - written);
      if (n > 0) {
        written += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        failed = true;
        break;
      }
      pollfd fds[2] = {{dev, POLLOUT, 0}, {wake, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
        failed = true;
        break;
      }
      if (fds[1].revents & POLLIN) {
        DrainWake(wake);
        std::lock_guard lock(s->mutex);
        interrupted = s->stop || s->generation != generation;
      } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        failed = true;
      }
    }
    bool empty;
    {
      std::lock_guard lock(s->mutex);
      if (s->stop) return;
      if (s->generation == generation) s->buffer.erase(0, written);
      empty = s->buffer.empty();
    }
    s->bufferCv.notify_all();
    if (failed) {
      // The data stay buffered; the owner hears of a line error.
      if (!HandOver(s, EV_ERR, false)) return;
      std::unique_lock lock(s->mutex);
      s->bufferCv.wait_for(lock, kRetryPause, [&] { return s->stop; });
    } else if (written > 0 && empty && !interrupted) {
      if (!HandOver(s, EV_TXEMPTY, false)) return;
    }
  }
}
