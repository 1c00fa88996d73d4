#pragma once
// What `decode` and `monitor` share: the options that stand for the window's
// controls, and the receive path writing every log line to standard output.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli_commands.h"
#include "local_formats.h"
#include "receive_handler.h"
#include "string_grid.h"

struct DecodeSessionOptions {
  DecodeOptions decode;   // the controls' values; "Show only service data" off here
  std::string tableFile;  // --table FILE
  std::string separator = ";";
  bool stats = false;            // --stats
  std::optional<LocalTime> now;  // --now
};

// Consumes the decode option at args[i] (and its value), advancing i.
// Returns false when args[i] is not one of them; sets `error` on a bad value.
bool ParseDecodeOption(const CliArgs& args, size_t& i, DecodeSessionOptions& options, std::string& error);

// The help text of those options.
extern const char* const kDecodeOptionsHelp;

// Writes each line with a line feed to a stdio stream.
class StreamLogSink : public LogSink {
 public:
  StreamLogSink(FILE* out, bool flushEachLine) : m_out(out), m_flush(flushEachLine) {}
  void AppendLine(std::string_view line) override;
  void AppendTelegramLine(std::string_view prefix, std::string_view frame, std::string_view hex) override;

 private:
  FILE* m_out;
  bool m_flush;
  std::string m_line;  // reused: one write per line
};

class DecodeSession {
 public:
  DecodeSession(const DecodeSessionOptions& options, LogSink& log);

  // One receive event.
  void Receive(std::string_view bytes) { m_handler->ReceiveBytes(bytes, m_options.decode); }
  ReceiveHandler& Handler() { return *m_handler; }
  const DecodeOptions& Options() const { return m_options.decode; }
  const TimeTexts& Time() const { return m_time; }
  const StringGrid& Table() const { return m_table; }

  // Writes the table file and the counters as asked; 0, or 2 when the table
  // file cannot be written.
  int Finish();

 private:
  DecodeSessionOptions m_options;
  std::unique_ptr<Clock> m_clock;
  LocalFormats m_formats;
  TimeTexts m_time;
  StringGrid m_table;
  std::unique_ptr<ReceiveHandler> m_handler;
};

// The telegram table's data rows in the delimited file format: every cell
// followed by the separator, CRLF line ends, no title row.
std::string DelimitedRows(const StringGrid& grid, const std::string& separator);
