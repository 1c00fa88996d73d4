// Reading, writing and the driver's queues of TSerialPort (GUI thread).
#include <algorithm>
#include <chrono>

#include "serial_backend.h"
#include "serial_port.h"
#include "serial_session.h"

int TCustomSerialPort::ReadData(char* dest, int count) {
  if (!IsOpen() || count <= 0) return 0;
  std::lock_guard lock(m_readLock);
  int error = 0;
  const long long n = m_device->Read(dest, static_cast<std::size_t>(count), error);
  if (n >= 0) {
    m_unreadAnnounced = std::max(0, m_unreadAnnounced - static_cast<int>(n));
    return static_cast<int>(n);
  }
  // Pulled out since the bytes were announced: the loss is told on its own.
  if (m_device->HungUp(error)) return 0;
  RaiseCommError("Read error (%d), %s", error);
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
  int error = 0;
  const long long n = m_device->Write(src, static_cast<std::size_t>(count), m_buffers.ReadTimeout(), error);
  if (n < 0) {
    if (m_device->HungUp(error)) return -1;
    RaiseCommError("Write error (%d), %s", error);
  }
  if (n < count) {
    // Given up at the deadline: take back what the driver still holds of
    // this transfer, so no half command goes out later.
    m_device->Flush(false, true);
    return 0;
  }
  if ((m_eventMask & EV_TXEMPTY) && m_session) {
    m_session->txPending = true;
    m_device->Wake();
  }
  return count;
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
    const int error = m_device->Drain(-1);
    if (error == 0) return;
    if (!m_device->HungUp(error)) RaiseCommError("Error draining output (%d), %s", error);
  }
  HandleDeviceLost();
}

bool TCustomSerialPort::WaitForInput(int timeoutMs) {
  if (!IsOpen()) return false;
  bool lost = false;
  if (m_device->WaitReadable(timeoutMs, lost)) return true;
  // A hung-up line: the loss, told now, inside the exchange that waits,
  // rather than after it.
  if (lost) HandleDeviceLost();
  return false;
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
  }
  const bool input = actions & (PURGE_RXABORT | PURGE_RXCLEAR);
  // Only bytes the device still holds are thrown away. A pseudo-terminal
  // never holds any (its queue reads 0), yet flushing its output empties
  // the other side's input: bytes written and drained before the purge,
  // which a real line would already have sent, were lost now and then.
  int in = 0, queued = 0;
  const bool output =
      (actions & (PURGE_TXABORT | PURGE_TXCLEAR)) && !(m_device->QueueCounts(in, queued) == 0 && queued == 0);
  const int error = m_device->Flush(input, output);
  if (error == 0) return 0;
  // A pulled device: the caller reports the loss once the lock is free.
  if (m_device->HungUp(error)) return error;
  RaiseCommError("Error clearing buffers (%d), %s", error);
}

TSerialStatus TCustomSerialPort::ReadErrors() {
  TSerialStatus status;
  if (!IsOpen()) return status;
  std::lock_guard lock(m_readLock);
  if (int error = m_device->QueueCounts(status.inQueue, status.outQueue))
    RaiseCommError("Error retrieving statistics (%d), %s", error);
  status.errors = m_device->TakeLineErrors();
  if (m_session) status.errors |= m_session->lineErrors.exchange(0);
  return status;
}

int TCustomSerialPort::InQueueCount() { return IsOpen() ? ReadErrors().inQueue : 0; }
