#pragma once
// Enumerations and configuration sub-objects of TSerialPort.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>

// The only error the serial component raises.
class ESerialPortError : public std::runtime_error {
 public:
  explicit ESerialPortError(const std::string& message) : std::runtime_error(message) {}

  // Open only: the errno of opening and claiming the device (what a probe
  // learns: missing, busy, no permission), 0 when that step went through.
  int deviceError = 0;
  // Open only: one line for the operator on what the system or the driver
  // reported, when it was neither the device's absence nor our own refusal.
  std::string detail;
};

enum TBaudrate {
  brUser,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};

// The rate in bit/s a member stands for; 0 for brUser.
int BaudrateValue(TBaudrate rate);

enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TDatabits { db4, db5, db6, db7, db8 };
enum TStopbits { sb1, sb15, sb2 };
enum TControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum TControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

enum TSerialOption { coErrorChar, coNullStrip, coParityCheck };
enum TSerialEvent {
  ceBreak,
  ceCts,
  ceDsr,
  ceError,
  ceRing,
  ceRlsd,
  ceRxChar,
  ceTxEmpty,
  ceRxFlag,
  cePErr,
  ceRx80Full,
  ceEvent1,
  ceEvent2
};

// A small set of enumeration members, one bit per member.
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) m_bits |= Bit(m);
  }
  constexpr bool Contains(E m) const { return (m_bits & Bit(m)) != 0; }
  constexpr TSet& Include(E m) {
    m_bits |= Bit(m);
    return *this;
  }
  constexpr TSet& Exclude(E m) {
    m_bits &= ~Bit(m);
    return *this;
  }
  constexpr bool Empty() const { return m_bits == 0; }
  constexpr uint32_t Bits() const { return m_bits; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr uint32_t Bit(E m) { return uint32_t{1} << static_cast<unsigned>(m); }
  uint32_t m_bits = 0;
};

using TSerialOptions = TSet<TSerialOption>;
using TSerialEvents = TSet<TSerialEvent>;

// Line event bits as the event thread reports them (one per event kind).
enum : uint32_t {
  EV_RXCHAR = 0x0001,
  EV_RXFLAG = 0x0002,
  EV_TXEMPTY = 0x0004,
  EV_CTS = 0x0008,
  EV_DSR = 0x0010,
  EV_RLSD = 0x0020,
  EV_BREAK = 0x0040,
  EV_ERR = 0x0080,
  EV_RING = 0x0100,
  EV_PERR = 0x0200,
  EV_RX80FULL = 0x0400,
  EV_EVENT1 = 0x0800,
  EV_EVENT2 = 0x1000,
};

// Line error flags passed to OnError and returned by ReadErrors.
enum : uint32_t {
  CE_RXOVER = 0x0001,
  CE_OVERRUN = 0x0002,
  CE_RXPARITY = 0x0004,
  CE_FRAME = 0x0008,
  CE_BREAK = 0x0010,
};

// Configuration sub-object that tells its owner about changes. Assigning a
// whole object notifies once.
class TSerialPersistent {
 public:
  using ChangeCallback = std::function<void()>;
  virtual ~TSerialPersistent() = default;

  void BeginUpdate() { ++m_updateCount; }
  void EndUpdate() {
    if (m_updateCount > 0) --m_updateCount;
    Changed();
  }
  void Changed() {
    if (m_updateCount == 0 && m_onChange) m_onChange();
  }
  void SetOnChange(ChangeCallback callback) { m_onChange = std::move(callback); }
  // Asked before any field changes; it may refuse by throwing, and then
  // nothing has changed.
  void SetBeforeChange(ChangeCallback callback) { m_beforeChange = std::move(callback); }

 protected:
  TSerialPersistent() = default;
  TSerialPersistent(const TSerialPersistent&) {}
  TSerialPersistent& operator=(const TSerialPersistent&) { return *this; }

  // Stores `value` in `field` and notifies when it differs.
  template <typename T>
  void Set(T& field, T value) {
    if (field == value) return;
    BeforeChange();
    field = value;
    Changed();
  }

  void BeforeChange() {
    if (m_beforeChange) m_beforeChange();
  }

  // Assigning a whole sub-object copies every field and notifies once.
  template <typename Derived>
  static Derived& AssignAll(Derived& self, const Derived& other) {
    if (&self == &other) return self;
    self.BeforeChange();
    self.BeginUpdate();
    self.CopyFields(other);
    self.EndUpdate();
    return self;
  }

 private:
  int m_updateCount = 0;
  ChangeCallback m_onChange;
  ChangeCallback m_beforeChange;
};

// Queue sizes, time-outs and XON/XOFF limits (TIntW: 0..2147483647).
class TSerialBuffers : public TSerialPersistent {
 public:
  TSerialBuffers() = default;
  TSerialBuffers(const TSerialBuffers& other) : TSerialPersistent(), m_f(other.m_f) {}
  TSerialBuffers& operator=(const TSerialBuffers& other);

