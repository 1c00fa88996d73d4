#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform_files.h"
#include "platform_system.h"

namespace platform {

std::string ErrorText(int err) { return std::strerror(err); }

namespace {

int FromWin32(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    default:
      return EIO;
  }
}

void Fill(const struct _stat64& s, FileStatus& st) {
  st.regular = (s.st_mode & _S_IFMT) == _S_IFREG;
  st.size = static_cast<uint64_t>(s.st_size);
  st.mode = static_cast<unsigned>(s.st_mode & 0777);
}

}  // namespace

bool PathStatus(const std::string& path, FileStatus& st, int& err) {
  struct _stat64 s {};
  if (::_wstat64(Wide(path).c_str(), &s) != 0) {
    err = errno;
    return false;
  }
  Fill(s, st);
  return true;
}

bool MarkedReadOnly(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderWritable(const std::string& folder) {
  // The read-only attribute of a folder means nothing to Windows; try it.
  const std::string probe = folder + "\\.velrpt-write-probe";
  int err = 0;
  File file = File::CreateNew(probe, err);
  if (!file.Valid()) return err == EEXIST;
  file.Close(err);
  RemoveFile(probe);
  return true;
}

bool ReplaceByRename(const std::string& from, const std::string& to, int& err) {
  if (::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  err = FromWin32(::GetLastError());
  return false;
}

bool RemoveFile(const std::string& path) { return ::DeleteFileW(Wide(path).c_str()) != 0; }

unsigned long ProcessNumber() { return ::GetCurrentProcessId(); }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::_close(m_fd);
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

File::~File() {
  if (m_fd >= 0) ::_close(m_fd);
}

File File::OpenRead(const std::string& path, int& err) {
  const int fd = ::_wopen(Wide(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) err = errno;
  return File(fd);
}

File File::CreateNew(const std::string& path, int& err) {
  const int fd = ::_wopen(Wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
  if (fd < 0) err = errno;
  return File(fd);
}

File File::OpenAppend(const std::string& path, bool createNew, int& err) {
  const int flags = _O_RDWR | _O_APPEND | _O_BINARY | _O_NOINHERIT | (createNew ? _O_CREAT | _O_EXCL : 0);
  const int fd = ::_wopen(Wide(path).c_str(), flags, _S_IREAD | _S_IWRITE);
  if (fd < 0) err = errno;
  return File(fd);
}

bool File::Status(FileStatus& st) const {
  struct _stat64 s {};
  if (::_fstat64(m_fd, &s) != 0) return false;
  Fill(s, st);
  return true;
}

long long File::Read(char* buffer, size_t size, int& err) {
  const int n = ::_read(m_fd, buffer, static_cast<unsigned>(size > INT_MAX ? INT_MAX : size));
  if (n < 0) err = errno;
  return n;
}

bool File::ByteAt(uint64_t offset, char& byte) {
  const long long here = ::_telli64(m_fd);
  const bool ok =
      ::_lseeki64(m_fd, static_cast<long long>(offset), SEEK_SET) >= 0 && ::_read(m_fd, &byte, 1) == 1;
  ::_lseeki64(m_fd, here, SEEK_SET);
  return ok;
}

bool File::WriteAll(const char* data, size_t size, int& err) {
  while (size > 0) {
    const int n = ::_write(m_fd, data, static_cast<unsigned>(size > INT_MAX ? INT_MAX : size));
    if (n < 0) {
      err = errno;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Windows files carry no permission bits beyond the read-only attribute, and
// a read-only file is never replaced.
bool File::SetMode(unsigned, int&) { return true; }

bool File::Sync(int& err) {
  if (::_commit(m_fd) == 0) return true;
  err = errno;
  return false;
}

bool File::Close(int& err) {
  const int rc = ::_close(m_fd);
  m_fd = -1;
  if (rc == 0) return true;
  err = errno;
  return false;
}

}  // namespace platform
