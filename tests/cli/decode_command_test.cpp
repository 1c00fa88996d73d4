#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <iterator>
#include <random>
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

namespace {

// A busy, untidy line: several hundred meters heard again and again with
// every header the decoder knows, wrong CIs, frames too short for a meter,
// noise between frames, the repeater's own frames, and a meter ID that
// comes back after others were added. Always the same bytes.
QByteArray VariedCapture() {
  std::mt19937 rng(16);
  QByteArray out;
  const auto frame = [&](const std::string& telegram) {
    out.append('\x68');
    out.append(static_cast<char>(telegram.size() + 1));
    out.append(telegram.data(), static_cast<qsizetype>(telegram.size()));
    out.append(static_cast<char>(rng() & 0xFF));  // RSSI
    out.append('\x16');
  };
  const std::uint8_t cis[] = {0x7A, 0x7A, 0x72, 0x78, 0xA3, 0x7A, 0x8C, 0x72};
  for (int i = 0; i < 6000; ++i) {
    const int meter = static_cast<int>(rng() % 700);
    std::string t("\x44\x93\x15", 3);
    const std::uint32_t id =
        meter == 699 ? 0x12345678u : 0x10000000u + static_cast<std::uint32_t>(meter) * 7919u;
    for (int k = 0; k < 4; ++k) t.push_back(static_cast<char>(id >> (8 * k)));
    t.push_back('\x33');
    t.push_back(static_cast<char>(rng() % 0x18));  // medium
    t.push_back(static_cast<char>(cis[rng() % std::size(cis)]));
    const int rest = static_cast<int>(rng() % 40);
    for (int k = 0; k < rest; ++k) {
      // The configuration byte's "repeated" bit on most of the time.
      const std::uint8_t b = rng() & 0xFF;
      t.push_back(static_cast<char>(k == 2 && rng() % 4 ? (b | 0x01) : b));
    }
    if (rng() % 50 == 0) t.resize(rng() % 9);  // too short to carry an ID or CI
    frame(t);
    if (rng() % 30 == 0) out.append(static_cast<char>(rng() & 0xFF));  // noise
  }
  return out;
}

}  // namespace

// The text of the log and the table file are compared byte for byte with
// what the decoder was known to write for the same capture, with every
// combination of the controls that changes what is written.
TEST(DecodeCommand, VariedCaptureGivesTheKnownOutput) {
  QTemporaryDir dir;
  const QString capture = dir.filePath("varied.bin"), table = dir.filePath("table.csv");
  {
    QFile f(capture);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(VariedCapture());
  }
  struct Case {
    QStringList options;
    const char* log;    // SHA-256 of standard output
    const char* table;  // SHA-256 of the table file
  } cases[] = {
      {{},
       "6e35f37ed284790ba4288be36c92f17f63381e75af112c32f2254a96f75749d7",
       "78a10435d9f2fcc6dff68ca336609b344f6cf3a99f68938439b0cb0c0fbe9f4b"},
      {{"--repeater-id", "12345678", "--only-service"},
       "067f7ce00c7fb6fe179c3ff2e3e41ccee13f17703c70929150e53814aad79cee",
       "bf31699ef75cfbefc6e6a1d23341eba608d8dfa63b20801d1fe3d9a48b5a6588"},
      {{"--new-id", "12345678", "--no-new"},
       "ee1d6571c952b44ccfebf311367be8b82e13a2d3954f5f2cd28390439b97a01b",
       "5b13bef7772356acdb663d029529fc9dd430335791b879d71fca6d2e3dbe2f90"},
      {{"--accept-any-ci", "--separator", ","},
       "8a733e71d0817a53554f89f9bcf2b54e00a7cc044f2aafeb0d67abc9974d6d28",
       "eb06d3432811a2d4c67b720571f03b1acb2b1edb44d04ef93ff7723c4d7d71f6"},
  };
  const auto sha = [](const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
  };
  // The C locale: the known texts hold its date and time formats.
  const auto run = [&](const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    p.setProcessEnvironment(env);
    p.start(kCli, QStringList{"decode"} + args + kFixed + QStringList{capture});
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.join(' ').toStdString());
    const QByteArray out = run(QStringList{"--table", table} + c.options);
    QFile f(table);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(sha(out), c.log);
    EXPECT_EQ(sha(f.readAll()), c.table);
    EXPECT_GT(out.count('\n'), 2900);
    // With no table file the table is not kept at all; what is printed
    // must not notice, as text or as JSON.
    EXPECT_EQ(sha(run(c.options)), c.log);
    EXPECT_EQ(run(QStringList{"--json"} + c.options), run(QStringList{"--json", "--table", table} + c.options));
  }
}