  int ReadSize() const { return m_f.readSize; }
  int WriteSize() const { return m_f.writeSize; }
  int ReadTimeout() const { return m_f.readTimeout; }
  int WriteTimeout() const { return m_f.writeTimeout; }
  int XonLimit() const { return m_f.xonLimit; }
  int XoffLimit() const { return m_f.xoffLimit; }

  void SetReadSize(int value) { Set(m_f.readSize, Clamp(value)); }
  void SetWriteSize(int value) { Set(m_f.writeSize, Clamp(value)); }
  // The two time-outs are read at the moment of use, so they need no notification.
  void SetReadTimeout(int value) { m_f.readTimeout = Clamp(value); }
  void SetWriteTimeout(int value) { m_f.writeTimeout = Clamp(value); }
  void SetXonLimit(int value) { Set(m_f.xonLimit, Clamp(value)); }
  void SetXoffLimit(int value) { Set(m_f.xoffLimit, Clamp(value)); }

 private:
  static int Clamp(int value) { return value < 0 ? 0 : value; }
  friend class TSerialPersistent;  // AssignAll
  void CopyFields(const TSerialBuffers& other) { m_f = other.m_f; }

  // Every field, so a copy takes each one, a field added later included.
  struct Fields {
    int readSize = 4096;
    int writeSize = 2048;
    int readTimeout = 1000;
    int writeTimeout = 1000;
    int xonLimit = 1024;
    int xoffLimit = 1024;
  } m_f;
};

// Hardware and software flow control.
class TSerialFlowControl : public TSerialPersistent {
 public:
  TSerialFlowControl() = default;
  TSerialFlowControl(const TSerialFlowControl& other) : TSerialPersistent(), m_f(other.m_f) {}
  TSerialFlowControl& operator=(const TSerialFlowControl& other);

  bool OutCtsFlow() const { return m_f.outCtsFlow; }
  bool OutDsrFlow() const { return m_f.outDsrFlow; }
  TControlDtr ControlDtr() const { return m_f.controlDtr; }
  TControlRts ControlRts() const { return m_f.controlRts; }
  bool XonXoffOut() const { return m_f.xonXoffOut; }
  bool XonXoffIn() const { return m_f.xonXoffIn; }
  bool DsrSensitivity() const { return m_f.dsrSensitivity; }
  bool TxContinueOnXoff() const { return m_f.txContinueOnXoff; }

  void SetOutCtsFlow(bool value) { Set(m_f.outCtsFlow, value); }
  void SetOutDsrFlow(bool value) { Set(m_f.outDsrFlow, value); }
  void SetControlDtr(TControlDtr value) { Set(m_f.controlDtr, value); }
  void SetControlRts(TControlRts value) { Set(m_f.controlRts, value); }
  void SetXonXoffOut(bool value) { Set(m_f.xonXoffOut, value); }
  void SetXonXoffIn(bool value) { Set(m_f.xonXoffIn, value); }
  void SetDsrSensitivity(bool value) { Set(m_f.dsrSensitivity, value); }
  void SetTxContinueOnXoff(bool value) { Set(m_f.txContinueOnXoff, value); }

 private:
  friend class TSerialPersistent;  // AssignAll
  void CopyFields(const TSerialFlowControl& other) { m_f = other.m_f; }

  // Every field, so a copy takes each one, a field added later included.
  struct Fields {
    bool outCtsFlow = false;
    bool outDsrFlow = false;
    TControlDtr controlDtr = dtrDisabled;
    TControlRts controlRts = rtsDisabled;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
  } m_f;
};

// Special characters of the line.
class TSerialEventChars : public TSerialPersistent {
 public:
  TSerialEventChars() = default;
  TSerialEventChars(const TSerialEventChars& other) : TSerialPersistent(), m_f(other.m_f) {}
  TSerialEventChars& operator=(const TSerialEventChars& other);

  uint8_t XonChar() const { return m_f.xonChar; }
  uint8_t XoffChar() const { return m_f.xoffChar; }
  uint8_t ErrorChar() const { return m_f.errorChar; }
  uint8_t EventChar() const { return m_f.eventChar; }
  uint8_t EofChar() const { return m_f.eofChar; }

  void SetXonChar(uint8_t value) { Set(m_f.xonChar, value); }
  void SetXoffChar(uint8_t value) { Set(m_f.xoffChar, value); }
  void SetErrorChar(uint8_t value) { Set(m_f.errorChar, value); }
  void SetEventChar(uint8_t value) { Set(m_f.eventChar, value); }
  void SetEofChar(uint8_t value) { Set(m_f.eofChar, value); }

 private:
  friend class TSerialPersistent;  // AssignAll
  void CopyFields(const TSerialEventChars& other) { m_f = other.m_f; }

  // Every field, so a copy takes each one, a field added later included.
  struct Fields {
    uint8_t xonChar = 17;
    uint8_t xoffChar = 19;
    uint8_t errorChar = 0;
    uint8_t eventChar = 0;
    uint8_t eofChar = 0;
  } m_f;
};
