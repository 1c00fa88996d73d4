#pragma once
// What `decode` and `monitor` share: the options that stand for the window's
// controls, and the receive path writing every log line to standard output.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli_commands.h"
#include "frame_json.h"
#include "local_formats.h"
#include "receive_handler.h"
#include "string_grid.h"

struct DecodeSessionOptions {
  DecodeOptions decode;   // the controls' values; "Show only service data" off here
  std::string tableFile;  // --table FILE
  std::string separator = ";";
  bool stats = false;            // --stats
  bool json = false;             // --json: JSON Lines instead of the log text
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
};

class DecodeSession {
 public:
  // With --json, frames and port events go to `jsonOut` as JSON Lines
  // (flushed per line when `flushEachLine`) and `log` is not used.
  DecodeSession(const DecodeSessionOptions& options, LogSink& log, bool flushEachLine = false,
                FILE* jsonOut = stdout);

  // One receive event.
  void Receive(std::string_view bytes) {
    m_handler->ReceiveBytes(bytes, m_options.decode);
    if (m_json) m_json->Flush();
  }
  void ReceiveEvent(int count, const ReceiveHandler::ReadFn& read) {
    ReceiveEvent(count, read, m_options.decode);
  }
  // The same with the options of this event.
  void ReceiveEvent(int count, const ReceiveHandler::ReadFn& read, const DecodeOptions& options) {
    m_handler->ReceiveEvent(count, read, options);
    if (m_json) m_json->Flush();
  }
  // Where the port connection's lines go: the log, or "port" objects.
  LogSink& PortLog() { return m_portLog ? *m_portLog : m_log; }
  ReceiveHandler& Handler() { return *m_handler; }
  const DecodeOptions& Options() const { return m_options.decode; }
  const TimeTexts& Time() const { return m_time; }
  // Filled only when a table file was asked for.
  const StringGrid& Table() const { return m_table; }

  // Writes the table file and the counters as asked; 0, or 2 when the table
  // file cannot be written.
  int Finish();

 private:
  DecodeSessionOptions m_options;
  LogSink& m_log;
  std::unique_ptr<Clock> m_clock;
  std::unique_ptr<survey::JsonLinesWriter> m_json;
  std::unique_ptr<LogSink> m_portLog;
  LocalFormats m_formats;
  TimeTexts m_time;
  StringGrid m_table;
  std::unique_ptr<ReceiveHandler> m_handler;
};

// The telegram table's data rows in the delimited file format: every cell
// followed by the separator, CRLF line ends, no title row.
std::string DelimitedRows(const StringGrid& grid, const std::string& separator);
