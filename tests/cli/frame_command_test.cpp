#include <gtest/gtest.h>

#include "run_program.h"

namespace {

const QString kCli = VELRPT_CLI;

ProgramResult Frame(QStringList args) { return RunProgram(kCli, QStringList{"frame"} + args); }

TEST(FrameCommand, PrintsTheLogLineOfEachCommand) {
  const struct {
    QStringList args;
    const char* out;
    int status;
  } cases[] = {
      {{"rx-start-hour", "5", "--id", "12345678"},
       "68 12 06 8D 59 78 56 34 12 03 00 08 7A 01 00 00 00 01 22 05 16 \n",
       0},
      {{"rx-start-hour", "5", "--id", "12345678", "--bare"},
       "12 06 8D 59 78 56 34 12 03 00 08 7A 01 00 00 00 01 22 05 \n",
       0},
      {{"rx-hours", "6", "--id", "12345678", "--access", "0", "--version", "16"},
       "68 12 06 8D 59 78 56 34 12 10 00 08 7A 00 00 00 00 01 26 06 16 \n",
       0},
      {{"rx-window", "22", "4", "--id", "12345678", "--access", "255"},
       "68 15 06 8D 59 78 56 34 12 03 00 0B 7A FF 00 00 00 0F FF 6D 02 16 04 16 \n",
       0},
      {{"datetime", "--id", "12345678", "--now", "2026-12-07 09:07"},
       "68 15 06 8D 59 78 56 34 12 03 00 0B 7A 01 00 00 00 04 6D 07 09 47 3C 16 \n",
       0},
      {{"datetime", "--id", "12345678", "--now", "1850-12-07 09:07"},
       "Incorrect year of the PC, skipping datetime set...\nNot correct command for sending...\n",
       1},
      {{"flag", "33", "on", "--id", "12345678"},
       "68 17 06 8D 59 78 56 34 12 03 00 0D 7A 01 00 00 00 0F FF 05 04 21 01 00 00 16 \n",
       0},
      {{"flag", "", "on", "--id", "12345678"}, "Not correct command for sending...\n", 1},
      {{"flag", "70", "off", "--id", "12345678"}, "Not correct command for sending...\n", 1},
      {{"clock-calibration", "300", "on", "--id", "12345678", "--bare"},
       "15 06 8D 59 78 56 34 12 03 00 0B 7A 01 00 00 00 0F FF 32 02 2C 81 \n",
       0},
      {{"clock-calibration", "", "off", "--id", "12345678"}, "Not correct command for sending...\n", 1},
      {{"wireless-mode", "Mode S", "--id", "12345678", "--bare"},
       "68 14 06 8D 59 78 56 34 12 03 00 0A 7A 01 00 00 00 0F FF 20 01 03 16 \n",
       0},
      {{"wireless-mode", "mode s", "--id", "12345678"}, "", 1},
      {{"new-id", "87654321", "--id", "12345678"},
       "68 19 06 8D 59 78 56 34 12 03 00 0F 7A 01 00 00 00 07 79 21 43 65 87 8D 59 03 00 16 \n",
       0},
      {{"new-id", "8765432", "--id", "12345678"},
       "New serial ID must be exactly 8-digits long, please correct\n",
       1},
      {{"rx-hours", "1", "--id", "1234567"},
       "No Repeater selected (or serial ID of repeater is wrong)...\n",
       1},
      {{"custom", "01 FD 17", "--id", ""},
       "68 12 06 8D 59 00 00 00 00 03 00 08 7A 01 00 00 00 01 FD 17 16 \n",
       0},
      {{"custom", "01 ZZ 17", "--id", "12345678"}, "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const ProgramResult r = Frame(c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    EXPECT_EQ(r.err, "");
  }
}

TEST(FrameCommand, BadInputIsAnErrorWithStatus2) {
  const QStringList cases[] = {
      {},
      {"warp", "--id", "12345678"},
      {"rx-start-hour", "24", "--id", "12345678"},
      {"rx-hours", "0", "--id", "12345678"},
      {"rx-hours", "x", "--id", "12345678"},
      {"rx-window", "5", "--id", "12345678"},
      {"flag", "3", "maybe", "--id", "12345678"},
      {"rx-hours", "2"},
      {"rx-hours", "2", "--id", "12345678", "--access", "256"},
      {"datetime", "--id", "12345678", "--now", "yesterday"},
      {"rx-hours", "2", "--id", "12345678", "--fast"},
  };
  for (const QStringList& args : cases) {
    SCOPED_TRACE(args.join(' ').toStdString());
    const ProgramResult r = Frame(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

// The calibration's 15 bits, at their edges: the command line refuses what
// the window refuses, with the range.
TEST(FrameCommand, CalibrationBeyondFifteenBitsIsRefusedWithTheRange) {
  const struct {
    const char* value;
    const char* out;  // nullptr: refused
  } cases[] = {
      {"32767", "15 06 8D 59 78 56 34 12 03 00 0B 7A 01 00 00 00 0F FF 32 02 FF 7F \n"},
      {"0", "15 06 8D 59 78 56 34 12 03 00 0B 7A 01 00 00 00 0F FF 32 02 00 00 \n"},
      {"32768", nullptr},
      {"40000", nullptr},
      {"-1", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const ProgramResult r = Frame({"clock-calibration", c.value, "off", "--id", "12345678", "--bare"});
    if (c.out) {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.out, c.out);
      continue;
    }
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("velrpt-cli: the clock calibration is 0 to 32767, not '") + c.value + "'\n");
  }
}

}  // namespace
