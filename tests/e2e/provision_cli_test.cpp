// velrpt-cli provision as a program against the simulated Korvex with
// several repeaters: a repeater that misses half the commands, one that
// hears nothing, one that keeps a setting whatever it is told.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>

#include "../cli/run_program.h"
#include "e2e_support.h"
#include "sim_runner.h"
#include "text_files.h"

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
const std::vector<std::string> kFive = {"12345678", "12345679", "12345680", "12345681", "12345682"};

sim::SimOptions FiveRepeaters() {
  sim::SimOptions o;
  o.seed = 7;
  o.meters = 2;
  o.intervalMs = 500;
  o.repeaterId = kFive[0];
  o.moreRepeaterIds.assign(kFive.begin() + 1, kFive.end());
  return o;
}

std::string Read(const std::string& path) {
  std::string text, error;
  ReadWholeFile(path, text, error);
  return text;
}

std::vector<std::string> ReportRows(const std::string& path) {
  std::vector<std::string> rows = Lines(Read(path));
  rows.erase(std::remove(rows.begin(), rows.end(), std::string()), rows.end());
  return rows;
}

// The report's fields of one row: id;result;attempts;differs;finished.
std::vector<std::string> Fields(const std::string& row) {
  std::vector<std::string> f;
  size_t start = 0;
  for (size_t at; (at = row.find(';', start)) != std::string::npos; start = at + 1)
    f.push_back(row.substr(start, at - start));
  f.push_back(row.substr(start));
  return f;
}

TEST(ProvisionCli, HalfTheCommandsMissedStillVerifiesAFiveRepeaterBatch) {
  sim::SimOptions o = FiveRepeaters();
  o.miss = 0.5;
  sim::SimulatorRunner simulator(o);
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;
  QTemporaryDir dir;
  const std::string jobs = dir.filePath("jobs.csv").toStdString();
  const std::string report = dir.filePath("report.csv").toStdString();
  std::string text = "id;rx-start-hour;rx-hours;wireless-mode;flags\n";
  for (size_t i = 0; i < kFive.size(); ++i)
    text += kFive[i] + ";" + std::to_string(20 + i % 3) + ";" + std::to_string(1 + i) + ";Mode S;3 on\n";
  ASSERT_TRUE(ReplaceFile(jobs, text, error)) << error;

  // A short answer wait: an answer that comes late only costs a round.
  const ProgramResult r = RunProgram(kCli,
                                     {"provision", "--port", QString::fromStdString(simulator.SlavePath()),
                                      "--jobs", QString::fromStdString(jobs), "--attempts", "12",
                                      "--answer-timeout", "1", "--report", QString::fromStdString(report)},
                                     {}, 240'000);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  for (const std::string& id : kFive) {
    EXPECT_TRUE(Has(lines, id + " verified")) << r.out;
    // The answers in the log, as the receive path decodes them.
    EXPECT_TRUE(HasPrefix(lines, "Repeater " + id + ", VLM: 68 ")) << id;
  }
  // The result lines come after every log line.
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[lines.size() - 5], kFive[0] + " verified");
  EXPECT_GT(simulator.Stats().commandsMissed, 0u);

  const std::vector<std::string> rows = ReportRows(report);
  ASSERT_EQ(rows.size(), 6u) << Read(report);
  EXPECT_EQ(rows[0], "id;result;attempts;differs;finished");
  int resent = 0;
  for (size_t i = 0; i < kFive.size(); ++i) {
    const std::vector<std::string> f = Fields(rows[i + 1]);
    ASSERT_EQ(f.size(), 5u) << rows[i + 1];
    EXPECT_EQ(f[0], kFive[i]);
    EXPECT_EQ(f[1], "verified");
    resent += std::stoi(f[2]) > 1;
    EXPECT_EQ(f[3], "");
    EXPECT_EQ(f[4].size(), 19u) << f[4];  // 2026-12-08T21:30:05
    EXPECT_EQ(f[4][10], 'T');
  }
  EXPECT_GT(resent, 0);  // the misses were made up for by further rounds
  const std::vector<sim::RepeaterState> states = simulator.Repeaters();
  for (size_t i = 0; i < kFive.size(); ++i) {
    EXPECT_EQ(states[i].rxStartHour, 20 + i % 3);
    EXPECT_EQ(states[i].rxHours, 1 + i);
    EXPECT_EQ(states[i].wirelessMode, 3);
    EXPECT_TRUE(states[i].flags[2]);
  }
}

