#include "serial_session.h"

#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <chrono>

#include "serial_port.h"

namespace {

// While bytes are left unread, or a transmission is to be watched until it
// has left, the event thread rechecks the queues at this interval: a device
// cannot be asked to wait for "one more byte" or "output queue empty".
constexpr int kRecheckMs = 10;
// Pause after a failed write, so a broken line does not spin.
constexpr auto kRetryPause = std::chrono::milliseconds(100);
// The write thread hands the device its bytes in pieces of at most this
// many, each call waiting at most this long, so that a purge or a close
// reaches it between two of them: what it held then is not sent.
constexpr std::size_t kWritePiece = 4096;
constexpr int kWriteSliceMs = 50;

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

void SerialSession::Stop() {
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  handoverCv.notify_all();
  bufferCv.notify_all();
  if (device) device->Wake();
}

namespace {

struct Leaving {
  SerialSession& s;
  ~Leaving() { --s.running; }
};

}  // namespace

void RunEventThread(std::shared_ptr<SerialSession> s) {
  const Leaving leaving{*s};
  SerialBackend& dev = *s->device;
  uint32_t waitMask = s->mask;
  int leftover = 0;  // bytes the last handler left in the queue
  while (!s->Stopped()) {
    const bool txWatch = (s->mask & EV_TXEMPTY) && s->txPending.load();
    // Bytes left unread would end every wait at once: while there are any,
    // the wait leaves them out and the queue is looked at instead.
    const uint32_t want = leftover > 0 ? s->mask & ~uint32_t{EV_RXCHAR} : s->mask;
    if (want != waitMask && dev.SetEventMask(want) == 0) waitMask = want;
    const int timeout = leftover > 0 || txWatch ? kRecheckMs : -1;
    uint32_t events = 0;
    const SerialBackend::WaitResult result = dev.WaitEvents(timeout, events);
    if (result == SerialBackend::WaitResult::Woken) continue;
    if (result == SerialBackend::WaitResult::Lost) {
      // The device is gone and would report it for ever: say so once and
      // stop waiting on it.
      HandOver(s, 0, true);
      return;
    }
    events &= s->mask;
    int in = 0, out = 0;
    if (!(events & EV_RXCHAR) && leftover > 0 && dev.QueueCounts(in, out) == 0) {
      if (in > leftover)
        events |= EV_RXCHAR;
      else
        leftover = in;
    }
    if (txWatch) {
      if (dev.QueueCounts(in, out) == 0 && out == 0) {
        s->txPending = false;
        events |= EV_TXEMPTY;
      } else {
        events &= ~uint32_t{EV_TXEMPTY};
      }
    } else {
      events &= ~uint32_t{EV_TXEMPTY};
    }
    if (s->mask & EV_ERR) {
      if (const uint32_t errors = dev.TakeLineErrors()) {
        s->lineErrors |= errors;
        events |= EV_ERR;
      }
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
  const Leaving leaving{*s};
  SerialBackend& dev = *s->device;
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
      int error = 0;
      const std::size_t piece = std::min(kWritePiece, chunk.size() - written);
      const long long n = dev.Write(chunk.data() + written, piece, kWriteSliceMs, error);
      if (n < 0) {
        failed = true;
        break;
      }
      written += static_cast<std::size_t>(n);
      std::lock_guard lock(s->mutex);
      interrupted = s->stop || s->generation != generation;
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
