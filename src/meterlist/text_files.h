#pragma once
// Whole-file reading, replacing and appending for the program's own files
// (ini file, exported grids, error logs). Over the platform library, so they run
// without Qt and report failures as texts the logs can record.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// A file the operator marked read-only counts as not writable even when the
// process could write it anyway (root ignores permission bits).
bool IsReadOnlyFile(const std::string& path);

// Every file the programs read goes through the two readers below. They open
// without blocking and take only regular files: a FIFO, a device or a
// directory named as a file would otherwise hang the program in open() or
// read() or grow it without end. Failures leave `error` saying why (names
// with control characters escaped); the caller shows its own message.

// The size cap of the ini file and of an imported table.
inline constexpr size_t kMaxReadFileSize = size_t{16} << 20;

// Reads the whole file into `content`, refusing a file larger than
// `maxSize` bytes (by its size before reading and by what it yields).
bool ReadWholeFile(const std::string& path, std::string& content, std::string& error,
                   size_t maxSize = kMaxReadFileSize);

// Reads the file piece by piece (no size cap), handing each piece to
// `piece`; a false return from `piece` stops the reading (not an error).
bool ReadFileInPieces(const std::string& path, const std::function<bool(std::string_view)>& piece,
                      std::string& error);

// Replaces the file by `content`: written to a temporary file in the same
// folder and renamed over the old one, so a crash or a full disk never leaves
// a truncated file. The old file's permissions are kept. On failure the old
// file is untouched and `error` says why ("Unable to write to <path>: ...").
bool ReplaceFile(const std::string& path, const std::string& content, std::string& error);

// Appends `content` in one write (O_APPEND), creating the file when missing.
// `wasMissing` tells whether the file did not exist before (also when
// creating it failed). A file that does not end
// with a line break gets one first, so the new line stands on its own.
bool AppendToFile(const std::string& path, const std::string& content, bool& wasMissing, std::string& error);
