#include "serial_port.h"

#include <chrono>
#include <thread>

#include "escape_text.h"
#include "serial_backend.h"
#include "serial_session.h"

// Opening, closing and the line settings. Reading and writing are in
// serial_port_io.cpp, the events handed over by the threads in
// serial_port_events.cpp, the threads in serial_session.cpp.

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
  // One open per connection, and nothing reaches the line before it is raw:
  // a device starts with the kernel's defaults (echo, canonical input, DTR
  // and RTS up), so the claim comes first, then the line settings, then both
  // queues are emptied of what those defaults let in; only then the threads.
  OpenDevice();
  try {
    ApplyLineSettings();
    if (int error = m_device->Flush(true, true)) {
      ESerialPortError e(FormatOsError("Error clearing buffers (%d), %s", error));
      e.detail = FormatOsError(
          "Emptying the queues of " + EscapeControls(DevicePath()) + " failed in the system: Error %d, %s",
          error);
      throw e;
    }
    // The device's reads return at once with what is queued; the line
    // errors count from here.
    m_eventMask = ComputeEventMask();
    m_device->TakeLineErrors();
    StartThreads();
  } catch (...) {
    if (m_session) m_session->Stop();
    m_session.reset();
    m_device->Release();
    m_device.reset();
    throw;
  }
  if (OnOpen) CallHandler([this] { OnOpen(this); });
}

void TCustomSerialPort::OpenDevice() {
  const std::string path = DevicePath();
  int error = 0;
  bool missing = false;
  std::unique_ptr<SerialBackend> device = OpenSerialBackend(path, error, missing);
  if (!device) {
    ESerialPortError e(missing ? "Specified device not found (" + EscapeControls(path) + ")."
                               : "Can't open specified device " + EscapeControls(path) + " (Error " +
                                     std::to_string(error) + ", " + OsErrorText(error) + ")");
    e.deviceError = error;
    throw e;
  }
  m_device = std::move(device);
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
  s->device = m_device;
  if (!m_directWrite) s->capacity = static_cast<std::size_t>(m_buffers.WriteSize());
  if (int error = m_device->SetEventMask(m_eventMask))
    RaiseCommError(" Error setting EventMask (%d), %s", error);
  m_session = s;
  // Priorities are kept but not applied: raising a thread's priority needs
  // privileges a desktop user does not have.
  if (m_eventMask != 0) {
    ++s->running;
    std::thread(RunEventThread, s).detach();
  }
  if (!m_directWrite) {
    ++s->running;
    std::thread(RunWriteThread, s).detach();
  }
}

void TCustomSerialPort::Close() {
  if (!IsOpen()) return;
  std::shared_ptr<SerialSession> session;
  {
    std::lock_guard lock(m_readLock);
    session = std::move(m_session);
    if (session) session->Stop();
  }
  // The threads may still hold the device a moment: the claim goes now.
  m_device->Release();
#ifdef _WIN32
  // A Win32 port stays claimed until its handle is closed. The threads,
  // stopped above and out of any hand-over, leave within moments; then the
  // session lets go of the device, so the next open does not find it taken.
  if (session) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (session->running.load() > 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (session->running.load() == 0) session->device.reset();
  }
#endif
  session.reset();
  m_device.reset();
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
  if (!LineConfigSupported(c)) RaiseCommError("Error writing dcb (%d), %s", kUnsupportedLineError);
  const std::string path = EscapeControls(DevicePath());
  if (int error = m_device->Apply(c, m_buffers.ReadSize(), m_buffers.WriteSize())) {
    // A port with no UART behind it (COM3 on many PCs) opens and then
    // refuses its settings: say that the system said so.
    ESerialPortError e(FormatOsError("Error writing dcb (%d), %s", error));
    e.detail = FormatOsError("Setting the line of " + path + " failed in the system: Error %d, %s", error);
    throw e;
  }
  // Drivers keep what they cannot run (a 16550 stays at 115200 when asked
  // for 230400) without an error: the line is not used at a speed or parity
  // nobody asked for.
  std::string notTaken;
  if (int error = m_device->CheckLineTaken(path, c, notTaken))
    RaiseCommError("Error writing dcb (%d), %s", error);
  if (!notTaken.empty()) {
    ESerialPortError e(FormatOsError("Error writing dcb (%d), %s", kUnsupportedLineError));
    e.detail = std::move(notTaken);
    throw e;
  }
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
