#include "serial_port.h"

#include "escape_text.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QMetaObject>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

namespace {

// While bytes are left unread, or a transmission is to be watched until it
// has left, the event thread rechecks the queues at this interval: poll()
// cannot wait for "one more byte" or "output queue empty".
constexpr int kRecheckMs = 10;
// Pause after a failed wait or write, so a broken line does not spin.
constexpr auto kRetryPause = std::chrono::milliseconds(100);

void Signal(int eventFd) {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(eventFd, &one, sizeof one);
}

void Drain(int eventFd) {
  uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(eventFd, &value, sizeof value);
}

UniqueFd MakeEventFd() { return UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)); }

}  // namespace

// One event handed to the owner's thread; the event thread waits on `done`.
struct HandoverRequest {
  uint32_t events = 0;
  bool lost = false;
  bool done = false;
  int unread = 0;  // announced bytes the handler left in the queue
};

// Everything the threads of one open session touch. The threads own it
// together with the component, so a Close that does not wait for them never
// frees what they still use.
struct SerialSession {
  TCustomSerialPort* owner = nullptr;  // dereferenced on the owner's thread only
  uint32_t mask = 0;
  UniqueFd device;  // the threads' own duplicate of the device descriptor
  UniqueFd eventWake;
  UniqueFd writeWake;
  std::atomic<bool> txPending{false};

  std::mutex mutex;  // guards everything below
  std::condition_variable handoverCv;
  std::condition_variable bufferCv;
  bool stop = false;
  std::string buffer;  // buffered write mode
  std::size_t capacity = 0;
  uint64_t generation = 0;  // bumped by a purge: a write in flight is dropped
  std::deque<std::shared_ptr<HandoverRequest>> pending;

  void Stop() {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    handoverCv.notify_all();
    bufferCv.notify_all();
    if (eventWake.Valid()) Signal(eventWake.Get());
    if (writeWake.Valid()) Signal(writeWake.Get());
  }
  bool Stopped() {
    std::lock_guard lock(mutex);
    return stop;
  }
};

