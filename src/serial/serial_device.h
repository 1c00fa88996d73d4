#pragma once
// The device layer under TSerialPort: line settings in plain values, error
// texts and port names on every system; on POSIX systems also the file
// descriptors, the exclusive open and termios (serial_device_unix.cpp,
// serial_line_unix.cpp), which serial_backend_unix.cpp is made of.

#include <cstdint>
#include <string>

// The OS text for an error code, without trailing blanks, control characters
// and full stops.
std::string OsErrorText(int error);

// Replaces "%d" with the code and "%s" with its text, once each.
std::string FormatOsError(const std::string& templ, int error);

// Maps a port name from the settings onto a device path: "COM3" ->
// "/dev/ttyS2", "/dev/..." as it stands, any other name under /dev. On
// Windows "COM3" -> "\\.\COM3", a name starting with "\\" as it stands.
// A registered device of the program's own keeps its name (serial_backend.h).
std::string DevicePathForPortName(const std::string& name);

// Line settings in plain values, as the device layer applies them.
struct LineConfig {
  int baudrate = 1200;  // bit/s
  int databits = 8;     // 4..8
  int stopbits2x = 2;   // stop bits times two: 2, 3 or 4
  enum Parity { None, Odd, Even, Mark, Space } parity = None;
  bool parityCheck = false;
  bool nullStrip = false;
  bool outCtsFlow = false;
  bool outDsrFlow = false;
  enum Line { Off, On, Handshake, Toggle };
  Line dtr = Off;
  Line rts = Off;
  bool xonXoffOut = false;
  bool xonXoffIn = false;
  uint8_t xonChar = 17;
  uint8_t xoffChar = 19;
};

// False for settings the system cannot carry (refused with the system's
// "invalid argument" code, kUnsupportedLineError, before asking the driver).
bool LineConfigSupported(const LineConfig& config);

#ifdef _WIN32
inline constexpr int kUnsupportedLineError = 87;  // ERROR_INVALID_PARAMETER
#else
inline constexpr int kUnsupportedLineError = 22;  // EINVAL
#endif

#ifndef _WIN32

// Owns one file descriptor; closes it on destruction.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }
  int Release() {
    int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int m_fd = -1;
};

// Opens a serial device the way the component does: read/write, no
// controlling terminal, non-blocking, exclusive (TIOCEXCL, and flock, which
// also stops root). On failure returns an invalid fd and sets `error`.
UniqueFd OpenSerialDevice(const std::string& path, int& error);

// Drops the exclusive claims before the descriptor is closed, so the device
// can be opened again at once even while a thread still holds a duplicate.
void ReleaseSerialDevice(int fd);

// Sets raw mode with the given settings (exact rates through termios2) and
// the DTR/RTS lines. Returns 0 or the errno of the refusal; settings Linux
// cannot carry give EINVAL.
int ApplyLineConfig(int fd, const LineConfig& config);

// What the driver holds after the settings: its speeds and parity.
struct LineTaken {
  int inSpeed = 0;
  int outSpeed = 0;
  LineConfig::Parity parity = LineConfig::None;
  bool pseudoTerminal = false;  // carries no parity bit: it keeps none
};
// Reads them back. Returns 0 or errno.
int ReadLineTaken(int fd, LineTaken& taken);
// "" when the line runs as asked (a speed within the 2 % a UART allows);
// otherwise the log line that says how it runs instead.
std::string LineNotTaken(const std::string& path, const LineConfig& asked, const LineTaken& taken);

// True when the device was pulled out: the call that failed with `error`
// was told ENODEV (a USB adapter's driver says so from the moment it is
// unplugged, a moment before its line reports the hang-up), or the line
// reports a hang-up or an error.
bool LineHungUp(int fd, int error = 0);

// Discards queued bytes: `input` the receive queue, `output` the transmit
// queue. Returns 0 or errno.
int FlushDevice(int fd, bool input, bool output);

// Bytes waiting in the input and output queues. Returns 0 or errno.
int QueueCounts(int fd, int& in, int& out);

// Line error counters (frame, overrun, parity, break, buffer overrun).
// Devices without them (ptys) report zeros.
struct LineErrorCounters {
  int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};
LineErrorCounters ReadLineErrorCounters(int fd);
// The CE_* flags for what grew between two readings.
uint32_t LineErrorFlags(const LineErrorCounters& before, const LineErrorCounters& after);

#endif  // !_WIN32
