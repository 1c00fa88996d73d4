// velrpt-cli send, set-in-korvex and monitor --simulate as programs, against
// the simulated Korvex and repeater (or a transceiver that stays silent).
#include <gtest/gtest.h>

#include "../cli/run_program.h"
#include "e2e_support.h"
#include "hand_korvex.h"
#include "hex.h"
#include "pty_pair.h"
#include "repeater_commands.h"
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

sim::SimOptions Options() {
  sim::SimOptions o;
  o.seed = 5;
  o.intervalMs = 200;
  return o;
}

TEST(CliPrograms, SendEveryCommandAndPrintTheRepeatersAnswer) {
  for (const CommandCase& c : CommandCases()) {
    SCOPED_TRACE(c.name);
    sim::SimulatorRunner simulator(Options());
    std::string error;
    ASSERT_TRUE(simulator.Start(&error)) << error;
    QStringList args = QStringList{"send"} + Q(c.args) +
                       QStringList{"--port",   QString::fromStdString(simulator.SlavePath()),
                                   "--id",     QString::fromStdString(kRepeater),
                                   "--listen", "2"};
    if (c.bare) args << "--bare";
    const ProgramResult r = RunProgram(kCli, args);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_GE(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0], simulator.SlavePath() + " - 19200,8,None");
    EXPECT_EQ(HexText(HexTextToBytes(lines[1])), lines[1]);
    for (const std::string& line : c.answer) EXPECT_TRUE(Has(lines, line)) << line << "\n" << r.out;
    EXPECT_TRUE(HasPrefix(lines, "Repeater " + c.answerFrom + ", VLM: 68 ")) << r.out;
    // "Show only service data": none of the meters' telegrams.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find(": 68 ") != std::string::npos; }),
              2)
        << r.out;
    EXPECT_EQ(simulator.Stats().commandFrames, 1u);
    EXPECT_TRUE(c.applied(simulator.Repeater()));
  }
}