struct SerialDispatch {
  // On a worker thread: hand the events to the owner's thread and wait until
  // they were handled or the session stopped. False once stopped. The
  // request travels through the session's own queue (under its lock); the
  // posted call carries nothing, so no data crosses threads unguarded.
  // Posting happens under the session lock, so nothing is posted to the
  // owner after Close.
  static bool HandOver(const std::shared_ptr<SerialSession>& s, uint32_t events, bool lost,
                       int* unread = nullptr) {
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

  static void EventThread(std::shared_ptr<SerialSession> s) {
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
        Drain(wake);
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

  static void WriteThread(std::shared_ptr<SerialSession> s) {
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
          Drain(wake);
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
};

TCustomSerialPort::TCustomSerialPort(QObject* parent) : TSerialComponent(parent) {
  // Buffers are fixed while open: refused before anything changes.
  m_buffers.SetBeforeChange([this] { CheckClosed(); });
  m_flowControl.SetOnChange([this] { ApplyLineSettings(); });
  m_eventChars.SetOnChange([this] { ApplyLineSettings(); });
}

TCustomSerialPort::~TCustomSerialPort() { CloseForDestruction(); }

void TCustomSerialPort::CloseForDestruction() {
  m_destroying = true;
  Close();
}

TSerialPort::~TSerialPort() { CloseForDestruction(); }

void TCustomSerialPort::CheckClosed() const {
  if (IsOpen()) throw ESerialPortError("Can't perform this operation while port is open");
}

void TCustomSerialPort::RaiseCommError(const std::string& templ, int error) const {
  throw ESerialPortError(FormatOsError(templ, error));
}

std::string TCustomSerialPort::DevicePath() const {
  // Only "%d" is a placeholder; a path is never used as a format string.
  std::string path = m_deviceName;
  std::string::size_type pos = path.find("%d");
  if (pos != std::string::npos) path.replace(pos, 2, std::to_string(m_portNum));
  return path;
}

void TCustomSerialPort::Open() {
  CheckClosed();
  OpenDevice();
  try {
    ApplyLineSettings();
    // Linux drivers keep fixed queues (ReadSize/WriteSize have nothing to
    // set), and O_NONBLOCK with VMIN = VTIME = 0 are the "return at once"
    // time-outs.
    m_eventMask = ComputeEventMask();
    m_errorBaseline = ReadLineErrorCounters(m_fd.Get());
    StartThreads();
  } catch (...) {
    if (m_session) m_session->Stop();
    m_session.reset();
    ReleaseSerialDevice(m_fd.Get());
    m_fd.Reset();
    throw;
  }
  if (OnOpen) CallHandler([this] { OnOpen(this); });
}

void TCustomSerialPort::OpenDevice() {
  const std::string path = DevicePath();
  int error = 0;
  UniqueFd fd = OpenSerialDevice(path, error);
  if (!fd.Valid()) {
    if (error == ENOENT || error == ENODEV || error == ENXIO)
      throw ESerialPortError("Specified device not found (" + EscapeControls(path) + ").");
    throw ESerialPortError("Can't open specified device " + EscapeControls(path) + " (Error " +
                           std::to_string(error) + ", " + OsErrorText(error) + ")");
  }
  m_fd = std::move(fd);
}

uint32_t TCustomSerialPort::ComputeEventMask() const {
  static constexpr uint32_t kBits[] = {EV_BREAK,    EV_CTS,    EV_DSR,     EV_ERR,    EV_RING,
                                       EV_RLSD,     EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_PERR,
                                       EV_RX80FULL, EV_EVENT1, EV_EVENT2};
  uint32_t mask = 0;
  for (int e = ceBreak; e <= ceEvent2; ++e)
    if (m_monitorEvents.Contains(static_cast<TSerialEvent>(e))) mask |= kBits[e];
  // The write thread reports transmit-empty itself.
  if (!m_directWrite) mask &= ~uint32_t{EV_TXEMPTY};
  return mask;
}

void TCustomSerialPort::StartThreads() {
  auto s = std::make_shared<SerialSession>();
  s->owner = this;
  s->mask = m_eventMask;
  s->device = UniqueFd(::fcntl(m_fd.Get(), F_DUPFD_CLOEXEC, 0));
  s->eventWake = MakeEventFd();
  if (!m_directWrite) {
    s->writeWake = MakeEventFd();
    s->capacity = static_cast<std::size_t>(m_buffers.WriteSize());
  }
  if (!s->device.Valid() || !s->eventWake.Valid() || (!m_directWrite && !s->writeWake.Valid()))
    RaiseCommError(" Error setting EventMask (%d), %s", errno);
  m_session = s;
  // Priorities are kept but not applied: raising a thread's priority needs
  // privileges a desktop user does not have.
  if (m_eventMask != 0) std::thread(SerialDispatch::EventThread, s).detach();
  if (!m_directWrite) std::thread(SerialDispatch::WriteThread, s).detach();
}

void TCustomSerialPort::Close() {
  if (!IsOpen()) return;
  {
    std::lock_guard lock(m_readLock);
    if (m_session) m_session->Stop();
    m_session.reset();
  }
  ReleaseSerialDevice(m_fd.Get());
  m_fd.Reset();
  if (OnClose && !m_destroying) OnClose(this);
}

void TCustomSerialPort::ApplyLineSettings() {
  if (!IsOpen() || !m_updateDCB) return;
  LineConfig c;
  c.baudrate = m_baudrate == brUser ? m_userBaudrate : BaudrateValue(m_baudrate);
  c.databits = 4 + static_cast<int>(m_databits);
  c.stopbits2x = m_stopbits == sb1 ? 2 : (m_stopbits == sb15 ? 3 : 4);
  static constexpr LineConfig::Parity kParity[] = {LineConfig::None, LineConfig::Odd, LineConfig::Even,
                                                   LineConfig::Mark, LineConfig::Space};
  c.parity = kParity[m_parity];
  c.parityCheck = m_options.Contains(coParityCheck);
  c.nullStrip = m_options.Contains(coNullStrip);
  c.outCtsFlow = m_flowControl.OutCtsFlow();
  c.outDsrFlow = m_flowControl.OutDsrFlow();
  c.dtr = static_cast<LineConfig::Line>(m_flowControl.ControlDtr());
  c.rts = static_cast<LineConfig::Line>(m_flowControl.ControlRts());
  c.xonXoffOut = m_flowControl.XonXoffOut();
  c.xonXoffIn = m_flowControl.XonXoffIn();
  c.xonChar = m_eventChars.XonChar();
  c.xoffChar = m_eventChars.XoffChar();
  if (int error = ApplyLineConfig(m_fd.Get(), c)) RaiseCommError("Error writing dcb (%d), %s", error);
}

int TCustomSerialPort::ReadData(char* dest, int count) {
  if (!IsOpen() || count <= 0) return 0;
  std::lock_guard lock(m_readLock);
  for (;;) {
    ssize_t n = ::read(m_fd.Get(), dest, static_cast<std::size_t>(count));
    if (n >= 0) {
      m_unreadAnnounced = std::max(0, m_unreadAnnounced - static_cast<int>(n));
      return static_cast<int>(n);
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    RaiseCommError("Read error (%d), %s", errno);
  }
}

int TCustomSerialPort::WriteData(const char* src, int count) {
  if (!IsOpen() || count <= 0) return 0;
  return m_directWrite ? WriteDirect(src, count) : WriteBuffered(src, count);
}

int TCustomSerialPort::WriteDirect(const char* src, int count) {
  std::lock_guard lock(m_writeLock);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(m_buffers.ReadTimeout());
  int written = 0;
  while (written < count) {
    ssize_t n = ::write(m_fd.Get(), src + written, static_cast<std::size_t>(count - written));
    if (n > 0) {
      written += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) RaiseCommError("Write error (%d), %s", errno);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      // Give up, and take back what the driver still holds of this
      // transfer, so no half command goes out later.
      FlushDevice(m_fd.Get(), false, true);
      return 0;
    }
    pollfd fd{m_fd.Get(), POLLOUT, 0};
    ::poll(&fd, 1, static_cast<int>(left));
  }
  if ((m_eventMask & EV_TXEMPTY) && m_session) {
    m_session->txPending = true;
    Signal(m_session->eventWake.Get());
  }
  return written;
}

int TCustomSerialPort::WriteBuffered(const char* src, int count) {
  std::shared_ptr<SerialSession> s = m_session;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(m_buffers.WriteTimeout());
  {
    std::unique_lock lock(s->mutex);
    const auto fits = [&] { return s->buffer.size() + static_cast<std::size_t>(count) <= s->capacity; };
    if (!s->bufferCv.wait_until(lock, deadline, fits))
      throw ESerialPortError("Output buffer is full. Please check comm status.");
    s->buffer.append(src, static_cast<std::size_t>(count));
  }
  s->bufferCv.notify_all();
  return count;
}

bool TCustomSerialPort::WriteString(std::string_view text) {
  return WriteData(text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
}

bool TCustomSerialPort::WriteByte(uint8_t byte) {
  const char c = static_cast<char>(byte);
  return WriteData(&c, 1) == 1;
}

void TCustomSerialPort::Drain() {
  if (!IsOpen()) return;
  std::lock_guard lock(m_writeLock);
  while (::tcdrain(m_fd.Get()) != 0) {
    if (errno != EINTR) RaiseCommError("Error draining output (%d), %s", errno);
  }
}

bool TCustomSerialPort::WaitForInput(int timeoutMs) {
  if (!IsOpen()) return false;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    int queued = 0;
    if (::ioctl(m_fd.Get(), FIONREAD, &queued) == 0 && queued > 0) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fd{m_fd.Get(), POLLIN, 0};
    const int ready = ::poll(&fd, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return false;
    // A hung-up line reports without data: no reason to sit out the time.
    if (ready > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fd.revents & POLLIN)) return false;
  }
}

void TCustomSerialPort::Purge(uint32_t actions) {
  if (!IsOpen()) return;
  std::lock_guard lock(m_readLock);
  if (m_session && !m_directWrite && actions != (PURGE_RXABORT | PURGE_RXCLEAR)) {
    std::lock_guard writeLock(m_writeLock);
    {
      std::lock_guard bufferLock(m_session->mutex);
      m_session->buffer.clear();
      ++m_session->generation;
    }
    m_session->bufferCv.notify_all();
    Signal(m_session->writeWake.Get());
  }
  const bool input = actions & (PURGE_RXABORT | PURGE_RXCLEAR);
  const bool output = actions & (PURGE_TXABORT | PURGE_TXCLEAR);
  if (int error = FlushDevice(m_fd.Get(), input, output))
    RaiseCommError("Error clearing buffers (%d), %s", error);
}

TSerialStatus TCustomSerialPort::ReadErrors() {
  TSerialStatus status;
  if (!IsOpen()) return status;
  std::lock_guard lock(m_readLock);
  if (int error = QueueCounts(m_fd.Get(), status.inQueue, status.outQueue))
    RaiseCommError("Error retrieving statistics (%d), %s", error);
  LineErrorCounters now = ReadLineErrorCounters(m_fd.Get());
  status.errors = LineErrorFlags(m_errorBaseline, now);
  m_errorBaseline = now;
  return status;
}

int TCustomSerialPort::InQueueCount() { return IsOpen() ? ReadErrors().inQueue : 0; }

void TCustomSerialPort::CallHandler(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& error) {
    if (!OnHandlerException) throw;
    OnHandlerException(error);
  }
}

void TCustomSerialPort::ProcessHandovers() {
  const std::shared_ptr<SerialSession> s = m_session;
  if (!s) return;  // closed: a waiting thread was released by the stop
  for (;;) {
    std::shared_ptr<HandoverRequest> request;
    {
      std::lock_guard lock(s->mutex);
      if (s->stop || s->pending.empty()) return;
      request = s->pending.front();
      s->pending.pop_front();
    }
    // Release the waiting thread whatever the handlers do.
    int unread = 0;
    struct Release {
      SerialSession& s;
      HandoverRequest& request;
      const int& unread;
      ~Release() {
        {
          std::lock_guard lock(s.mutex);
          request.done = true;
          request.unread = unread;
        }
        s.handoverCv.notify_all();
      }
    } release{*s, *request, unread};
    unread = Dispatch(request->events, request->lost);
  }
}

int TCustomSerialPort::Dispatch(uint32_t events, bool deviceLost) {
  if (deviceLost) {
    HandleDeviceLost();
    return 0;
  }
  if (!IsOpen()) return 0;
  m_unreadAnnounced = 0;
  if (events & EV_RXCHAR) {
    CallHandler([this] { HandleRxChar(); });
    events &= ~uint32_t{EV_RXCHAR};
  }
  if (events != 0 && IsOpen()) CallHandler([this, events] { HandleEvents(events); });
  const int unread = IsOpen() ? m_unreadAnnounced : 0;
  m_unreadAnnounced = 0;
  return unread;
}

void TCustomSerialPort::HandleDeviceLost() {
  if (!IsOpen()) return;
  if (OnDeviceLost)
    CallHandler([this] { OnDeviceLost(this); });
  else
    Close();
}

void TCustomSerialPort::HandleRxChar() {
  int count = 0;
  try {
    count = InQueueCount();
  } catch (const ESerialPortError&) {
    // Pulled out between the event thread's look and this count: that is
    // the device loss, not an error of the receive handler.
    pollfd fd{m_fd.Get(), 0, 0};
    if (::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL))) {
      HandleDeviceLost();
      return;
    }
    throw;
  }
  if (count <= 0) return;
  // No listeners are ever linked, so the bytes stay queued for OnRxChar.
  if (!OnRxChar) return;
  m_unreadAnnounced = count;
  OnRxChar(this, count);
}

