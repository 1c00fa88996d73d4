#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <sstream>

#include "hex.h"
#include "run_program.h"

namespace {

const QString kCli = VELRPT_CLI;
const QString kSample = VELRPT_SOURCE_DIR "/tests/data/sample_capture.hex";
const QStringList kFixed = {"--now", "2026-12-07 09:07:05"};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) lines.push_back(l);
  return lines;
}

QByteArray SampleBytes() {
  QFile f(kSample);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly));
  const Bytes b = HexTextToBytes(f.readAll().simplified().toStdString());
  return QByteArray(b.data(), static_cast<qsizetype>(b.size()));
}

}  // namespace

// Hex text, raw bytes from a file and raw bytes from standard input go
// through the same receive path and give the same lines.
TEST(DecodeCommand, SameLinesFromEveryInputForm) {
  QTemporaryDir dir;
  const QString raw = dir.filePath("capture.bin");
  {
    QFile f(raw);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(SampleBytes());
  }
  const auto fromHex = RunProgram(kCli, QStringList{"decode", "--hex"} + kFixed + QStringList{kSample});
  const auto fromFile = RunProgram(kCli, QStringList{"decode"} + kFixed + QStringList{raw});
  const auto fromStdin = RunProgram(kCli, QStringList{"decode", "-"} + kFixed, SampleBytes());
  ASSERT_EQ(fromHex.exitCode, 0) << fromHex.err;
  EXPECT_EQ(fromFile.exitCode, 0);
  EXPECT_EQ(fromStdin.exitCode, 0);
  EXPECT_EQ(fromHex.out, fromFile.out);
  EXPECT_EQ(fromHex.out, fromStdin.out);
  const auto lines = Lines(fromHex.out);
  ASSERT_GT(lines.size(), 60u);
  EXPECT_EQ(lines[0].substr(0, 24),
            QLocale::system().toString(QDate(2026, 12, 7), QLocale::ShortFormat).toStdString() + ", " +
                lines[0].substr(lines[0].find(", ") + 2, 24 - lines[0].find(", ") - 2));
  EXPECT_NE(fromHex.out.find("Wrong CI-field - A3, full frame below, at "), std::string::npos);
}

TEST(DecodeCommand, TableFileStatsAndOptions) {
  QTemporaryDir dir;
  const QString table = dir.filePath("table.csv");
  const auto r =
      RunProgram(kCli, QStringList{"decode", "--hex", "--stats", "--separator", "|", "--table", table} +
                           kFixed + QStringList{kSample});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("frames cut: 65\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("noise bytes dropped: 3\n"), std::string::npos) << r.err;
  QFile f(table);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QList<QByteArray> rows = f.readAll().split('\n');
  ASSERT_GT(rows.size(), 20);
  EXPECT_TRUE(rows.last().isEmpty());  // CRLF after the last row too
  for (int i = 0; i + 1 < rows.size(); ++i) {
    EXPECT_TRUE(rows[i].endsWith("|\r")) << rows[i].toStdString();
    EXPECT_EQ(rows[i].count('|'), 11) << rows[i].toStdString();
    EXPECT_TRUE(rows[i].startsWith(QByteArray::number(i + 1) + "|"));
  }

  // "Show only service data" with no repeater: only the two wrong-CI reports
  // (the CI check comes before the filter).
  const auto quiet =
      RunProgram(kCli, QStringList{"decode", "--hex", "--only-service"} + kFixed + QStringList{kSample});
  EXPECT_EQ(quiet.exitCode, 0);
  const auto quietLines = Lines(quiet.out);
  ASSERT_EQ(quietLines.size(), 4u) << quiet.out;
  EXPECT_EQ(quietLines[0].rfind("Wrong CI-field - A3", 0), 0u);
  EXPECT_EQ(quietLines[2].rfind("Wrong CI-field - 8C", 0), 0u);
  // Any CI accepted: the A3 telegram is logged like the others.
  const auto any =
      RunProgram(kCli, QStringList{"decode", "--hex", "--accept-any-ci"} + kFixed + QStringList{kSample});
  EXPECT_EQ(any.out.find("Wrong CI-field"), std::string::npos);
  const auto strict = RunProgram(kCli, QStringList{"decode", "--hex"} + kFixed + QStringList{kSample});
  EXPECT_EQ(Lines(any.out).size(), Lines(strict.out).size() - 2);
}

TEST(DecodeCommand, BadInputIsOneLineAndStatusTwo) {
  QTemporaryDir dir;
  const QString badHex = dir.filePath("bad.hex");
  {
    QFile f(badHex);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("68 00 16\n68 0Z 16\n");
  }
  // What is not a regular file is refused, not waited on or read forever
  // (standard input remains the way to stream from a pipe).
  const QString fifo = dir.filePath("fifo"), zero = dir.filePath("zero");
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", zero.toLocal8Bit().constData()), 0);
  const QStringList cases[] = {
      {"decode", "--bogus"},
      {"decode", dir.filePath("missing.bin")},
      {"decode", dir.filePath("missing\nvelrpt-cli: forged")},
      {"decode", fifo},
      {"decode", "--hex", zero},
      {"decode", dir.path()},
      {"decode", "--hex", badHex},
      {"decode", "--now", "tomorrow", badHex},
      {"decode", "--table"},
      {"frobnicate"},
  };
  for (const QStringList& args : cases) {
    const auto r = RunProgram(kCli, args);
    EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
    const auto lines = Lines(r.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("velrpt-cli: ", 0), 0u) << r.err;
    if (args[0] == "decode") {
      EXPECT_EQ(lines.size(), 1u) << r.err;
    }
  }
  // survey reads its capture the same way: the same refusals, word for word,
  // and no survey printed for an input that failed.
  const QStringList inputs[] = {
      {dir.filePath("missing.bin")}, {fifo}, {"--hex", zero}, {dir.path()}, {"--hex", badHex},
  };
  for (const QStringList& input : inputs) {
    const auto decode = RunProgram(kCli, QStringList{"decode"} + input);
    const auto survey = RunProgram(kCli, QStringList{"survey", "--csv"} + input);
    EXPECT_EQ(survey.exitCode, 2) << input.join(' ').toStdString();
    EXPECT_EQ(survey.err, decode.err) << input.join(' ').toStdString();
    EXPECT_EQ(survey.out, "") << input.join(' ').toStdString();
  }
  const auto help = RunProgram(kCli, {"decode", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option : {"--hex", "--repeater-id", "--new-id", "--only-service", "--no-new",
                             "--accept-any-ci", "--table", "--separator", "--stats", "--now"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// The selected repeater's frames go to the answer decoder: the sample holds a
// status, a flags and an error answer of repeater 12345678.
TEST(DecodeCommand, RepeaterAnswersAreDecoded) {
  const auto r = RunProgram(
      kCli, QStringList{"decode", "--hex", "--repeater-id", "12345678"} + kFixed + QStringList{kSample});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = Lines(r.out);
  int headers = 0;
  for (const auto& l : lines) headers += l.rfind("Repeater 12345678, VLM: 68 ", 0) == 0;
  EXPECT_EQ(headers, 3);
  for (const char* expected :
       {"START HOUR = 22", "WORK HOURS RX = 4", "Wireless mode: S1", "Flags (32 total): 80000001",
        "Work time left: 3600 s", "Error telegram - Invalid input data"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
  // --new-id routes the same way.
  const auto renamed = RunProgram(
      kCli, QStringList{"decode", "--hex", "--new-id", "12345678"} + kFixed + QStringList{kSample});
  EXPECT_EQ(renamed.out, r.out);
}
