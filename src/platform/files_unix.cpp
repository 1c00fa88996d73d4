#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform_files.h"

namespace platform {

std::string ErrorText(int err) { return std::strerror(err); }

namespace {
void Fill(const struct stat& s, FileStatus& st) {
  st.regular = S_ISREG(s.st_mode);
  st.size = static_cast<uint64_t>(s.st_size);
  st.mode = static_cast<unsigned>(s.st_mode & 07777);
}
}  // namespace

bool PathStatus(const std::string& path, FileStatus& st, int& err) {
  struct stat s {};
  if (::stat(path.c_str(), &s) != 0) {
    err = errno;
    return false;
  }
  Fill(s, st);
  return true;
}

bool MarkedReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  return ::access(path.c_str(), W_OK) != 0;
}

bool FolderWritable(const std::string& folder) { return ::access(folder.c_str(), W_OK) == 0; }

bool ReplaceByRename(const std::string& from, const std::string& to, int& err) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  err = errno;
  return false;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

unsigned long ProcessNumber() { return static_cast<unsigned long>(::getpid()); }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

File::~File() {
  if (m_fd >= 0) ::close(m_fd);
}

File File::OpenRead(const std::string& path, int& err) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) err = errno;
  return File(fd);
}

File File::CreateNew(const std::string& path, int& err) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) err = errno;
  return File(fd);
}

File File::OpenAppend(const std::string& path, bool createNew, int& err) {
  const int fd = createNew ? ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666)
                           : ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (fd < 0) err = errno;
  return File(fd);
}

bool File::Status(FileStatus& st) const {
  struct stat s {};
  if (::fstat(m_fd, &s) != 0) return false;
  Fill(s, st);
  return true;
}

long long File::Read(char* buffer, size_t size, int& err) {
  for (;;) {
    const ssize_t n = ::read(m_fd, buffer, size);
    if (n >= 0) return n;
    if (errno != EINTR) {
      err = errno;
      return -1;
    }
  }
}

bool File::ByteAt(uint64_t offset, char& byte) {
  return ::pread(m_fd, &byte, 1, static_cast<off_t>(offset)) == 1;
}

bool File::WriteAll(const char* data, size_t size, int& err) {
  while (size > 0) {
    const ssize_t n = ::write(m_fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool File::SetMode(unsigned mode, int& err) {
  if (::fchmod(m_fd, mode & 07777) == 0) return true;
  err = errno;
  return false;
}

bool File::Sync(int& err) {
  if (::fsync(m_fd) == 0) return true;
  err = errno;
  return false;
}

bool File::Close(int& err) {
  const int rc = ::close(m_fd);
  m_fd = -1;
  if (rc == 0) return true;
  err = errno;
  return false;
}

}  // namespace platform
