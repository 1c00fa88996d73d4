// velrpt-cli survey: which meters a site hears, directly and through the
// repeater, from a capture or a live port; printed once at the end.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>

#include "capture_input.h"
#include "cli_commands.h"
#include "cli_port.h"
#include "decode_session.h"
#include "option_range.h"
#include "survey.h"
#include "telegram_decoder.h"

namespace {

enum class Format { kText, kCsv, kJson };

struct SurveyOptions {
  DecodeOptions decode;
  PortOptions port;
  CaptureInput input;
  double seconds = -1;
  std::uint32_t minCount = 0;
  Format format = Format::kText;
  std::string separator = ";";
  bool haveSeparator = false;
};

constexpr long long kMaxMinCount = 1000000000;
constexpr double kMaxSeconds = 2147483;

std::string Parse(const CliArgs& args, SurveyOptions& o) {
  const std::string walked = WalkOptions(args, o.port, [&](size_t& i) -> std::string {
    std::string error;
    const std::string& a = args[i];
    const bool takesValue =
        a == "--repeater-id" || a == "--min-count" || a == "--separator" || a == "--seconds";
    if (takesValue && i + 1 >= args.size()) return "option " + a + " needs a value";
    if (a == "--hex") {
      o.input.hex = true;
    } else if (a == "--accept-any-ci") {
      o.decode.discardWrongCI = false;
    } else if (a == "--csv" || a == "--json") {
      const Format f = a == "--csv" ? Format::kCsv : Format::kJson;
      if (o.format != Format::kText && o.format != f) return "--csv and --json exclude each other";
      o.format = f;
    } else if (a == "--repeater-id") {
      o.decode.repeaterId = args[++i];
    } else if (a == "--separator") {
      o.separator = args[++i];
      o.haveSeparator = true;
      if (o.separator.empty()) return "--separator needs a character";
    } else if (a == "--min-count") {
      const std::optional<long long> n = ParseIntOption(a, args[++i], 0, kMaxMinCount, error);
      if (!n) return error;
      o.minCount = static_cast<std::uint32_t>(*n);
    } else if (a == "--seconds") {
      // The timer counts milliseconds in an int.
      const std::optional<double> sec = ParseRealOption(a, args[++i], 0, kMaxSeconds, error);
      if (!sec) return error;
      o.seconds = *sec;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return "unknown option '" + a + "'";
    } else if (!o.input.haveFile) {
      o.input.file = a;
      o.input.haveFile = true;
    } else {
      return "only one input file, not '" + a + "'";
    }
    return {};
  });
  if (!walked.empty()) return walked;
  if (o.haveSeparator && o.format != Format::kCsv) return "--separator goes with --csv";
  const bool live = o.port.havePort || o.port.simulate;
  if (live) {
    if (o.input.haveFile || o.input.hex) return "a capture file or a port, not both";
    if (std::string error = CheckPortChoice(o.port); !error.empty()) return error;
  } else if (o.seconds >= 0) {
    return "--seconds goes with --port or --simulate";
  }
  return {};
}

// Text on the terminal about the port and a failure of the receive path;
// the survey itself comes at the end.
class StderrLog : public LogSink {
 public:
  void AppendLine(std::string_view line) override {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
  }
};

// The receive path with the survey watching it: the same reading of every
// frame (routing, answer IDs) as the decoder's, the moment of each receive
// event for its frames. Nothing is logged or decoded of the frames: a
// survey only counts them.
class SurveySession {
 public:
  SurveySession(const DecodeOptions& decode, survey::Survey& s) : m_session(Options(decode), m_log) {
    TelegramContext& ctx = m_session.Handler().Context();
    ctx.observer = &s;
    ctx.onlyObserver = true;
  }
  DecodeSession& Session() { return m_session; }

