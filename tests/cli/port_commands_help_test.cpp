// The help texts of the commands that talk to a port name every option
// those commands accept, and the command list names them.
#include <gtest/gtest.h>

#include "run_program.h"

namespace {

const QString kCli = VELRPT_CLI;

TEST(PortCommandsHelp, EveryOptionIsExplained) {
  const struct {
    const char* command;
    std::vector<std::string> options;
  } cases[] = {
      {"send",
       {"--port", "--simulate", "--speed", "--parity", "--id", "--bare", "--version", "--listen",
        "rx-start-hour", "rx-hours", "rx-window", "datetime", "flag", "clock-calibration", "wireless-mode",
        "new-id", "custom"}},
      {"set-in-korvex", {"--port", "--simulate", "--speed", "--parity", "--id"}},
      {"monitor",
       {"--port", "--simulate", "--speed", "--parity", "--seconds", "--repeater-id", "--only-service"}},
      {"frame", {"--id", "--bare", "--version", "--access", "--now", "rx-start-hour", "custom"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const ProgramResult r = RunProgram(kCli, {c.command, "--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const std::string& option : c.options)
      EXPECT_NE(r.out.find("  " + option + " "), std::string::npos) << option << "\n" << r.out;
    EXPECT_NE(r.out.find("\nExit status: 0 "), std::string::npos) << r.out;
  }
  const ProgramResult usage = RunProgram(kCli, {"--help"});
  EXPECT_NE(usage.out.find("  send "), std::string::npos) << usage.out;
  EXPECT_NE(usage.out.find("  set-in-korvex "), std::string::npos) << usage.out;
}

}  // namespace
