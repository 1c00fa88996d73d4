// The Win32 serial back end: CreateFile on \\.\COMn with overlapped I/O, the
// DCB, COMMTIMEOUTS that make a read return at once, WaitCommEvent with an
// event of its own and a second one to wake it, PurgeComm, ClearCommError.
// Correct for Windows, and tolerant of where wine on a pseudo-terminal
// differs: an overlapped read stays pending while nothing waits (reads ask
// the queue first), an idle WaitCommEvent ends at once with
// ERROR_OPERATION_ABORTED (the wait backs off instead of spinning), and the
// modem-line calls fail (DTR and RTS go through the DCB only).

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "serial_backend.h"

namespace {

// Line event bits of serial_types.h; the same values as Win32's.
constexpr uint32_t kRxChar = 0x0001;
constexpr uint32_t kTxEmpty = 0x0004;

// After a wait that ended without an event (wine's aborted waits on an idle
// line), the next one starts this much later, so such a loop stays idle.
constexpr DWORD kBackoffMs = 20;

class Event {
 public:
  Event() : m_handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Event() {
    if (m_handle) ::CloseHandle(m_handle);
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE Get() const { return m_handle; }

 private:
  HANDLE m_handle;
};

// Waits for an overlapped transfer at most `ms`; a transfer still running
// then is cancelled and waited for, so it never outlives its buffer.
bool Finish(HANDLE device, OVERLAPPED& ov, DWORD ms, DWORD& done) {
  if (::WaitForSingleObject(ov.hEvent, ms) != WAIT_OBJECT_0) ::CancelIoEx(device, &ov);
  if (::GetOverlappedResult(device, &ov, &done, TRUE)) return true;
  return ::GetLastError() == ERROR_OPERATION_ABORTED;  // cancelled: `done` holds what moved
}

bool LostDeviceError(DWORD code) {
  return code == ERROR_BAD_COMMAND || code == ERROR_ACCESS_DENIED || code == ERROR_DEVICE_REMOVED ||
         code == ERROR_INVALID_HANDLE || code == ERROR_GEN_FAILURE || code == ERROR_FILE_NOT_FOUND;
}

class Win32Serial : public SerialBackend {
 public:
  explicit Win32Serial(HANDLE device) : m_device(device) {}
  ~Win32Serial() override {
    ::CancelIoEx(m_device, nullptr);
    ::CloseHandle(m_device);
  }

  int Apply(const LineConfig& c, int inQueue, int outQueue) override {
    if (!::SetupComm(m_device, static_cast<DWORD>(inQueue), static_cast<DWORD>(outQueue)))
      return static_cast<int>(::GetLastError());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(c.baudrate);
    dcb.fBinary = TRUE;
    dcb.fParity = c.parityCheck;
    dcb.fOutxCtsFlow = c.outCtsFlow;
    dcb.fOutxDsrFlow = c.outDsrFlow;
    dcb.fDtrControl = c.dtr == LineConfig::On          ? DTR_CONTROL_ENABLE
                      : c.dtr == LineConfig::Handshake ? DTR_CONTROL_HANDSHAKE
                                                       : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = c.rts == LineConfig::On          ? RTS_CONTROL_ENABLE
                      : c.rts == LineConfig::Handshake ? RTS_CONTROL_HANDSHAKE
                      : c.rts == LineConfig::Toggle    ? RTS_CONTROL_TOGGLE
                                                       : RTS_CONTROL_DISABLE;
    dcb.fOutX = c.xonXoffOut;
    dcb.fInX = c.xonXoffIn;
    dcb.fNull = c.nullStrip;
    dcb.XonLim = 1024;
    dcb.XoffLim = 1024;
    dcb.ByteSize = static_cast<BYTE>(c.databits);
    switch (c.parity) {
      case LineConfig::Odd:
        dcb.Parity = ODDPARITY;
        break;
      case LineConfig::Even:
        dcb.Parity = EVENPARITY;
        break;
      case LineConfig::Mark:
        dcb.Parity = MARKPARITY;
        break;
      case LineConfig::Space:
        dcb.Parity = SPACEPARITY;
        break;
      default:
        dcb.Parity = NOPARITY;
    }
    dcb.StopBits = c.stopbits2x == 3 ? ONE5STOPBITS : c.stopbits2x == 4 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.XonChar = static_cast<char>(c.xonChar);
    dcb.XoffChar = static_cast<char>(c.xoffChar);
    if (!::SetCommState(m_device, &dcb)) return static_cast<int>(::GetLastError());
    // A read completes at once with what is queued; writes have no driver
    // time-out (Write keeps its own deadline).
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!::SetCommTimeouts(m_device, &timeouts)) return static_cast<int>(::GetLastError());
    return 0;
  }

