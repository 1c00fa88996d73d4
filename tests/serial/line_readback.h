#pragma once
// What the kernel holds for a line, read back through termios2 (the exact
// rate is only visible there).

struct LineReadback {
  bool ok = false;
  unsigned cflag = 0, iflag = 0;
  unsigned ispeed = 0, ospeed = 0;
  bool other = false;  // the rate went out as BOTHER
  unsigned csize = 0;  // 5..8
  bool cstopb = false, parenb = false, parodd = false, cmspar = false, crtscts = false;
  bool ixon = false, ixoff = false;
  unsigned char vstart = 0, vstop = 0, vmin = 0, vtime = 0;
};

// `fd` is any descriptor of the tty (the pty fixture holds one).
LineReadback ReadLine(int fd);
