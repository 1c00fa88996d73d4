#pragma once
// TSerialPort: one serial device, its event thread and, in buffered mode, its
// write thread. Every operation and every event handler runs on the thread
// the object lives in (the GUI thread); the event thread only waits for line
// events and hands each one over synchronously.

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "serial_device.h"
#include "serial_types.h"

// Purge actions.
enum : uint32_t {
  PURGE_TXABORT = 0x0001,
  PURGE_RXABORT = 0x0002,
  PURGE_TXCLEAR = 0x0004,
  PURGE_RXCLEAR = 0x0008,
};

// Line error flags and queue status, as ReadErrors returns them.
struct TSerialStatus {
  uint32_t errors = 0;
  int inQueue = 0;
  int outQueue = 0;
};

struct SerialSession;
class SerialBackend;

class TSerialComponent : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
};

class TCustomSerialPort : public TSerialComponent {
  Q_OBJECT
 public:
  using TNotifyEvent = std::function<void(TCustomSerialPort* sender)>;
  using TSerialErrorEvent = std::function<void(TCustomSerialPort* sender, int errors)>;
  using TSerialRxCharEvent = std::function<void(TCustomSerialPort* sender, int count)>;
  using TSerialRxBufEvent = std::function<void(TCustomSerialPort* sender, const char* data, int count)>;

  explicit TCustomSerialPort(QObject* parent = nullptr);
  ~TCustomSerialPort() override;

