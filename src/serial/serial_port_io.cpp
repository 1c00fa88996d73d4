// Reading, writing and the driver's queues of TSerialPort (GUI thread).
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "serial_port.h"
#include "serial_session.h"

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
    // Pulled out since the bytes were announced: the loss is told on its own.
    if (LineHungUp(m_fd.Get())) return 0;
    RaiseCommError("Read error (%d), %s", errno);
  }
}

int TCustomSerialPort::WriteData(const char* src, int count) {
  if (!IsOpen() || count <= 0) return 0;
  return m_directWrite ? WriteDirect(src, count) : WriteBuffered(src, count);
}

int TCustomSerialPort::WriteDirect(const char* src, int count) {
  const int written = WriteDirectLocked(src, count);
  if (written < 0) {
    // Pulled out in the middle of an exchange: that is the loss, reported
    // as any loss (after the lock is given back: the loss closes the port),
    // and the write failed.
    HandleDeviceLost();
    return 0;
  }
  return written;
}

int TCustomSerialPort::WriteDirectLocked(const char* src, int count) {
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
    if (n < 0 && errno != EAGAIN) {
      if (LineHungUp(m_fd.Get())) return -1;
      RaiseCommError("Write error (%d), %s", errno);
    }
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
    SignalWake(m_session->eventWake.Get());
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
  {
    std::lock_guard lock(m_writeLock);
    for (;;) {
      if (::tcdrain(m_fd.Get()) == 0) return;
      if (errno == EINTR) continue;
      if (!LineHungUp(m_fd.Get())) RaiseCommError("Error draining output (%d), %s", errno);
      break;
    }
  }
  HandleDeviceLost();
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
    // A hung-up line reports without data: the loss, told now, inside the
    // exchange that waits, rather than after it.
    if (ready > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fd.revents & POLLIN)) {
      HandleDeviceLost();
      return false;
    }
  }
}

void TCustomSerialPort::Purge(uint32_t actions) {
  if (!IsOpen()) return;
  if (PurgeLocked(actions) != 0) HandleDeviceLost();
}

int TCustomSerialPort::PurgeLocked(uint32_t actions) {
  std::lock_guard lock(m_readLock);
  if (m_session && !m_directWrite && actions != (PURGE_RXABORT | PURGE_RXCLEAR)) {
    std::lock_guard writeLock(m_writeLock);
    {
      std::lock_guard bufferLock(m_session->mutex);
      m_session->buffer.clear();
      ++m_session->generation;
    }
    m_session->bufferCv.notify_all();
    SignalWake(m_session->writeWake.Get());
  }
  const bool input = actions & (PURGE_RXABORT | PURGE_RXCLEAR);
  // Only bytes the device still holds are thrown away. A pseudo-terminal
  // never holds any (its queue reads 0), yet flushing its output empties
  // the other side's input: bytes written and drained before the purge,
  // which a real line would already have sent, were lost now and then.
  int queued = 0;
  const bool output = (actions & (PURGE_TXABORT | PURGE_TXCLEAR)) &&
                      !(::ioctl(m_fd.Get(), TIOCOUTQ, &queued) == 0 && queued == 0);
  const int error = FlushDevice(m_fd.Get(), input, output);
  if (error == 0) return 0;
  // A pulled device: the caller reports the loss once the lock is free.
  if (LineHungUp(m_fd.Get())) return error;
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
