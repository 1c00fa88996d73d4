// Line settings through termios2. This is the only file that includes the
// kernel's <asm/termbits.h>: its struct termios clashes with <termios.h>.
#include <asm/termbits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <string>

#include <linux/serial.h>

#include "serial_device.h"
#include "serial_types.h"

namespace {

// The classic rate constants; anything else goes out as BOTHER with the exact
// rate, so tcgetattr still reads back B19200 for 19200.
speed_t StandardRate(int baudrate) {
  switch (baudrate) {
    case 50:
      return B50;
    case 75:
      return B75;
    case 110:
      return B110;
    case 134:
      return B134;
    case 150:
      return B150;
    case 200:
      return B200;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 1800:
      return B1800;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 500000:
      return B500000;
    case 576000:
      return B576000;
    case 921600:
      return B921600;
    case 1000000:
      return B1000000;
    default:
      return 0;
  }
}

// Modem lines of a pty or a plain file do not exist; that is not a failure.
int SetModemLine(int fd, int line, bool on) {
  if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return 0;
  if (errno == ENOTTY || errno == EINVAL) return 0;
  return errno;
}

}  // namespace

bool LineConfigSupported(const LineConfig& config) {
  return !(config.baudrate <= 0 || config.databits < 5 || config.databits > 8 || config.stopbits2x == 3 ||
           config.outDsrFlow || config.dtr == LineConfig::Handshake || config.dtr == LineConfig::Toggle ||
           config.rts == LineConfig::Toggle || config.nullStrip);
}

int ApplyLineConfig(int fd, const LineConfig& config) {
  // What Linux cannot carry is refused rather than silently ignored.
  if (!LineConfigSupported(config)) return EINVAL;

  struct termios2 tio {};
  tio.c_iflag = IGNBRK;
  if (config.parityCheck) tio.c_iflag |= INPCK;
  if (config.xonXoffOut) tio.c_iflag |= IXON;
  if (config.xonXoffIn) tio.c_iflag |= IXOFF;
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag = CREAD | CLOCAL;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag |= kSizes[config.databits - 5];
  if (config.stopbits2x == 4) tio.c_cflag |= CSTOPB;
  switch (config.parity) {
    case LineConfig::None:
      break;
    case LineConfig::Odd:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case LineConfig::Even:
      tio.c_cflag |= PARENB;
      break;
    case LineConfig::Mark:
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case LineConfig::Space:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (config.outCtsFlow || config.rts == LineConfig::Handshake) tio.c_cflag |= CRTSCTS;
  speed_t standard = StandardRate(config.baudrate);
  if (standard != 0) {
    tio.c_cflag |= standard;
  } else {
    tio.c_cflag |= BOTHER;
  }
  tio.c_ispeed = static_cast<speed_t>(config.baudrate);
  tio.c_ospeed = static_cast<speed_t>(config.baudrate);
  // Reads return at once with whatever is queued.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  tio.c_cc[VSTART] = config.xonChar;
  tio.c_cc[VSTOP] = config.xoffChar;
  if (::ioctl(fd, TCSETS2, &tio) != 0) return errno;

  if (config.rts != LineConfig::Handshake) {
    if (int err = SetModemLine(fd, TIOCM_RTS, config.rts == LineConfig::On)) return err;
  }
  return SetModemLine(fd, TIOCM_DTR, config.dtr == LineConfig::On);
}

namespace {

int RateOf(speed_t code, speed_t exact) {
  if (code == BOTHER) return static_cast<int>(exact);
  static constexpr int kRates[] = {50,     75,     110,    134,    150,    200,    300,    600,
                                   1200,   1800,   2400,   4800,   9600,   19200,  38400,  57600,
                                   115200, 230400, 460800, 500000, 576000, 921600, 1000000};
  for (int rate : kRates)
    if (StandardRate(rate) == code) return rate;
  return 0;
}

bool SpeedClose(int asked, int taken) {
  const long long diff = static_cast<long long>(asked) - taken;
  return (diff < 0 ? -diff : diff) * 50 <= asked;
}

const char* ParityName(LineConfig::Parity parity) {
  static constexpr const char* kNames[] = {"None", "Odd", "Even", "Mark", "Space"};
  return kNames[parity];
}

}  // namespace

int ReadLineTaken(int fd, LineTaken& taken) {
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return errno;
  taken.outSpeed = RateOf(tio.c_cflag & CBAUD, tio.c_ospeed);
  // An input code of B0 means "as the output".
  const speed_t in = (tio.c_cflag >> IBSHIFT) & CBAUD;
  taken.inSpeed = in == B0 ? taken.outSpeed : RateOf(in, tio.c_ispeed);
  if (!(tio.c_cflag & PARENB))
    taken.parity = LineConfig::None;
  else if (tio.c_cflag & CMSPAR)
    taken.parity = (tio.c_cflag & PARODD) ? LineConfig::Mark : LineConfig::Space;
  else
    taken.parity = (tio.c_cflag & PARODD) ? LineConfig::Odd : LineConfig::Even;
  struct stat st {};
  // Unix98 pty slaves: majors 136..143.
  taken.pseudoTerminal = ::fstat(fd, &st) == 0 && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
  return 0;
}

std::string LineNotTaken(const std::string& path, const LineConfig& asked, const LineTaken& taken) {
  if (SpeedClose(asked.baudrate, taken.outSpeed) && SpeedClose(asked.baudrate, taken.inSpeed) &&
      (asked.parity == taken.parity || taken.pseudoTerminal))
    return {};
  const int runs = SpeedClose(asked.baudrate, taken.outSpeed) ? taken.inSpeed : taken.outSpeed;
  return "The driver of " + path + " runs the line at " + std::to_string(runs) + " bit/s, parity " +
         ParityName(taken.parity) + ", not at the " + std::to_string(asked.baudrate) + " bit/s, parity " +
         ParityName(asked.parity) + " asked for";
}

bool LineHungUp(int fd, int error) {
  if (error == ENODEV) return true;
  pollfd p{fd, 0, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

int FlushDevice(int fd, bool input, bool output) {
  if (!input && !output) return 0;
  int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
  return ::ioctl(fd, TCFLSH, which) == 0 ? 0 : errno;
}

int QueueCounts(int fd, int& in, int& out) {
  in = 0;
  out = 0;
  if (::ioctl(fd, FIONREAD, &in) != 0) return errno;
  // Not every device knows its output queue; an unknown one counts as empty.
  if (::ioctl(fd, TIOCOUTQ, &out) != 0) out = 0;
  return 0;
}

LineErrorCounters ReadLineErrorCounters(int fd) {
  struct serial_icounter_struct icount {};
  LineErrorCounters counters;
  if (::ioctl(fd, TIOCGICOUNT, &icount) != 0) return counters;
  counters.frame = icount.frame;
  counters.overrun = icount.overrun;
  counters.parity = icount.parity;
  counters.brk = icount.brk;
  counters.bufOverrun = icount.buf_overrun;
  return counters;
}

uint32_t LineErrorFlags(const LineErrorCounters& before, const LineErrorCounters& after) {
  uint32_t flags = 0;
  if (after.bufOverrun != before.bufOverrun) flags |= CE_RXOVER;
  if (after.overrun != before.overrun) flags |= CE_OVERRUN;
  if (after.parity != before.parity) flags |= CE_RXPARITY;
  if (after.frame != before.frame) flags |= CE_FRAME;
  if (after.brk != before.brk) flags |= CE_BREAK;
  return flags;
}
