// velrpt-cli survey and the --json output, end to end through the program.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

#include "decode_session.h"
#include "hex.h"
#include "run_program.h"

namespace {

const QString kCli = VELRPT_CLI;
const QString kSample = VELRPT_SOURCE_DIR "/tests/data/sample_capture.hex";

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::stringstream ss(text);
  while (std::getline(ss, part, sep)) parts.push_back(part);
  if (!text.empty() && text.back() == sep) parts.emplace_back();
  return parts;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) lines.push_back(l);
  return lines;
}

std::string WrapFrameBytes(const std::string& telegram, std::uint8_t rssi) {
  std::string f;
  f.push_back(0x68);
  f.push_back(static_cast<char>(telegram.size() + 1));
  f += telegram;
  f.push_back(static_cast<char>(rssi));
  f.push_back(0x16);
  return f;
}

// What the test itself counts for one (ID, role) line while making the stream.
struct Expected {
  struct Path {
    unsigned count = 0, last = 0, min = 0, max = 0, sum = 0;
    void Add(unsigned v) {
      if (!count) min = max = v;
      ++count, last = v, sum += v;
      min = std::min(min, v), max = std::max(max, v);
    }
  } direct, repeated;
};

std::string IdText(std::uint32_t id) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", id);
  return text;
}

// A random stream with noise between the frames, cut-short frames, wrong
// CIs and the repeater's own frames; the expected survey with and without
// "Discard if wrong CI".
std::string NoisyStream(std::mt19937& rng,
                        std::map<std::pair<std::string, std::string>, Expected> expected[2]) {
  const std::uint32_t repeater = 0x12345678;
  std::vector<std::uint32_t> ids{repeater};
  while (ids.size() < 300) ids.push_back(static_cast<std::uint32_t>(rng()));
  const std::uint8_t cis[] = {0x7A, 0x72, 0x78, 0x71, 0x8D, 0xA0, 0xA2, 0x7A, 0x72, 0x7B, 0x00, 0xFF};
  auto byte = [&] { return static_cast<std::uint8_t>(rng() & 0xFF); };
  std::string stream;
  for (int n = 0; n < 20000; ++n) {
    if (rng() % 4 == 0)  // noise: anything but a start byte
      for (unsigned k = rng() % 6; k > 0; --k) {
        std::uint8_t b = byte();
        stream.push_back(static_cast<char>(b == 0x68 ? 0x69 : b));
      }
    const std::uint32_t id = ids[rng() % ids.size()];
    const std::uint8_t ci = cis[rng() % std::size(cis)];
    std::string t;  // the telegram from its C-field
    t.push_back(0x44);
    t.push_back(static_cast<char>(byte())), t.push_back(static_cast<char>(byte()));
    for (int k = 0; k < 4; ++k) t.push_back(static_cast<char>(id >> (8 * k)));
    t.push_back(static_cast<char>(byte())), t.push_back(static_cast<char>(rng() % 20));
    t.push_back(static_cast<char>(ci));
    for (int k = 0; k < 30; ++k) t.push_back(static_cast<char>(byte()));
    if (rng() % 5 == 0) t.resize(rng() % t.size());  // cut short, down to nothing
    const std::uint8_t rssi = byte();
    stream += WrapFrameBytes(t, rssi);

    if (t.size() < 7) continue;  // no whole ID
    const bool hasCI = t.size() >= 10;
    const size_t configAt = ci == 0x7A ? 12 : (ci == 0x72 || ci == 0x78) ? 20 : 0;
    const size_t needed = ci == 0x7A ? 14 : ci == 0x72 ? 22 : ci == 0x78 ? 21 : 0;
    const bool repeated = hasCI && configAt && t.size() >= needed && (t[configAt] & 1);
    const bool wrongCI =
        hasCI && std::string_view("\x71\x72\x78\x7A\x8D\xA0\xA2", 7).find(static_cast<char>(ci)) ==
                     std::string_view::npos;
    const std::pair key{IdText(id), std::string(id == repeater ? "repeater" : "meter")};
    for (int discard = 0; discard < 2; ++discard) {
      if (discard && wrongCI) continue;
      Expected& e = expected[discard][key];
      (repeated ? e.repeated : e.direct).Add(rssi >> 1);
    }
  }
  return stream;
}

}  // namespace

