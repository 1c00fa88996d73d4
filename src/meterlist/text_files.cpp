#include "text_files.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "escape_text.h"
#include "platform_files.h"

namespace {

using platform::ErrorText;

std::atomic<unsigned> g_tempCounter{0};

}  // namespace

bool IsReadOnlyFile(const std::string& path) { return platform::MarkedReadOnly(path); }

namespace {

// Opens `path` for reading if it is a regular file; an invalid file with
// `error` set otherwise. The type is checked before opening, so a device is
// never opened (opening a serial line can toggle its control lines), and
// again on the open file, in case the name was swapped in between. The open
// does not wait for a FIFO's writer.
platform::File OpenRegularFile(const std::string& path, platform::FileStatus& st, std::string& error) {
  const std::string name = EscapeControls(path);
  int err = 0;
  if (!platform::PathStatus(path, st, err)) {
    error = "Cannot open file " + name + ": " + EscapeControls(ErrorText(err));
    return {};
  }
  if (!st.regular) {
    error = "Cannot open file " + name + ": not a regular file";
    return {};
  }
  platform::File file = platform::File::OpenRead(path, err);
  if (!file.Valid()) {
    error = "Cannot open file " + name + ": " + EscapeControls(ErrorText(err));
    return {};
  }
  if (!file.Status(st) || !st.regular) {
    error = "Cannot open file " + name + ": not a regular file";
    return {};
  }
  return file;
}

// Reads `file` to its end in pieces; false with `error` on a read failure.
bool ReadPieces(platform::File& file, const std::string& path,
                const std::function<bool(std::string_view)>& piece, std::string& error) {
  char buffer[65536];
  for (;;) {
    int err = 0;
    const long long n = file.Read(buffer, sizeof buffer, err);
    if (n == 0) return true;
    if (n < 0) {
      error = "Cannot read file " + EscapeControls(path) + ": " + EscapeControls(ErrorText(err));
      return false;
    }
    if (!piece(std::string_view(buffer, static_cast<size_t>(n)))) return true;
  }
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& content, std::string& error, size_t maxSize) {
  content.clear();
  platform::FileStatus st;
  platform::File file = OpenRegularFile(path, st, error);
  if (!file.Valid()) return false;
  const std::string tooLarge =
      "Cannot read file " + EscapeControls(path) + ": larger than " + std::to_string(maxSize) + " bytes";
  if (st.size > maxSize) {
    error = tooLarge;
    return false;
  }
  content.reserve(static_cast<size_t>(st.size));
  // The size can change while reading (a file being written, or one whose
  // size the kernel reports as 0); the cap holds for what is read.
  bool over = false;
  const bool ok = ReadPieces(
      file, path,
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
  platform::FileStatus st;
  platform::File file = OpenRegularFile(path, st, error);
  return file.Valid() && ReadPieces(file, path, piece, error);
}

bool ReplaceFile(const std::string& path, const std::string& content, std::string& error) {
  const std::string failure = "Unable to write to " + EscapeControls(path) + ": ";
  if (IsReadOnlyFile(path)) {
    error = failure + ErrorText(EACCES);
    return false;
  }
  // Write beside the file the link points to, so the rename keeps the link.
  std::error_code ec;
  std::filesystem::path target(path);
  if (std::filesystem::is_symlink(target, ec)) {
    const auto resolved = std::filesystem::weakly_canonical(target, ec);
    if (!ec) target = resolved;
  }
  const std::string targetName = target.string();
  platform::FileStatus old;
  int err = 0;
  const bool existed = platform::PathStatus(targetName, old, err);
  if (existed && !old.regular) {
    error = failure + ErrorText(EISDIR);
    return false;
  }

  std::string temp;
  platform::File file;
  for (int attempt = 0; attempt < 100 && !file.Valid(); ++attempt) {
    temp = targetName + ".tmp" + std::to_string(platform::ProcessNumber()) + "_" +
           std::to_string(g_tempCounter++);
    err = 0;
    file = platform::File::CreateNew(temp, err);
    if (!file.Valid() && err != EEXIST) break;
  }
  if (!file.Valid()) {
    error = failure + ErrorText(err);
    return false;
  }
  err = 0;
  const bool ok = file.WriteAll(content.data(), content.size(), err) &&
                  (!existed || file.SetMode(old.mode, err)) && file.Sync(err) && file.Close(err) &&
                  platform::ReplaceByRename(temp, targetName, err);
  if (!ok) {
    platform::RemoveFile(temp);
    error = failure + ErrorText(err);
    return false;
  }
  return true;
}

bool AppendToFile(const std::string& path, const std::string& content, bool& wasMissing, std::string& error) {
  wasMissing = false;
  const std::string failure = "Unable to write to " + EscapeControls(path) + ": ";
  if (IsReadOnlyFile(path)) {
    error = failure + ErrorText(EACCES);
    return false;
  }
  int err = 0;
  platform::File file = platform::File::OpenAppend(path, false, err);
  if (!file.Valid() && err == ENOENT) {
    wasMissing = true;
    file = platform::File::OpenAppend(path, true, err);
    if (!file.Valid()) {
      error = "Cannot create file " + EscapeControls(path) + ": " + ErrorText(err);
      return false;
    }
  }
  if (!file.Valid()) {
    error = failure + ErrorText(err);
    return false;
  }
  std::string data;
  platform::FileStatus st;
  if (file.Status(st) && st.size > 0) {
    char last = 0;
    if (file.ByteAt(st.size - 1, last) && last != '\n') data = "\r\n";
  }
  data += content;
  bool ok = file.WriteAll(data.data(), data.size(), err);
  int closeErr = 0;
  if (!file.Close(closeErr) && ok) {
    ok = false;
    err = closeErr;
  }
  if (!ok) {
    error = failure + ErrorText(err);
    return false;
  }
  return true;
}
