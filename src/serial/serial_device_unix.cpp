// Descriptors and the exclusive open of a POSIX serial device.
#include "serial_device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

void UniqueFd::Reset(int fd) {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = fd;
}

UniqueFd OpenSerialDevice(const std::string& path, int& error) {
  error = 0;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) {
    error = errno;
    return fd;
  }
  // flock first: TIOCEXCL does not stop root, the lock does.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    error = errno;
    return UniqueFd();
  }
  if (::ioctl(fd.Get(), TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
    error = errno;
    return UniqueFd();
  }
  return fd;
}

void ReleaseSerialDevice(int fd) {
  if (fd < 0) return;
  ::ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
}
