#include "decode_session.h"

#include <fstream>

#include "platform_system.h"
#include "repeater_answer.h"

const char* const kDecodeOptionsHelp =
    "  --repeater-id TEXT   the selected repeater (Edit_repeaterID); its frames are\n"
    "                       decoded as repeater answers\n"
    "  --new-id TEXT        the new ID being assigned (Edit_newID)\n"
    "  --only-service       \"Show only service data\": log only the repeater's frames\n"
    "  --no-new             \"Do not add new\": known meters only in the table\n"
    "  --accept-any-ci      \"Discard if wrong CI\" unchecked\n"
    "  --table FILE         write the telegram table to FILE at the end\n"
    "  --separator C        separator of the table file (default ;)\n"
    "  --json               JSON Lines instead of the log text: one object per frame\n"
    "                       and per port event (see velrpt-cli(1))\n"
    "  --stats              print the frame assembler's counters on standard error\n"
    "  --now \"YYYY-MM-DD hh:mm:ss\"  a fixed clock, for output compared byte for byte\n";

bool ParseDecodeOption(const CliArgs& args, size_t& i, DecodeSessionOptions& options, std::string& error) {
  const std::string& a = args[i];
  auto value = [&](std::string& out) {
    if (i + 1 >= args.size()) {
      error = "option " + a + " needs a value";
      return true;
    }
    out = args[++i];
    return true;
  };
  if (a == "--repeater-id") return value(options.decode.repeaterId);
  if (a == "--new-id") return value(options.decode.newId);
  if (a == "--table") return value(options.tableFile);
  if (a == "--separator") return value(options.separator);
  if (a == "--only-service") return options.decode.onlyRepeater = true;
  if (a == "--no-new") return options.decode.noNew = true;
  if (a == "--accept-any-ci") return !(options.decode.discardWrongCI = false);
  if (a == "--stats") return options.stats = true;
  if (a == "--json") return options.json = true;
  if (a == "--now") {
    std::string text;
    value(text);
    if (!error.empty()) return true;
    LocalTime t;
    if (!ParseLocalTime(text, t)) {
      error = "--now needs \"YYYY-MM-DD hh:mm:ss\", not '" + text + "'";
      return true;
    }
    options.now = t;
    return true;
  }
  return false;
}

void StreamLogSink::AppendLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), m_out);
  std::fputc('\n', m_out);
  if (m_flush) std::fflush(m_out);
}

void StreamLogSink::AppendTelegramLine(std::string_view prefix, std::string_view, std::string_view hex) {
  // Straight into the stream's buffer: only this thread writes the stream.
  platform::WriteUnlocked(prefix.data(), prefix.size(), m_out);
  platform::WriteUnlocked(hex.data(), hex.size(), m_out);
  platform::PutUnlocked('\n', m_out);
  if (m_flush) std::fflush(m_out);
}

DecodeSession::DecodeSession(const DecodeSessionOptions& options, LogSink& plainLog, bool flushEachLine,
                             FILE* jsonOut)
    : m_options(options),
      m_log(plainLog),
      m_clock(options.now ? std::unique_ptr<Clock>(new FixedClock(*options.now))
                          : std::unique_ptr<Clock>(new SystemClock)),
      m_json(options.json ? std::make_unique<survey::JsonLinesWriter>(jsonOut, flushEachLine, *m_clock)
                          : nullptr),
      m_formats(LocalFormats::System()),
      m_time(*m_clock, m_formats),
      m_table(MakeTelegramTable()) {
  LogSink& log = m_json ? static_cast<LogSink&>(*m_json) : plainLog;
  if (m_json) m_portLog = std::make_unique<survey::PortLineSink>(*m_json, *m_clock);
  TelegramContext ctx{log, m_table, m_time, {}, {}, {}};
  ctx.observer = m_json.get();
  ctx.updateTable = !options.tableFile.empty();
  ctx.repeaterAnswer = [&log, this](std::string_view frame) { DecodeRepeaterAnswer(frame, log, m_time); };
  m_handler = std::make_unique<ReceiveHandler>(std::move(ctx));
}

std::string DelimitedRows(const StringGrid& grid, const std::string& separator) {
  std::string out;
  for (int r = 1; r < grid.RowCount(); ++r) {
    for (int c = 0; c < grid.ColCount(); ++c) {
      out += grid.Cell(c, r);
      out += separator;
    }
    out += "\r\n";
  }
  return out;
}

int DecodeSession::Finish() {
  int status = 0;
  if (!m_options.tableFile.empty()) {
    std::ofstream file(m_options.tableFile, std::ios::binary | std::ios::trunc);
    file << DelimitedRows(m_table, m_options.separator);
    file.close();
    if (!file) status = CliError("cannot write the table file '" + m_options.tableFile + "'");
  }
  if (m_options.stats) {
    const auto& s = m_handler->Stats();
    std::fprintf(stderr,
                 "frames cut: %llu\nnoise bytes dropped: %llu\nresyncs: %llu\noverflows: %llu\n"
                 "decode errors: %llu\n",
                 static_cast<unsigned long long>(s.framesCut), static_cast<unsigned long long>(s.noiseBytes),
                 static_cast<unsigned long long>(s.resyncs), static_cast<unsigned long long>(s.overflows),
                 static_cast<unsigned long long>(s.decodeErrors));
  }
  return status;
}