void TCustomSerialPort::HandleRxBuf(const char* data, int count) {
  if (OnRxBuf) OnRxBuf(this, data, count);
}

void TCustomSerialPort::HandleEvents(uint32_t events) {
  if (events & EV_ERR) {
    TSerialStatus status = ReadErrors();
    if (status.errors != 0 && OnError) OnError(this, static_cast<int>(status.errors));
  }
  NotifyLinks(events);
  const std::pair<uint32_t, TNotifyEvent*> handlers[] = {
      {EV_RXFLAG, &OnRxFlag},     {EV_CTS, &OnCts},         {EV_DSR, &OnDsr},      {EV_RING, &OnRing},
      {EV_RLSD, &OnRlsd},         {EV_TXEMPTY, &OnTxEmpty}, {EV_BREAK, &OnBreak},  {EV_PERR, &OnPErr},
      {EV_RX80FULL, &OnRx80Full}, {EV_EVENT1, &OnEvent1},   {EV_EVENT2, &OnEvent2}};
  for (const auto& [bit, handler] : handlers)
    if ((events & bit) && *handler) (*handler)(this);
}

void TCustomSerialPort::SetBaudrate(TBaudrate value) {
  if (value == m_baudrate) return;
  m_baudrate = value;
  if (value != brUser) m_userBaudrate = 0;
  ApplyLineSettings();
}

