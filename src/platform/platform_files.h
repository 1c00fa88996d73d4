#pragma once
// Files as the program's own file routines need them, the same on every
// system: binary always, errors as errno values (Windows codes are mapped)
// whose text ErrorText gives, paths in UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct FileStatus {
  bool regular = false;
  uint64_t size = 0;
  unsigned mode = 0;  // permission bits where the system has them
};

// The system's text for an errno value.
std::string ErrorText(int err);

// Status of a path (links followed); false with `err` when it has none.
bool PathStatus(const std::string& path, FileStatus& st, int& err);

// True when the operator marked the file read-only, whatever the process
// could do anyway (root ignores permission bits).
bool MarkedReadOnly(const std::string& path);

// True when the process may create files in `folder`.
bool FolderWritable(const std::string& folder);

// Replaces `to` by `from` in one step (a rename over the old file), so the
// target is always either the old or the whole new file.
bool ReplaceByRename(const std::string& from, const std::string& to, int& err);

bool RemoveFile(const std::string& path);

// A number that differs between processes running at once (temporary names).
unsigned long ProcessNumber();

// One open file; closed on destruction.
class File {
 public:
  File() = default;
  File(File&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // For reading, without waiting for a FIFO's writer or becoming a
  // controlling terminal.
  static File OpenRead(const std::string& path, int& err);
  // Creates a new file; fails with EEXIST when the name is taken.
  static File CreateNew(const std::string& path, int& err);
  // For appending; every write goes to the end. `createNew`: the file must
  // not exist yet (EEXIST otherwise).
  static File OpenAppend(const std::string& path, bool createNew, int& err);

  bool Valid() const { return m_fd >= 0; }
  bool Status(FileStatus& st) const;
  // Bytes read, 0 at the end, -1 with `err` (interruptions are retried).
  long long Read(char* buffer, size_t size, int& err);
  // The byte at `offset`; false when there is none.
  bool ByteAt(uint64_t offset, char& byte);
  bool WriteAll(const char* data, size_t size, int& err);
  bool SetMode(unsigned mode, int& err);
  // The data on the disk before a rename makes it the file.
  bool Sync(int& err);
  // Closed explicitly to see its error (network file systems report write
  // failures here).
  bool Close(int& err);

 private:
  explicit File(int fd) : m_fd(fd) {}
  int m_fd = -1;
};

}  // namespace platform
