#pragma once
#include <string>
#include <string_view>
#include <vector>

// Where the decoders write: one call appends one line to the log window.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void AppendLine(std::string_view line) = 0;
};

// Keeps the lines in memory (tests, the headless decoder).
class VectorLogSink : public LogSink {
 public:
  void AppendLine(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};
