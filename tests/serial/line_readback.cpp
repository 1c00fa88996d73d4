// Kept apart: <asm/termbits.h> clashes with <termios.h>.
#include "line_readback.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

LineReadback ReadLine(int fd) {
  LineReadback r;
  struct termios2 tio {};
  r.ok = ::ioctl(fd, TCGETS2, &tio) == 0;
  r.cflag = tio.c_cflag;
  r.iflag = tio.c_iflag;
  r.ispeed = tio.c_ispeed;
  r.ospeed = tio.c_ospeed;
  r.other = (tio.c_cflag & CBAUD) == BOTHER;
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      r.csize = 5;
      break;
    case CS6:
      r.csize = 6;
      break;
    case CS7:
      r.csize = 7;
      break;
    default:
      r.csize = 8;
      break;
  }
  r.cstopb = tio.c_cflag & CSTOPB;
  r.parenb = tio.c_cflag & PARENB;
  r.parodd = tio.c_cflag & PARODD;
  r.cmspar = tio.c_cflag & CMSPAR;
  r.crtscts = tio.c_cflag & CRTSCTS;
  r.ixon = tio.c_iflag & IXON;
  r.ixoff = tio.c_iflag & IXOFF;
  r.vstart = tio.c_cc[VSTART];
  r.vstop = tio.c_cc[VSTOP];
  r.vmin = tio.c_cc[VMIN];
  r.vtime = tio.c_cc[VTIME];
  return r;
}
