// The program's own command handlers against the simulator: "Set in Korvex"
// with its purges and waits while meter traffic runs, and the parameter
// commands changing the simulated repeater. The port is the slave side of the
// simulator's pseudo-terminal, opened as a serial port is.

#include <gtest/gtest.h>

#include "repeater_commands.h"
#include "scripted_prompts.h"
#include "sim_runner.h"
#include "sim_test_support.h"

using namespace simtest;

namespace {

// The commands' port straight on the slave descriptor.
class SlavePort : public CommandPort {
 public:
  explicit SlavePort(int fd) : m_fd(fd) {}
  bool WriteString(std::string_view bytes) override { return WriteAll(m_fd, std::string(bytes)); }
  bool WriteByte(std::uint8_t byte) override {
    return WriteAll(m_fd, std::string(1, static_cast<char>(byte)));
  }
  // What waits, at once, as the serial component reads.
  int ReadData(char* dest, int count) override {
    const ssize_t n = ::read(m_fd, dest, static_cast<size_t>(count));
    return n > 0 ? static_cast<int>(n) : 0;
  }
  void PurgeAll() override { tcflush(m_fd, TCIOFLUSH); }
  void Drain() override { tcdrain(m_fd); }
  bool WaitForInput(int timeoutMs) override {
    pollfd p{m_fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
  }

 private:
  int m_fd;
};

}  // namespace

TEST(SimWithProgramCommands, SetInKorvexAndParameterCommandsWhileTrafficRuns) {
  sim::SimOptions options;
  options.intervalMs = 20;  // a busy site
  options.seed = 12;
  sim::SimulatorRunner runner(options);
  std::string error;
  ASSERT_TRUE(runner.Start(&error)) << error;
  const int fd = OpenSlave(runner.SlavePath());
  ASSERT_GE(fd, 0);

  SlavePort port(fd);
  VectorLogSink log;
  std::vector<std::string> statuses;
  FixedClock clock(LocalTime{2026, 12, 7, 9, 7, 30});
  ScriptedPrompts prompts;
  CommandState state;
  RepeaterCommands commands(
      state, CommandEnvironment{log, [&](const std::string& s) { statuses.push_back(s); }, clock,
                                [&] {
                                  port.PurgeAll();
                                  return true;
                                },
                                port, prompts});
  CommandControls controls;
  controls.repeaterId = "12345678";

  // Telegrams still arriving when an exchange starts are no prompt and no failure.
  EXPECT_TRUE(commands.SetInKorvex(controls)) << ::testing::PrintToString(log.lines);
  EXPECT_EQ(statuses, std::vector<std::string>{kParameterSaved});
  const auto memory = runner.KorvexMemory();
  const int want[] = {0x59, 0x8D, 0x12, 0x34, 0x56, 0x78, 0x00, 0x00};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(memory[static_cast<size_t>(25 + i)], want[i]) << 25 + i;
  EXPECT_TRUE(prompts.shown.empty());

  // One command after the other, as an operator clicks them: each purge of
  // the port would discard what the device has not taken yet.
  const auto taken = [&](std::uint64_t n) {
    return runner.WaitFor([n](const sim::SimStats& s) { return s.commandFrames >= n; }, 15000);
  };
  controls.rxStartHour = 21;
  controls.rxHours = 5;
  commands.Run(CommandKind::RxWindow, controls);
  ASSERT_TRUE(taken(1));
  controls.flag = "33";
  controls.flagSet = true;
  commands.Run(CommandKind::Flag, controls);
  ASSERT_TRUE(taken(2));
  controls.wirelessMode = "Mode T";
  commands.Run(CommandKind::WirelessMode, controls);
  ASSERT_TRUE(taken(3));
  const sim::RepeaterState repeater = runner.Repeater();
  EXPECT_EQ(repeater.rxStartHour, 21);
  EXPECT_EQ(repeater.rxHours, 5);
  EXPECT_TRUE(repeater.flags[32]);
  EXPECT_EQ(repeater.wirelessMode, 1);
  close(fd);
}
