// velrpt-cli monitor on a line with noise, frames in random pieces and
// frames with a wrong end byte, played by the simulator: every frame that
// went out whole and clear of the damage is decoded exactly once.
#include <gtest/gtest.h>

#include <algorithm>

#include <QFile>
#include <QTemporaryDir>
#include <map>

#include "../cli/run_program.h"
#include "e2e_support.h"
#include "hex.h"
#include "sim_runner.h"

// The tests start programs while the simulator's thread runs. ThreadSanitizer
// cannot follow a fork of a process with threads and would end the run; the
// child only execs the program, which runs under its own sanitizer.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() { return "die_after_fork=0"; }
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
extern "C" const char* __tsan_default_options() { return "die_after_fork=0"; }
#endif
#endif

namespace {

using namespace e2e;

const QString kCli = VELRPT_CLI;
const QStringList kDecodeOptions = {"--now", "2026-12-07 09:07:05", "--accept-any-ci"};

TEST(MonitorFaults, EveryCleanFrameIsDecodedExactlyOnce) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString record = dir.filePath("line.bin");
  sim::SimOptions o;
  o.seed = 20261208;
  o.intervalMs = 0;
  o.count = 150;
  o.noise = 0.25;
  o.chunks = true;
  o.badFrames = 0.08;
  o.recordPath = record.toStdString();
  sim::SimulatorRunner simulator(o);
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;

  QProcess monitor;
  monitor.start(
      kCli, QStringList{"monitor", "--port", QString::fromStdString(simulator.SlavePath())} + kDecodeOptions);
  ASSERT_TRUE(monitor.waitForStarted());
  ASSERT_TRUE(simulator.WaitFinished(120000));
  monitor.terminate();  // between two receive events
  ASSERT_TRUE(monitor.waitForFinished(20000));
  ASSERT_EQ(monitor.exitCode(), 0) << monitor.readAllStandardError().toStdString();
  const std::vector<std::string> shown = Lines(monitor.readAllStandardOutput().toStdString());
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown[0], simulator.SlavePath() + " - 19200,8,None");

  QFile file(record);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray recorded = file.readAll();
  const std::string line(recorded.constData(), static_cast<size_t>(recorded.size()));
  std::vector<std::string> clean = CleanFrames(line);
  // The faults were there, and most frames still came through clear of them.
  const auto stats = simulator.Stats();
  EXPECT_EQ(stats.telegramsSent, 150u);
  EXPECT_GT(clean.size(), stats.framesSent / 2);
  EXPECT_LT(clean.size(), stats.framesSent);

  // The simulator talks from its start; what it sent before the monitor had
  // opened the port is stale and thrown away by the open. The comparison
  // starts with the first frame the monitor shows.
  const auto shows = [&](const std::string& f) {
    const std::string tail = ": " + HexText(f);
    return std::any_of(shown.begin(), shown.end(), [&](const std::string& l) {
      return l.size() >= tail.size() && l.compare(l.size() - tail.size(), tail.size(), tail) == 0;
    });
  };
  const auto first = std::find_if(clean.begin(), clean.end(), shows);
  ASSERT_NE(first, clean.end());
  clean.erase(clean.begin(), first);

  // What the headless decoder prints for the clean frames alone.
  std::string joined;
  for (const std::string& f : clean) joined += f;
  const ProgramResult decoded =
      RunProgram(kCli, QStringList{"decode", "-"} + kDecodeOptions, QByteArray(joined.data(), joined.size()));
  ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
  const std::vector<std::string> reference = Lines(decoded.out);

  std::map<std::string, int> times;  // a frame sent twice alike must show twice
  for (const std::string& f : clean) ++times[HexText(f)];
  const auto count = [](const std::vector<std::string>& lines, const std::string& hex) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.size() >= hex.size() + 2 &&
             l.compare(l.size() - hex.size() - 2, hex.size() + 2, ": " + hex) == 0;
    });
  };
  for (const auto& [hex, n] : times) {
    ASSERT_EQ(count(reference, hex), n) << "decode does not show " << hex;
    EXPECT_EQ(count(shown, hex), n) << hex;
  }
  // And each of those frames with the very lines decode prints for it.
  for (const std::string& l : reference) EXPECT_TRUE(Has(shown, l)) << l;
}

}  // namespace