void TCustomSerialPort::SetUserBaudrate(int value) {
  if (value == m_userBaudrate) return;
  m_userBaudrate = value;
  m_baudrate = brUser;
  ApplyLineSettings();
}

void TCustomSerialPort::SetParity(TParity value) {
  if (value == m_parity) return;
  m_parity = value;
  ApplyLineSettings();
}

void TCustomSerialPort::SetDatabits(TDatabits value) {
  if (value == m_databits) return;
  m_databits = value;
  ApplyLineSettings();
}

void TCustomSerialPort::SetStopbits(TStopbits value) {
  if (value == m_stopbits) return;
  m_stopbits = value;
  ApplyLineSettings();
}

void TCustomSerialPort::SetOptions(TSerialOptions value) {
  if (value == m_options) return;
  m_options = value;
  ApplyLineSettings();
}

void TCustomSerialPort::SetPortNum(int value) {
  if (value == m_portNum) return;
  CheckClosed();
  m_portNum = value < 0 ? 0 : value;
}

void TCustomSerialPort::SetDeviceName(const std::string& value) {
  if (value == m_deviceName) return;
  CheckClosed();
  m_deviceName = value;
}

void TCustomSerialPort::SetMonitorEvents(TSerialEvents value) {
  if (value == m_monitorEvents) return;
  CheckClosed();
  m_monitorEvents = value;
}

void TCustomSerialPort::SetDirectWrite(bool value) {
  if (value == m_directWrite) return;
  CheckClosed();
  m_directWrite = value;
}

void TCustomSerialPort::SetUpdateDCB(bool value) {
  if (value == m_updateDCB) return;
  CheckClosed();
  m_updateDCB = value;
}
