#pragma once
// Whole-file reading, replacing and appending for the program's own files
// (ini file, exported grids, error logs). Plain POSIX, so the routines run
// without Qt and report failures as texts the logs can record.

#include <string>

// A file the operator marked read-only counts as not writable even when the
// process could write it anyway (root ignores permission bits).
bool IsReadOnlyFile(const std::string& path);

// Reads the whole file into `content`. On failure `error` says why.
bool ReadWholeFile(const std::string& path, std::string& content, std::string& error);

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