  // Operations (GUI thread).
  void Open();
  void Close();
  bool IsOpen() const { return m_device != nullptr; }
  int ReadData(char* dest, int count);
  int WriteData(const char* src, int count);
  bool WriteString(std::string_view text);
  bool WriteByte(uint8_t byte);
  void Purge(uint32_t actions);
  void PurgeAll() { Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR); }
  // Waits until the driver has sent every byte written directly.
  void Drain();
  // True as soon as a byte waits in the input queue; false after `timeoutMs`.
  bool WaitForInput(int timeoutMs);
  TSerialStatus ReadErrors();
  int InQueueCount();
  void CheckClosed() const;

  // The device path: DeviceName with its "%d" replaced by PortNum.
  std::string DevicePath() const;
  uint32_t EventMask() const { return m_eventMask; }

  // Properties. AutoOpen is the component's own; nothing here sets it.
  bool AutoOpen() const { return m_autoOpen; }
  void SetAutoOpen(bool value) { m_autoOpen = value; }
  TBaudrate Baudrate() const { return m_baudrate; }
  void SetBaudrate(TBaudrate value);
  int UserBaudrate() const { return m_userBaudrate; }
  void SetUserBaudrate(int value);
  TParity Parity() const { return m_parity; }
  void SetParity(TParity value);
  TDatabits Databits() const { return m_databits; }
  void SetDatabits(TDatabits value);
  TStopbits Stopbits() const { return m_stopbits; }
  void SetStopbits(TStopbits value);
  TSerialOptions Options() const { return m_options; }
  void SetOptions(TSerialOptions value);
  int PortNum() const { return m_portNum; }
  void SetPortNum(int value);
  const std::string& DeviceName() const { return m_deviceName; }
  void SetDeviceName(const std::string& value);
  TSerialEvents MonitorEvents() const { return m_monitorEvents; }
  void SetMonitorEvents(TSerialEvents value);
  TThreadPriority EventPriority() const { return m_eventPriority; }
  void SetEventPriority(TThreadPriority value) { m_eventPriority = value; }
  TThreadPriority WritePriority() const { return m_writePriority; }
  void SetWritePriority(TThreadPriority value) { m_writePriority = value; }
  // Everything here writes directly; the buffered mode (the write thread) is the component's own.
  bool DirectWrite() const { return m_directWrite; }
  void SetDirectWrite(bool value);
  bool UpdateDCB() const { return m_updateDCB; }
  void SetUpdateDCB(bool value);

  // Sub-objects; changing a field notifies the component.
  TSerialBuffers& Buffers() { return m_buffers; }
  void SetBuffers(const TSerialBuffers& value) { m_buffers = value; }
  TSerialFlowControl& FlowControl() { return m_flowControl; }
  void SetFlowControl(const TSerialFlowControl& value) { m_flowControl = value; }
  TSerialEventChars& EventChars() { return m_eventChars; }
  void SetEventChars(const TSerialEventChars& value) { m_eventChars = value; }

  // Events, all called on the GUI thread. The program wires OnRxChar and
  // OnDeviceLost; the others are the component's own.
  TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak, OnRxFlag, OnTxEmpty, OnPErr,
      OnRx80Full, OnEvent1, OnEvent2;
  TSerialErrorEvent OnError;
  TSerialRxCharEvent OnRxChar;
  TSerialRxBufEvent OnRxBuf;
  // The device went away while open (hang-up, I/O error): told once; the
  // event thread has stopped waiting on it. Without a handler the component
  // closes itself.
  TNotifyEvent OnDeviceLost;
  // Where exceptions from event handlers go. Unset: they propagate into the
  // event loop, where the application's error report catches them.
  std::function<void(const std::exception& error)> OnHandlerException;

 protected:
  virtual void OpenDevice();
  virtual void StartThreads();
  virtual void HandleRxChar();
  virtual void HandleEvents(uint32_t events);
  virtual void NotifyLinks(uint32_t events) { (void)events; }
  virtual void HandleRxBuf(const char* data, int count);

  void ApplyLineSettings();
  // Closes without OnClose, for the destructors. Each class that can be the
  // most derived one calls it first thing: the event thread posts by the
  // slot's name, which reads the object's vtable pointer, and the base
  // destructors rewrite that pointer. Once the session is stopped nothing is
  // posted any more.
  void CloseForDestruction();
  [[noreturn]] void RaiseCommError(const std::string& templ, int error) const;

 private slots:
  // Runs the events the session's threads have queued (posted by them).
  void ProcessHandovers();

 private:
  // Returns how many announced bytes the handler left unread.
  int Dispatch(uint32_t events, bool deviceLost);
  void HandleDeviceLost();
  int WriteDirect(const char* src, int count);
  // -1: the device was pulled out.
  int WriteDirectLocked(const char* src, int count);
  // Not 0: the device was pulled out.
  int PurgeLocked(uint32_t actions);
  int WriteBuffered(const char* src, int count);
  void CallHandler(const std::function<void()>& call);
  uint32_t ComputeEventMask() const;

  // The open device (shared with the session's threads), else null.
  std::shared_ptr<SerialBackend> m_device;
  std::shared_ptr<SerialSession> m_session;
  uint32_t m_eventMask = 0;
  std::mutex m_readLock;
  std::mutex m_writeLock;
  bool m_destroying = false;
  int m_unreadAnnounced = 0;  // announced by OnRxChar, not yet read

  bool m_autoOpen = false;
  TBaudrate m_baudrate = br1200;
  int m_userBaudrate = 0;
  TParity m_parity = paNone;
  TDatabits m_databits = db8;
  TStopbits m_stopbits = sb1;
  TSerialOptions m_options;
  int m_portNum = 0;
  std::string m_deviceName = "COM%d";
  TSerialEvents m_monitorEvents{ceError, ceRxChar, ceTxEmpty};
  TThreadPriority m_eventPriority = tpNormal;
  TThreadPriority m_writePriority = tpHighest;
  bool m_directWrite = false;
  bool m_updateDCB = true;
  TSerialBuffers m_buffers;
  TSerialFlowControl m_flowControl;
  TSerialEventChars m_eventChars;
};

class TSerialPort : public TCustomSerialPort {
  Q_OBJECT
 public:
  using TCustomSerialPort::TCustomSerialPort;
  ~TSerialPort() override;
};
