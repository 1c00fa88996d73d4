#include "text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "escape_text.h"

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

namespace {

// Opens `path` for reading if it is a regular file; -1 with `error` set
// otherwise. The type is checked before opening, so a device is never
// opened (opening a serial line can toggle its control lines), and again on
// the open descriptor, in case the name was swapped in between. O_NONBLOCK
// keeps open() from waiting for a FIFO's writer.
int OpenRegularFile(const std::string& path, struct stat& st, std::string& error) {
  const std::string name = EscapeControls(path);
  if (::stat(path.c_str(), &st) != 0) {
    error = "Cannot open file " + name + ": " + EscapeControls(ErrnoText(errno));
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "Cannot open file " + name + ": not a regular file";
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = "Cannot open file " + name + ": " + EscapeControls(ErrnoText(errno));
    return -1;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = "Cannot open file " + name + ": not a regular file";
    return -1;
  }
  return fd;
}

// Reads `fd` to its end in pieces; false with `error` on a read failure.
bool ReadPieces(int fd, const std::string& path, const std::function<bool(std::string_view)>& piece,
                std::string& error) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = "Cannot read file " + EscapeControls(path) + ": " + EscapeControls(ErrnoText(errno));
      return false;
    }
    if (!piece(std::string_view(buffer, static_cast<size_t>(n)))) return true;
  }
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& content, std::string& error, size_t maxSize) {
  content.clear();
  struct stat st {};
  Fd fd(OpenRegularFile(path, st, error));
  if (fd.Get() < 0) return false;
  const std::string tooLarge =
      "Cannot read file " + EscapeControls(path) + ": larger than " + std::to_string(maxSize) + " bytes";
  if (static_cast<unsigned long long>(st.st_size) > maxSize) {
    error = tooLarge;
    return false;
  }
  content.reserve(static_cast<size_t>(st.st_size));
  // The size can change while reading (a file being written, or one whose
  // size the kernel reports as 0); the cap holds for what is read.
  bool over = false;
  const bool ok = ReadPieces(
      fd.Get(), path,
      [&](std::string_view piece) {
        if (piece.size() > maxSize - content.size()) return !(over = true);
        content.append(piece);
        return true;
      },
      error);
  if (ok && !over) return true;
  if (over) error = tooLarge;
  content.clear();
  content.shrink_to_fit();
  return false;
}

bool ReadFileInPieces(const std::string& path, const std::function<bool(std::string_view)>& piece,
                      std::string& error) {
  struct stat st {};
  Fd fd(OpenRegularFile(path, st, error));
  return fd.Get() >= 0 && ReadPieces(fd.Get(), path, piece, error);
}

bool ReplaceFile(const std::string& path, const std::string& content, std::string& error) {
  const std::string failure = "Unable to write to " + EscapeControls(path) + ": ";
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
  const std::string failure = "Unable to write to " + EscapeControls(path) + ": ";
  if (IsReadOnlyFile(path)) {
    error = failure + ErrnoText(EACCES);
    return false;
  }
  int fdNumber = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (fdNumber < 0 && errno == ENOENT) {
    wasMissing = true;
    fdNumber = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fdNumber < 0) {
      error = "Cannot create file " + EscapeControls(path) + ": " + ErrnoText(errno);
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
