#pragma once
#include <string>
#include <string_view>
#include <vector>

// Where the decoders write: one call appends one line to the log window.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void AppendLine(std::string_view line) = 0;
  // A received frame's line: `prefix` (the time, or nothing) and then `hex`,
  // the hex text of `frame`. A sink may keep the frame instead of the text.
  virtual void AppendTelegramLine(std::string_view prefix, std::string_view frame, std::string_view hex) {
    (void)frame;
    thread_local std::string line;
    line.assign(prefix);
    line.append(hex);
    AppendLine(line);
  }
};

// Keeps the lines in memory (tests, the headless decoder).
class VectorLogSink : public LogSink {
 public:
  void AppendLine(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};
