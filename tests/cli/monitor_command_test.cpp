// velrpt-cli monitor end to end: the test plays the transceiver on a pty.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <random>
#include <sstream>

#include "hex.h"
#include "pty_pair.h"
#include "run_program.h"
#include "serial_port.h"

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

std::string SampleBytes() {
  QFile f(kSample);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly));
  return HexTextToBytes(f.readAll().simplified().toStdString());
}

// Reads the monitor's output until `lines` complete lines came or the time is up.
void ReadLines(QProcess& p, std::string& out, std::size_t lines, int timeoutMs = 20000) {
  QDeadlineTimer deadline(timeoutMs);
  while (static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) < lines &&
         !deadline.hasExpired()) {
    p.waitForReadyRead(50);
    out += p.readAllStandardOutput().toStdString();
  }
}

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

}  // namespace

TEST(MonitorCommand, BytesInRandomChunksGiveTheLinesDecodePrints) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string bytes = SampleBytes();
  const QString decodeTable = dir.filePath("decode.csv");
  const QString monitorTable = dir.filePath("monitor.csv");
  const auto decoded = RunProgram(kCli, QStringList{"decode", "-", "--table", decodeTable} + kFixed,
                                  QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
  ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
  const auto expected = Lines(decoded.out);
  ASSERT_GT(expected.size(), 10u);

  PtyPair pty;
  QProcess monitor;
  monitor.start(kCli, QStringList{"monitor", "--port", QString::fromStdString(pty.SlavePath()), "--table",
                                  monitorTable} +
                          kFixed);
  ASSERT_TRUE(monitor.waitForStarted());
  std::string out;
  ReadLines(monitor, out, 1);
  ASSERT_EQ(Lines(out), std::vector<std::string>{pty.SlavePath() + " - 19200,8,None"}) << out;

  std::mt19937 random(20261208);
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = std::min<std::size_t>(1 + random() % 40, bytes.size() - at);
    pty.Send(std::string_view(bytes).substr(at, n));
    at += n;
  }
  ReadLines(monitor, out, expected.size() + 1);
  monitor.terminate();  // SIGTERM: ends the loop, then the table is written
  ASSERT_TRUE(monitor.waitForFinished(10000));
  EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(monitor.exitCode(), 0) << monitor.readAllStandardError().toStdString();
  out += monitor.readAllStandardOutput().toStdString();

  std::vector<std::string> lines = Lines(out);
  ASSERT_FALSE(lines.empty());
  lines.erase(lines.begin());
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(FileBytes(monitorTable), FileBytes(decodeTable));
}

TEST(MonitorCommand, EndsAfterItsSecondsAndReportsAPortItCannotOpen) {
  PtyPair pty;
  const QString port = QString::fromStdString(pty.SlavePath());
  const auto timed = RunProgram(kCli, {"monitor", "--port", port, "--seconds", "0.2", "--parity", "odd"});
  EXPECT_EQ(timed.exitCode, 0) << timed.err;
  EXPECT_EQ(timed.out, pty.SlavePath() + " - 19200,8,odd\n");

  TSerialPort holder;
  holder.SetDeviceName(pty.SlavePath());
  holder.Open();
  const auto busy = RunProgram(kCli, {"monitor", "--port", port, "--seconds", "5"});
  EXPECT_EQ(busy.exitCode, 1);
  EXPECT_EQ(busy.out, "The selected serial port (" + pty.SlavePath() + ") is in use by another program!\n");

  const auto bad = RunProgram(kCli, {"monitor", "--port", port, "--seconds", "soon"});
  EXPECT_EQ(bad.exitCode, 2);
  const auto noPort = RunProgram(kCli, {"monitor"});
  EXPECT_EQ(noPort.exitCode, 2);
}