  int ReadBackBaudrate(int& baud) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(m_device, &dcb)) return static_cast<int>(::GetLastError());
    baud = static_cast<int>(dcb.BaudRate);
    return 0;
  }

  int SetEventMask(uint32_t mask) override {
    m_mask = mask;
    return ::SetCommMask(m_device, mask) ? 0 : static_cast<int>(::GetLastError());
  }

  long long Read(char* buffer, size_t size, int& error) override {
    int in = 0, out = 0;
    if ((error = QueueCounts(in, out)) != 0) return -1;
    if (in == 0 || size == 0) return 0;  // never start a read that could stay pending
    OVERLAPPED ov{};
    ov.hEvent = m_readDone.Get();
    ::ResetEvent(ov.hEvent);
    DWORD done = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(size, static_cast<size_t>(in)));
    if (!::ReadFile(m_device, buffer, want, &done, &ov)) {
      const DWORD code = ::GetLastError();
      if (code != ERROR_IO_PENDING) {
        error = static_cast<int>(code);
        return -1;
      }
      if (!Finish(m_device, ov, 1000, done)) {
        error = static_cast<int>(::GetLastError());
        return -1;
      }
    }
    return done;
  }

  long long Write(const char* data, size_t size, int deadlineMs, int& error) override {
    OVERLAPPED ov{};
    ov.hEvent = m_writeDone.Get();
    ::ResetEvent(ov.hEvent);
    DWORD done = 0;
    if (!::WriteFile(m_device, data, static_cast<DWORD>(size), &done, &ov)) {
      const DWORD code = ::GetLastError();
      if (code != ERROR_IO_PENDING) {
        error = static_cast<int>(code);
        return -1;
      }
      if (!Finish(m_device, ov, static_cast<DWORD>(std::max(deadlineMs, 0)), done)) {
        error = static_cast<int>(::GetLastError());
        return -1;
      }
    }
    return done;
  }

  int QueueCounts(int& in, int& out) override {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(m_device, &errors, &status)) return static_cast<int>(::GetLastError());
    {
      const std::lock_guard lock(m_errorMutex);
      m_errors |= errors & (CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK);
    }
    in = static_cast<int>(status.cbInQue);
    out = static_cast<int>(status.cbOutQue);
    return 0;
  }

  int Flush(bool input, bool output) override {
    DWORD flags = 0;
    if (input) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
    if (output) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    if (flags == 0 || ::PurgeComm(m_device, flags)) return 0;
    return static_cast<int>(::GetLastError());
  }

  int Drain(int deadlineMs) override {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    for (;;) {
      int in = 0, out = 0;
      if (const int rc = QueueCounts(in, out)) return rc;
      if (out == 0) return 0;
      if (deadlineMs >= 0 && std::chrono::steady_clock::now() >= end) return ERROR_TIMEOUT;
      ::Sleep(5);  // not on the wake event: a wake meant for WaitEvents stays set
    }
  }

  WaitResult WaitEvents(int timeoutMs, uint32_t& events) override {
    events = 0;
    if (::WaitForSingleObject(m_wake.Get(), 0) == WAIT_OBJECT_0) {
      ::ResetEvent(m_wake.Get());
      return WaitResult::Woken;
    }
    const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    OVERLAPPED ov{};
    ov.hEvent = m_waitDone.Get();
    ::ResetEvent(ov.hEvent);
    DWORD mask = 0;
    DWORD code = ERROR_SUCCESS;
    if (!::WaitCommEvent(m_device, &mask, &ov)) {
      code = ::GetLastError();
      if (code == ERROR_IO_PENDING) {
        const HANDLE handles[2] = {ov.hEvent, m_wake.Get()};
        const DWORD which = ::WaitForMultipleObjects(2, handles, FALSE, limit);
        if (which != WAIT_OBJECT_0) {
          // Woken or timed out: end the pending wait (a new mask completes
          // it) and let it finish before `mask` and `ov` go out of scope.
          ::SetCommMask(m_device, m_mask);
          DWORD ignored = 0;
          if (!::GetOverlappedResult(m_device, &ov, &ignored, TRUE)) ::CancelIoEx(m_device, &ov);
          if (which == WAIT_OBJECT_0 + 1) {
            ::ResetEvent(m_wake.Get());
            return WaitResult::Woken;
          }
          return QueuedAsEvents(events) ? WaitResult::Events : WaitResult::TimedOut;
        }
        DWORD ignored = 0;
        code = ::GetOverlappedResult(m_device, &ov, &ignored, FALSE) ? ERROR_SUCCESS : ::GetLastError();
      }
    }
    if (code == ERROR_SUCCESS && mask != 0) {
      events = mask & m_mask;
      if (events & kRxChar) {
        // Reported again while bytes stay unread (wine): only news counts.
        int in = 0, out = 0;
        if (QueueCounts(in, out) == 0 && in == 0) events &= ~kRxChar;
      }
      if (events) return WaitResult::Events;
    }
    if (code != ERROR_SUCCESS && code != ERROR_OPERATION_ABORTED && LostDeviceError(code))
      return WaitResult::Lost;
    // Ended without an event (wine's aborted wait on an idle line, a mask
    // change): look at the queue, then pause before the next wait.
    int in = 0, out = 0;
    if (QueueCounts(in, out) != 0) return WaitResult::Lost;
    if (QueuedAsEvents(events)) return WaitResult::Events;
    const DWORD pause = std::min<DWORD>(kBackoffMs, limit);
    if (::WaitForSingleObject(m_wake.Get(), pause) == WAIT_OBJECT_0) {
      ::ResetEvent(m_wake.Get());
      return WaitResult::Woken;
    }
    return QueuedAsEvents(events) ? WaitResult::Events : WaitResult::TimedOut;
  }

  void Wake() override { ::SetEvent(m_wake.Get()); }

  uint32_t TakeLineErrors() override {
    int in = 0, out = 0;
    QueueCounts(in, out);
    const std::lock_guard lock(m_errorMutex);
    const uint32_t errors = m_errors;
    m_errors = 0;
    return errors;
  }

 private:
  // Bytes waiting count as a receive event even when no wait reported them.
  bool QueuedAsEvents(uint32_t& events) {
    int in = 0, out = 0;
    if (QueueCounts(in, out) != 0) return false;
    if ((m_mask & kRxChar) && in > 0) events |= kRxChar;
    return events != 0;
  }

  HANDLE m_device;
  uint32_t m_mask = 0;
  Event m_readDone, m_writeDone, m_waitDone, m_wake;
  std::mutex m_errorMutex;
  uint32_t m_errors = 0;
};

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

}  // namespace

bool LineConfigSupported(const LineConfig& config) {
  // The DCB carries every setting; only impossible values are refused here.
  return config.baudrate > 0 && config.databits >= 4 && config.databits <= 8 && config.stopbits2x >= 2 &&
         config.stopbits2x <= 4;
}

std::unique_ptr<SerialBackend> SerialBackend::Open(const std::string& path, int& error, bool& notFound) {
  notFound = false;
  const HANDLE device = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    error = static_cast<int>(code);
    notFound = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  return std::make_unique<Win32Serial>(device);
}

std::string SerialErrorText(int error) {
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  std::string result = n && text ? std::string(text, n) : "Error " + std::to_string(error);
  if (text) ::LocalFree(text);
  while (!result.empty() &&
         (result.back() == ' ' || result.back() == '.' || result.back() == '\r' || result.back() == '\n'))
    result.pop_back();
  return result;
}