// The CSV of a random noisy stream equals the test's own count, cell by
// cell, with "Discard if wrong CI" on and off.
TEST(SurveyCommand, CsvEqualsAnIndependentCountOfANoisyStream) {
  std::mt19937 rng(20261208);
  std::map<std::pair<std::string, std::string>, Expected> expected[2];
  const std::string stream = NoisyStream(rng, expected);
  QTemporaryDir dir;
  const QString file = dir.filePath("noisy.bin");
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(stream.data(), static_cast<qsizetype>(stream.size()));
  }
  const char* header =
      "id;manufacturer;medium;role;direct_count;direct_rssi_last;direct_rssi_min;direct_rssi_mean;direct_"
      "rssi_max;"
      "repeated_count;repeated_rssi_last;repeated_rssi_min;repeated_rssi_mean;repeated_rssi_max;first_seen;"
      "last_seen;path";
  for (int discard = 0; discard < 2; ++discard) {
    SCOPED_TRACE(discard ? "wrong CI discarded" : "any CI");
    QStringList args{"survey", file, "--csv", "--repeater-id", "12345678"};
    if (!discard) args << "--accept-any-ci";
    const auto r = RunProgram(kCli, args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), expected[discard].size() + 1);
    EXPECT_EQ(lines[0], header);
    auto it = expected[discard].begin();  // both sorted by ID, "meter" before "repeater"
    for (size_t i = 1; i < lines.size(); ++i, ++it) {
      const auto cells = Split(lines[i], ';');
      ASSERT_EQ(cells.size(), 17u) << lines[i];
      const Expected& e = it->second;
      EXPECT_EQ(cells[0], it->first.first);
      EXPECT_EQ(cells[3], it->first.second);
      auto path = [&](const Expected::Path& p, int at) {
        char mean[32];
        std::snprintf(mean, sizeof mean, "%.1f", p.count ? double(p.sum) / p.count : 0.0);
        const std::vector<std::string> want =
            p.count ? std::vector<std::string>{std::to_string(p.count), std::to_string(p.last),
                                               std::to_string(p.min), mean, std::to_string(p.max)}
                    : std::vector<std::string>{"0", "", "", "", ""};
        EXPECT_EQ(std::vector<std::string>(cells.begin() + at, cells.begin() + at + 5), want) << lines[i];
      };
      path(e.direct, 4);
      path(e.repeated, 9);
      EXPECT_EQ(cells[16], e.direct.count && e.repeated.count ? "both"
                           : e.repeated.count                 ? "repeater only"
                                                              : "direct only");
      EXPECT_TRUE(std::regex_match(cells[14], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")));
      EXPECT_LE(cells[14], cells[15]);
    }
  }

  // The JSON array: the same rows, the fields in the same order, null for a
  // path never heard; the minimum count filters rows.
  const auto json = RunProgram(kCli, {"survey", file, "--json", "--min-count", "60"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const QJsonArray rows = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array();
  size_t wanted = 0;
  for (const auto& [key, e] : expected[1]) wanted += e.direct.count + e.repeated.count >= 60;
  ASSERT_EQ(static_cast<size_t>(rows.size()), wanted);
  ASSERT_GT(wanted, 0u);
  const std::string firstRow = Lines(json.out).at(1);
  EXPECT_LT(firstRow.find("\"repeated_rssi_max\""), firstRow.find("\"first_seen\""));
  for (const auto& row : rows) {
    const QJsonObject o = row.toObject();
    EXPECT_EQ(o.size(), 17);
    EXPECT_GE(o["direct_count"].toInt() + o["repeated_count"].toInt(), 60);
    EXPECT_EQ(o["direct_count"].toInt() == 0, o["direct_rssi_mean"].isNull());
  }
}

TEST(SurveyCommand, BadOptionsAreOneLineAndStatusTwo) {
  const QStringList cases[] = {
      {"survey", "--min-count", "-1"},         {"survey", "--min-count", "1000000001"},
      {"survey", "--min-count", "x"},          {"survey", "--csv", "--json"},
      {"survey", "--separator", ","},          {"survey", "--seconds", "5"},
      {"survey", "--simulate", "--port", "x"}, {"survey", "--simulate", "--seconds", "-2"},
      {"survey", "a.bin", "--simulate"},       {"survey", "--bogus"},
  };
  for (const QStringList& args : cases) {
    const auto r = RunProgram(kCli, args, "68 00 16");
    EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

// decode --json: one object per frame, of every kind; a telegram's values are
// those of its table row, an answer's lines those of the log.
TEST(JsonLines, DecodeObjectsMatchTheTableAndTheLog) {
  QTemporaryDir dir;
  const QString table = dir.filePath("table.csv");
  const QString input = dir.filePath("capture.hex");
  {
    QFile in(kSample), out(input);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
    out.write(in.readAll() + "\n68 04 44 01 02 03 16\n");  // too short to carry an ID
  }
  const QStringList common{"decode",        "--hex",    "--now", "2026-12-07 09:07:05",
                           "--repeater-id", "12345678", input};
  const auto json = RunProgram(kCli, common + QStringList{"--json", "--table", table});
  const auto plain = RunProgram(kCli, common);
  ASSERT_EQ(json.exitCode, 0) << json.err;
  QFile tf(table);
  ASSERT_TRUE(tf.open(QIODevice::ReadOnly));
  std::map<std::string, std::vector<std::string>> rows;  // meter ID -> cells
  for (const auto& line : Lines(tf.readAll().toStdString())) {
    auto cells = Split(line.substr(0, line.size() - 1), ';');  // drop the CR
    rows[cells.at(1)] = cells;
  }
  std::map<std::string, QJsonObject> lastRepeated;
  std::set<QString> kinds;
  std::string answerLines;
  int objects = 0;
  for (const auto& line : Lines(json.out)) {
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    ++objects;
    kinds.insert(o["kind"].toString());
    EXPECT_TRUE(std::regex_match(o["time"].toString().toStdString(),
                                 std::regex(R"(2026-12-07T09:07:05\.000[+-]\d\d:\d\d)")));
    EXPECT_FALSE(o["hex"].toString().endsWith(' '));
    if (o["kind"] == "telegram" && o["repeated"].toBool()) lastRepeated[o["id"].toString().toStdString()] = o;
    if (o["kind"] == "short") {
      EXPECT_FALSE(o.contains("id"));
    }
    if (o["kind"] == "wrong_ci") {
      EXPECT_FALSE(o["ci"].toString().isEmpty());
    }
    if (o["kind"] == "answer") {
      EXPECT_EQ(o["id"], "12345678");
      for (const auto& l : o["lines"].toArray()) answerLines += l.toString().toStdString() + "\n";
    }
  }
  EXPECT_EQ(kinds, (std::set<QString>{"telegram", "wrong_ci", "answer", "short"}));
  EXPECT_EQ(objects, 66);  // the sample's 65 frames and the short one
  ASSERT_EQ(lastRepeated.size(), rows.size());
  for (const auto& [id, o] : lastRepeated) {
    const auto& cells = rows.at(id);
    const std::string control = "C=0x" + o["c"].toString().toStdString() + ", Stat=0x" +
                                o["status"].toString().toStdString() + ", SIG=0x" +
                                o["config"].toString().toStdString();
    const std::vector<std::string> want{o["manufacturer"].toString().toStdString(),
                                        o["aux_id"].toString().toStdString(),
                                        control,
                                        o["medium"].toString().toStdString(),
                                        std::to_string(o["rssi"].toInt()),
                                        o["notes"].toString().toStdString(),
                                        o["hex"].toString().toStdString() + " "};
    const std::vector<std::string> got{cells[2], cells[3], cells[4], cells[5], cells[6], cells[9], cells[10]};
    EXPECT_EQ(got, want) << id;
  }
  // The answers' lines are the log's, in order (the log has the other
  // frames' lines between them).
  ASSERT_FALSE(answerLines.empty());
  std::string plainAnswers;
  bool inAnswer = false;
  for (const auto& l : Lines(plain.out)) {
    // A frame's log line starts a block: the repeater's (ID bytes 78 56 34 12) or another's.
    const auto at = l.find(": 68 ");
    if (l.rfind("Wrong CI-field", 0) == 0)
      inAnswer = false;
    else if (at != std::string::npos)
      inAnswer = l.size() >= at + 29 && l.compare(at + 17, 12, "78 56 34 12 ") == 0;
    if (inAnswer) plainAnswers += l + "\n";
  }
  EXPECT_EQ(answerLines, plainAnswers);
  // Answers carry their records as fields.
  const auto statusAt = json.out.find("\"answer\":\"status\"");
  ASSERT_NE(statusAt, std::string::npos);
  const QJsonObject status =
      QJsonDocument::fromJson(QByteArray::fromStdString(json.out.substr(
                                  json.out.rfind('\n', statusAt) + 1,
                                  json.out.find('\n', statusAt) - json.out.rfind('\n', statusAt) - 1)))
          .object();
  EXPECT_EQ(status["battery_v"].toDouble(), 3.6);
  EXPECT_EQ(status["work_time_s"].toInt(), 3600);
  EXPECT_EQ(status["wireless_mode"], "S1");
  EXPECT_EQ(status["repeater_time"], "9:07, 7.12.26");
  EXPECT_EQ(status["clock_calibration"].toInt(), 10);
  EXPECT_EQ(status["clock_calibration_flag"].toBool(), true);
}

// A live port: the port's opening is an object of kind "port".
TEST(JsonLines, MonitorReportsThePortAsAnObject) {
  const auto r = RunProgram(kCli, {"monitor", "--simulate", "--seconds", "1", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_FALSE(lines.empty());
  const QJsonObject first = QJsonDocument::fromJson(QByteArray::fromStdString(lines[0])).object();
  EXPECT_EQ(first["kind"], "port");
  EXPECT_TRUE(first["text"].toString().contains("19200")) << lines[0];
  for (const auto& l : lines)
    EXPECT_FALSE(QJsonDocument::fromJson(QByteArray::fromStdString(l)).isNull()) << l;
}

// Every log line of the receive path reaches the JSON Lines, through the
// session decode and monitor use: a frame's own lines are its object, an
// answer keeps its lines, anything else (a failed read) is a "port" object.
TEST(JsonLines, NoLogLineOfTheReceivePathIsLost) {
  auto telegram = [](std::uint32_t id, std::uint8_t ci, std::uint8_t config) {
    std::string t{'\x44', '\x30', '\x4C'};
    for (int k = 0; k < 4; ++k) t.push_back(static_cast<char>(id >> (8 * k)));
    t +=
        std::string{'\x01', '\x07', static_cast<char>(ci), '\x05', '\x00', static_cast<char>(config), '\x00'};
    t += std::string(8, '\x2F');
    return WrapFrameBytes(t, 0x90);
  };
  const std::string meter = telegram(0x00000001, 0x7A, 0x01);
  const std::string refused = telegram(0x00000002, 0xA3, 0x01);
  const std::string answer = telegram(0x12345678, 0x7A, 0x00);
  const char* const kFailed = "Read error (5), I/O error";
  const std::string kFailedLine = std::string("port:Exception receiving - ") + kFailed;
  struct Event {
    std::string bytes;      // read first
    const char* readError;  // then the read fails with this, unless null
  };
  struct Case {
    const char* what;
    std::vector<Event> events;
    std::vector<std::string> want;  // kind, or "port:" and the text
  };
  const Case cases[] = {
      {"a failed read before any frame", {{"", kFailed}}, {kFailedLine}},
      {"a telegram, then the read fails", {{meter, kFailed}}, {"telegram", kFailedLine}},
      {"a frame cut by the failure, then the next event",
       {{meter + meter.substr(0, 9), kFailed}, {meter, nullptr}},
       {"telegram", kFailedLine, "telegram"}},
      {"a refused frame's report is its object", {{refused + meter, nullptr}}, {"wrong_ci", "telegram"}},
      {"an answer, then a telegram", {{answer + meter, nullptr}}, {"answer", "telegram"}},
  };
  for (const Case& c : cases) {
    DecodeSessionOptions options;
    options.json = true;
    options.now = LocalTime{2026, 12, 7, 9, 7, 5};
    options.decode.repeaterId = "12345678";
    VectorLogSink plain;
    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    {
      DecodeSession session(options, plain, false, out);
      for (const Event& e : c.events) {
        bool served = e.bytes.empty();
        session.ReceiveEvent(static_cast<int>(e.bytes.size()) + (e.readError ? 1 : 0),
                             [&](char* dest, int max) {
                               if (served) throw std::runtime_error(e.readError);
                               served = true;
                               const int n = std::min<int>(max, static_cast<int>(e.bytes.size()));
                               std::copy_n(e.bytes.data(), n, dest);
                               return n;
                             });
      }
    }
    std::fflush(out);
    std::rewind(out);
    std::string text;
    for (int ch; (ch = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(ch));
    std::fclose(out);
    std::vector<std::string> got;
    for (const auto& line : Lines(text)) {
      const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
      EXPECT_TRUE(o["time"].toString().startsWith("2026-12-07T09:07:05.000")) << line;
      const std::string kind = o["kind"].toString().toStdString();
      got.push_back(kind == "port" ? "port:" + o["text"].toString().toStdString() : kind);
      if (kind == "answer") {
        EXPECT_EQ(o["lines"].toArray().size(), 4) << line;  // its line, blank, time, "Repeater ..."
      }
    }
    EXPECT_EQ(got, c.want) << c.what << "\n" << text;
    EXPECT_TRUE(plain.lines.empty()) << c.what;
  }
}