TEST(ProvisionCli, DeafOrAbsentRepeatersEndSilentAndAStuckOneAsMismatch) {
  // A deaf repeater hears no command; an absent one is not within reach at all.
  const struct {
    bool deaf;
    const char* id;
  } silent[] = {{true, "12345679"}, {false, "99999999"}};
  for (const auto& c : silent) {
    SCOPED_TRACE(c.id);
    sim::SimOptions o = FiveRepeaters();
    o.deaf = c.deaf;
    sim::SimulatorRunner simulator(o);
    std::string error;
    ASSERT_TRUE(simulator.Start(&error)) << error;
    QTemporaryDir dir;
    const std::string report = dir.filePath("report.csv").toStdString();
    const ProgramResult r =
        RunProgram(kCli, {"provision", "--port", QString::fromStdString(simulator.SlavePath()), "--id", c.id,
                          "--rx-hours", "4", "--wireless-mode", "Mode C", "--attempts", "2", "--answer-timeout",
                          "0.3", "--report", QString::fromStdString(report)});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), std::string(c.id) + " silent after 2 attempts");
    // Both rounds sent both frames, nothing came back.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("68 ", 0) == 0; }),
              4)
        << r.out;
    EXPECT_FALSE(HasPrefix(lines, "Repeater "));
    if (c.deaf) {
      EXPECT_EQ(simulator.Stats().commandsMissed, 4u);
    }
    const std::vector<std::string> rows = ReportRows(report);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].substr(0, rows[1].rfind(';')), std::string(c.id) + ";silent;2;");
  }
  {
    sim::SimOptions o = FiveRepeaters();
    o.stuck = {{"12345679", {sim::StuckSetting::Field::RxHours, 2}}};
    sim::SimulatorRunner simulator(o);
    std::string error;
    ASSERT_TRUE(simulator.Start(&error)) << error;
    QTemporaryDir dir;
    const std::string report = dir.filePath("report.csv").toStdString();
    // Its neighbour in the same batch is verified all the same.
    const std::string jobs = dir.filePath("jobs.csv").toStdString();
    ASSERT_TRUE(ReplaceFile(jobs, "id;rx-hours\n12345679;4\n12345680;4\n", error));
    const ProgramResult r =
        RunProgram(kCli, {"provision", "--port", QString::fromStdString(simulator.SlavePath()), "--jobs",
                          QString::fromStdString(jobs), "--attempts", "2", "--answer-timeout", "4",
                          "--report", QString::fromStdString(report)});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "12345679 mismatch: WORK HOURS RX wanted 4, reported 2") << r.out;
    EXPECT_EQ(lines.back(), "12345680 verified");
    const std::vector<std::string> rows = ReportRows(report);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].substr(0, rows[1].rfind(';')), "12345679;mismatch;2;WORK HOURS RX wanted 4 reported 2");
  }
}

TEST(ProvisionCli, SimulateWritesTheReport) {
  QTemporaryDir dir;
  const std::string report = dir.filePath("report.csv").toStdString();
  const ProgramResult r =
      RunProgram(kCli, {"provision", "--simulate", "--id", "12345678", "--rx-start-hour", "5", "--flag", "33",
                        "on", "--new-id", "87654321", "--answer-timeout", "3", "--attempts", "5", "--report",
                        QString::fromStdString(report)});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(Lines(r.out).back(), "12345678 verified");
  // The answer under the new ID is decoded in the log as well.
  EXPECT_TRUE(HasPrefix(Lines(r.out), "Repeater 87654321, VLM: 68 ")) << r.out;
  const std::vector<std::string> rows = ReportRows(report);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].substr(0, 18), "12345678;verified;");
}

TEST(ProvisionCli, BadInputIsRefusedWithStatusTwo) {
  QTemporaryDir dir;
  const std::string badJobs = dir.filePath("bad.csv").toStdString();
  std::string error;
  ASSERT_TRUE(ReplaceFile(badJobs, "id;rx-hours\n12345678;3\n12345679;9\n", error));
  struct Case {
    QStringList args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--id", "12345678", "--rx-hours", "7"}, "--rx-hours needs a whole number from 1 to 6, not '7'"},
      {{"--id", "12345678", "--rx-start-hour", "24"},
       "--rx-start-hour needs a whole number from 0 to 23, not '24'"},
      {{"--id", "12345678", "--flag", "65", "on"}, "--flag needs a whole number from 1 to 64, not '65'"},
      {{"--id", "12345678", "--flag", "3", "maybe"}, "--flag needs on or off after the value, not 'maybe'"},
      {{"--id", "12345678", "--clock-calibration", "40000", "on"},
       "--clock-calibration needs a whole number from 0 to 32767, not '40000'"},
      {{"--id", "12345678", "--rx-hours", "3", "--attempts", "0"},
       "--attempts needs a whole number from 1 to 100, not '0'"},
      {{"--id", "12345678", "--rx-hours", "3", "--answer-timeout", "nan"},
       "--answer-timeout needs a number from 0.1 to 3600, not 'nan'"},
      {{"--id", "1234567", "--rx-hours", "3"}, "repeater ID must be 8 digits: '1234567'"},
      {{"--id", "12345678"}, "nothing to set for repeater 12345678"},
      {{"--rx-hours", "3"}, "the settings options need --id"},
      {{"--id", "12345678", "--flag", "3", "on", "--flag", "40", "on"},
       "flags 1-32 and 33-64 go in separate jobs of the same repeater"},
      {{"--jobs", QString::fromStdString(badJobs)}, badJobs + ": line 3: rx-hours must be 1..6, not '9'"},
      {{"--jobs", dir.path()}, "Cannot open file " + dir.path().toStdString() + ": not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const ProgramResult r = RunProgram(kCli, QStringList{"provision", "--simulate"} + c.args);
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_EQ(r.err, "velrpt-cli: " + c.message + "\n");
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