TEST(CliPrograms, SendDateTimeSetsTheRepeatersClock) {
  sim::SimOptions o = Options();
  o.startTime = sim::CivilTime{2020, 1, 1, 0, 0, 0};
  sim::SimulatorRunner simulator(o);
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;
  const ProgramResult r =
      RunProgram(kCli, {"send", "datetime", "--port", QString::fromStdString(simulator.SlavePath()), "--id",
                        QString::fromStdString(kRepeater), "--listen", "2"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 2u) << r.out;
  // The record sent: 04 6D minute hour day+year month+year.
  const Bytes sent = HexTextToBytes(lines[1]);
  ASSERT_EQ(sent.size(), 24u) << lines[1];
  ASSERT_EQ(sent.substr(17, 2), "\x04\x6D");
  // The repeater's clock now runs from the PC's time, no longer from 2020;
  // day and month with the year bits are what was sent.
  const std::string prefix = "Current repeater time in HEX: 0x";
  const auto answer =
      std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  ASSERT_NE(answer, lines.end()) << r.out;
  std::string dayMonth;
  for (char b : sent.substr(21, 2)) dayMonth += HexText(std::string(1, b)).substr(0, 2);
  EXPECT_EQ(answer->substr(prefix.size() + 4), dayMonth) << r.out;
  EXPECT_TRUE(Unchanged(simulator.Repeater()));
}

TEST(CliPrograms, SendWithSimulate) {
  const ProgramResult sent = RunProgram(kCli, {"send", "rx-window", "3", "5", "--simulate", "--listen", "2"});
  ASSERT_EQ(sent.exitCode, 0) << sent.out << sent.err;
  const std::vector<std::string> lines = Lines(sent.out);
  EXPECT_TRUE(Has(lines, "START HOUR = 3")) << sent.out;
  EXPECT_TRUE(Has(lines, "WORK HOURS RX = 5")) << sent.out;
  EXPECT_TRUE(HasPrefix(lines, "Repeater " + kRepeater + ", VLM: ")) << sent.out;
}

TEST(CliPrograms, SendStatusForRefusalsPortFailuresAndBadInput) {
  const struct {
    QStringList args;
    int status;
    const char* lastLine;  // nullptr: not examined
  } cases[] = {
      {{"flag", "70", "on", "--simulate"}, 1, "Not correct command for sending..."},
      {{"rx-hours", "2", "--simulate", "--id", "1234567"},
       1,
       "No Repeater selected (or serial ID of repeater is wrong)..."},
      {{"new-id", "1234", "--simulate"}, 1, "New serial ID must be exactly 8-digits long, please correct"},
      {{"wireless-mode", "mode s", "--simulate"}, 1, nullptr},
      {{"custom", "01 ZZ", "--simulate"}, 1, nullptr},
      {{"rx-hours", "2", "--port", "/dev/velrpt-e2e-missing", "--id", "12345678"},
       1,
       "The selected serial port (/dev/velrpt-e2e-missing) does not exist!"},
      {{"rx-hours", "2", "--id", "12345678"}, 2, ""},
      {{"rx-hours", "2", "--port", "/dev/null", "--simulate"}, 2, ""},
      {{"rx-hours", "9", "--simulate"}, 2, ""},
      {{"--simulate"}, 2, ""},
      {{"rx-hours", "2", "--simulate", "--listen", "soon"}, 2, ""},
      {{"rx-hours", "2", "--port", "/dev/null"}, 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const ProgramResult r = RunProgram(kCli, QStringList{"send"} + c.args);
    EXPECT_EQ(r.exitCode, c.status) << r.out << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    if (c.lastLine && *c.lastLine) {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back(), c.lastLine);
    }
    if (c.lastLine && !*c.lastLine) {
      EXPECT_EQ(r.out, "");
    }
    if (c.status == 2) {
      EXPECT_FALSE(r.err.empty());
    }
  }
}

TEST(CliPrograms, SetInKorvexAgainstTheSimulatedTransceiver) {
  sim::SimulatorRunner simulator(Options());
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;
  const QString port = QString::fromStdString(simulator.SlavePath());
  const ProgramResult r = RunProgram(kCli, {"set-in-korvex", "--port", port, "--id", "87654321"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, simulator.SlavePath() + " - 19200,8,None\n" + kParameterSaved + "\n");
  const auto memory = simulator.KorvexMemory();
  const std::vector<int> expected = {0x59, 0x8D, 0x87, 0x65, 0x43, 0x21, 0x00, 0x00};
  EXPECT_EQ(std::vector<int>(memory.begin() + 25, memory.begin() + 33), expected);

  const ProgramResult refused = RunProgram(kCli, {"set-in-korvex", "--port", port, "--id", "8765432"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, std::string(kKorvexIdLength) + "\n");

  const ProgramResult simulated = RunProgram(kCli, {"set-in-korvex", "--simulate"});
  EXPECT_EQ(simulated.exitCode, 0) << simulated.out << simulated.err;
  EXPECT_EQ(Lines(simulated.out).back(), kParameterSaved);

  EXPECT_EQ(RunProgram(kCli, {"set-in-korvex", "--simulate", "--bare"}).exitCode, 2);
  EXPECT_EQ(RunProgram(kCli, {"set-in-korvex", "--port", port}).exitCode, 2);
}

TEST(CliPrograms, SetInKorvexWithASilentTransceiver) {
  PtyPair pty;
  const ProgramResult r = RunProgram(
      kCli, {"set-in-korvex", "--port", QString::fromStdString(pty.SlavePath()), "--id", "12345678"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.out, pty.SlavePath() + " - 19200,8,None\n" + kKorvexFailedAddresses +
                       "25, 26, 27, 28, 29, 30, 31, 32\n" + kParameterError + "\n");
  std::string expected;
  for (int i = 0; i < 8; ++i)
    expected += std::string(
        "\x00\xFF"
        "X",
        3);
  EXPECT_EQ(HexText(pty.Receive(expected.size())), HexText(expected));
  EXPECT_EQ(pty.ReadAvailable(), "");
}

// A transceiver played by hand: slow prompts are waited for; an unanswered
// third prompt (exchange 26) fails the run though the last exchange succeeds.
TEST(CliPrograms, SetInKorvexWithAHandPlayedTransceiver) {
  const struct {
    const char* name;
    HandKorvex::Manner manner;
    int exitCode;
    std::string tail;
  } cases[] = {
      {"slow", {.promptDelayMs = 120, .aheadOfFirst = "\x16"}, 0, std::string(kParameterSaved) + "\n"},
      {"third prompt unanswered",
       {.dropPrompt = 3},
       1,
       std::string(kKorvexFailedAddresses) + "26\n" + kParameterError + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PtyPair pty;
    HandKorvex korvex(pty);
    korvex.Start(c.manner);
    const ProgramResult r = RunProgram(
        kCli, {"set-in-korvex", "--port", QString::fromStdString(pty.SlavePath()), "--id", "12345678"});
    korvex.Stop();
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_EQ(r.out, pty.SlavePath() + " - 19200,8,None\n" + c.tail);
    EXPECT_EQ(korvex.Memory().at(32), 0x00);
    EXPECT_EQ(korvex.Memory().count(26), c.exitCode == 0 ? 1u : 0u);
  }
}

// The simulator as strict as a slow line: every byte paced both ways at 300
// baud, each prompt 300 ms late; then a run whose third prompt never comes.
TEST(CliPrograms, SetInKorvexOnASlowSimulatedLine) {
  for (const int drop : {0, 3}) {
    SCOPED_TRACE(drop);
    sim::SimOptions o = Options();
    o.meters = 0;  // at 300 baud one telegram alone fills the line for over a second
    o.baud = 300;
    o.promptDelayMs = drop ? 0 : 300;
    o.dropPrompt = drop;
    sim::SimulatorRunner simulator(o);
    std::string error;
    ASSERT_TRUE(simulator.Start(&error)) << error;
    const ProgramResult r =
        RunProgram(kCli, {"set-in-korvex", "--port", QString::fromStdString(simulator.SlavePath()), "--speed",
                          "300", "--id", "87654321"});
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_FALSE(lines.empty()) << r.err;
    const auto memory = simulator.KorvexMemory();
    if (drop == 0) {
      EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
      EXPECT_EQ(lines.back(), kParameterSaved);
      const std::vector<int> expected = {0x59, 0x8D, 0x87, 0x65, 0x43, 0x21, 0x00, 0x00};
      EXPECT_EQ(std::vector<int>(memory.begin() + 25, memory.begin() + 33), expected);
    } else {
      EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
      EXPECT_EQ(lines.back(), kParameterError);
      EXPECT_TRUE(Has(lines, std::string(kKorvexFailedAddresses) + "26")) << r.out;
      EXPECT_EQ(simulator.Stats().promptsDropped, 1u);
    }
  }
}

TEST(CliPrograms, MonitorWithSimulateShowsTheTraffic) {
  const ProgramResult r = RunProgram(kCli, {"monitor", "--simulate", "--seconds", "3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0].rfind("/dev/pts/", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(" - 19200,8,None"), std::string::npos);
  // Meter telegrams, each a log line ending in the frame's hex text.
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t at = lines[i].find(": 68 ");
    ASSERT_NE(at, std::string::npos) << lines[i];
    EXPECT_EQ(lines[i].substr(lines[i].size() - 3), "16 ") << lines[i];
  }
}

}  // namespace
