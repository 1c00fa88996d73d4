#include "serial_device.h"

#include "escape_text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

void UniqueFd::Reset(int fd) {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = fd;
}

std::string OsErrorText(int error) {
  char buffer[256];
  // GNU strerror_r: returns the text, maybe not in `buffer`.
  std::string text = strerror_r(error, buffer, sizeof buffer);
  while (!text.empty()) {
    unsigned char c = static_cast<unsigned char>(text.back());
    if (c != ' ' && c != '.' && !std::iscntrl(c)) break;
    text.pop_back();
  }
  return EscapeControls(text);
}

std::string FormatOsError(const std::string& templ, int error) {
  std::string result = templ;
  std::string::size_type pos = result.find("%d");
  if (pos != std::string::npos) result.replace(pos, 2, std::to_string(error));
  pos = result.find("%s");
  if (pos != std::string::npos) result.replace(pos, 2, OsErrorText(error));
  return result;
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

std::string DevicePathForPortName(const std::string& name) {
  if (name.empty()) return name;
  if (name.front() == '/') return name;
  if (name.size() > 3 && name.compare(0, 3, "COM") == 0) {
    bool digits = true;
    for (std::size_t i = 3; i < name.size(); ++i)
      digits = digits && std::isdigit(static_cast<unsigned char>(name[i]));
    if (digits && name.size() <= 12) {
      long number = std::stol(name.substr(3));
      if (number >= 1) return "/dev/ttyS" + std::to_string(number - 1);
    }
  }
  return "/dev/" + name;
}