 private:
  static DecodeSessionOptions Options(const DecodeOptions& decode) {
    DecodeSessionOptions o;
    o.decode = decode;
    return o;
  }
  StderrLog m_log;
  DecodeSession m_session;
};

int SurveyPort(SurveyOptions& o, survey::Survey& s) {
  LivePort live(o.port);
  if (const std::string error = live.Start(); !error.empty()) return CliError(error);
  if (o.decode.repeaterId.empty()) o.decode.repeaterId = live.SimulatedRepeaterId();
  SurveySession feed(o.decode, s);
  StderrLog log;
  live.LogTo(log);
  live.Receive(feed.Session());
  if (const int status = live.Connect()) return status;
  live.Run(o.seconds);
  live.Close();
  return 0;
}

std::string TextTable(const survey::Survey& s, const std::vector<int>& rows) {
  using survey::Column;
  std::vector<std::vector<std::string>> cells;
  cells.reserve(rows.size() + 1);
  cells.emplace_back(survey::kColumnNames, survey::kColumnNames + survey::kColumnCount);
  for (int i : rows) {
    std::vector<std::string>& row = cells.emplace_back();
    for (int c = 0; c < survey::kColumnCount; ++c) {
      const auto col = static_cast<Column>(c);
      row.push_back(col == Column::kPath ? survey::PathText(s.Records()[i])
                                         : survey::CellText(s.Records()[i], col));
    }
  }
  std::vector<size_t> width(survey::kColumnCount, 0);
  for (const auto& row : cells)
    for (int c = 0; c < survey::kColumnCount; ++c) width[c] = std::max(width[c], row[c].size());
  std::string out;
  for (const auto& row : cells) {
    std::string line;
    for (int c = 0; c < survey::kColumnCount; ++c) {
      // Numbers right-aligned, texts left-aligned.
      const bool number = survey::CellIsNumber(static_cast<Column>(c));
      const std::string pad(width[c] - row[c].size(), ' ');
      if (c) line += "  ";
      line += number ? pad + row[c] : row[c] + pad;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line;
    out += '\n';
  }
  return out;
}

// One object per row, its fields in column order (a QJsonObject would sort
// them). Qt encodes every key and text; a site has few distinct texts, so
// each is encoded once. Numbers and the ISO times (digits and punctuation)
// go as they are; the mean keeps its one decimal.
std::string JsonArray(const survey::Survey& s, const std::vector<int>& rows) {
  std::unordered_map<std::string, std::string> encoded;
  auto encode = [&](const std::string& text) -> const std::string& {
    auto [it, fresh] = encoded.try_emplace(text);
    if (fresh) {
      const QByteArray one =
          QJsonDocument(QJsonArray{QString::fromStdString(text)}).toJson(QJsonDocument::Compact);
      it->second = one.mid(1, one.size() - 2).toStdString();
    }
    return it->second;
  };
  std::string out = "[";
  out.reserve(rows.size() * 420 + 8);
  bool first = true;
  for (int i : rows) {
    const survey::MeterRecord& r = s.Records()[i];
    out += first ? "\n{" : ",\n{";
    first = false;
    for (int c = 0; c < survey::kColumnCount; ++c) {
      const auto col = static_cast<survey::Column>(c);
      if (c) out += ',';
      out += encode(survey::kColumnNames[c]);
      out += ':';
      const std::string cell = survey::CellText(r, col);
      if (survey::CellIsEmpty(r, col))
        out += "null";
      else if (survey::CellIsNumber(col))
        out += cell;
      else if (col == survey::Column::kFirstSeen || col == survey::Column::kLastSeen ||
               col == survey::Column::kId)
        out += '"' + cell + '"';
      else
        out += encode(cell);
    }
    out += '}';
  }
  out += first ? "]\n" : "\n]\n";
  return out;
}

}  // namespace

const char* SurveyHelp() {
  static const std::string text =
      std::string(
          "usage: velrpt-cli survey [FILE] [--hex] [--port NAME|--simulate --seconds S]\n"
          "                         [--repeater-id ID] [--accept-any-ci] [--min-count N]\n"
          "                         [--csv [--separator C]|--json]\n"
          "Counts, per meter ID, the telegrams heard directly and through the repeater\n"
          "(configuration bit 0), with their signal strength, from a recorded byte stream\n"
          "(FILE, or standard input when FILE is absent or -) or a live port, and prints\n"
          "the survey at the end, one row per meter ID sorted by ID. The selected\n"
          "repeater's own telegrams have a row of their own, role \"repeater\". Signal\n"
          "values are dBm without the minus sign (107 is -107 dBm): the smaller number\n"
          "is the stronger signal, and \"both (+3.5)\" means the repeated copy is 3.5 dB\n"
          "stronger than the direct one.\n\n"
          "  --hex                the input is hexadecimal text\n") +
      kPortOptionsHelp +
      "  --seconds S          with a port: stop after S seconds (else at Ctrl+C)\n"
      "  --repeater-id ID     the selected repeater\n"
      "  --accept-any-ci      \"Discard if wrong CI\" unchecked: wrong-CI telegrams count\n"
      "  --min-count N        only meters heard at least N times\n"
      "  --csv                delimited text with a header row\n"
      "  --separator C        the CSV separator (default ;)\n"
      "  --json               a JSON array of objects\n\n"
      "Exit status: 0 done, 1 the port could not be opened, 2 bad input.\n";
  return text.c_str();
}

int RunSurvey(const CliArgs& args) {
  SurveyOptions o;
  if (const std::string error = Parse(args, o); !error.empty()) return CliError(error);
  survey::Survey s;
  int status = 0;
  if (o.port.havePort || o.port.simulate) {
    status = SurveyPort(o, s);
  } else {
    SurveySession feed(o.decode, s);
    status = ReadCapture(o.input, [&](std::string_view bytes) { feed.Session().Receive(bytes); });
  }
  // A survey of an input that failed part way would pass for a whole one.
  if (status != 0) return status;

  const std::vector<int> rows = survey::SortedRows(s.Records(), survey::Column::kId, false, o.minCount);
  std::string out;
  switch (o.format) {
    case Format::kCsv:
      out = survey::DelimitedText(s.Records(), rows, o.separator, "\n");
      break;
    case Format::kJson:
      out = JsonArray(s, rows);
      break;
    default:
      out = TextTable(s, rows);
      break;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  if (s.NotTracked())
    std::fprintf(stderr, "velrpt-cli: %llu telegrams of meters beyond the first %zu not tracked\n",
                 static_cast<unsigned long long>(s.NotTracked()), s.MaxMeters());
  return status;
}
