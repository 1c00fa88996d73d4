#include "text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

// Closes a descriptor on every path out.
class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  // Close explicitly to see its error (NFS reports write failures here).
  int Close() {
    const int rc = ::close(m_fd);
    m_fd = -1;
    return rc;
  }

 private:
  int m_fd;
};

bool WriteAll(int fd, const std::string& content, int& err) {
  const char* p = content.data();
  size_t left = content.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

std::atomic<unsigned> g_tempCounter{0};

}  // namespace

bool IsReadOnlyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  return ::access(path.c_str(), W_OK) != 0;
}

bool ReadWholeFile(const std::string& path, std::string& content, std::string& error) {
  content.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    error = "Cannot open file " + path + ": " + ErrnoText(errno);
    return false;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = "Cannot read file " + path + ": " + ErrnoText(errno);
      content.clear();
      return false;
    }
    content.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

bool ReplaceFile(const std::string& path, const std::string& content, std::string& error) {
  const std::string failure = "Unable to write to " + path + ": ";
  if (IsReadOnlyFile(path)) {
    error = failure + ErrnoText(EACCES);
    return false;
  }
  // Write beside the file the link points to, so the rename keeps the link.
  std::error_code ec;
  std::filesystem::path target(path);
  if (std::filesystem::is_symlink(target, ec)) {
    const auto resolved = std::filesystem::weakly_canonical(target, ec);
    if (!ec) target = resolved;
  }
  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed && !S_ISREG(old.st_mode)) {
    error = failure + ErrnoText(EISDIR);
    return false;
  }

  std::string temp;
  int fdNumber = -1;
  for (int attempt = 0; attempt < 100 && fdNumber < 0; ++attempt) {
    temp = target.string() + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(g_tempCounter++);
    fdNumber = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fdNumber < 0 && errno != EEXIST) break;
  }
  if (fdNumber < 0) {
    error = failure + ErrnoText(errno);
    return false;
  }
  Fd fd(fdNumber);
  int err = 0;
  auto step = [&err](bool done) {
    if (!done && err == 0) err = errno;
    return done;
  };
  const bool ok = step(WriteAll(fd.Get(), content, err)) &&
                  step(!existed || ::fchmod(fd.Get(), old.st_mode & 07777) == 0) &&
                  step(::fsync(fd.Get()) == 0) && step(fd.Close() == 0) &&
                  step(::rename(temp.c_str(), target.c_str()) == 0);
  if (!ok) {
    ::unlink(temp.c_str());
    error = failure + ErrnoText(err);
    return false;
  }
  return true;
}

bool AppendToFile(const std::string& path, const std::string& content, bool& wasMissing, std::string& error) {
  wasMissing = false;
  const std::string failure = "Unable to write to " + path + ": ";
  if (IsReadOnlyFile(path)) {
    error = failure + ErrnoText(EACCES);
    return false;
  }
  int fdNumber = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (fdNumber < 0 && errno == ENOENT) {
    wasMissing = true;
    fdNumber = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fdNumber < 0) {
      error = "Cannot create file " + path + ": " + ErrnoText(errno);
      return false;
    }
  }
  if (fdNumber < 0) {
    error = failure + ErrnoText(errno);
    return false;
  }
  Fd fd(fdNumber);
  std::string data;
  struct stat st {};
  if (::fstat(fd.Get(), &st) == 0 && st.st_size > 0) {
    char last = 0;
    if (::pread(fd.Get(), &last, 1, st.st_size - 1) == 1 && last != '\n') data = "\r\n";
  }
  data += content;
  int err = 0;
  bool ok = WriteAll(fd.Get(), data, err);
  if (fd.Close() != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    error = failure + ErrnoText(err);
    return false;
  }
  return true;
}
