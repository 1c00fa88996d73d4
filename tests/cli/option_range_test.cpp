// Numeric options: one shared check, and every numeric option of velrpt-cli
// and velrpt-sim refuses an out-of-range value with status 2 and one line
// that names the option and its range.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "option_range.h"
#include "run_program.h"

namespace {

TEST(OptionRange, WholeNumbers) {
  struct Case {
    const char* text;
    std::optional<long long> value;
  };
  const Case cases[] = {
      {"0", 0},
      {"200", 200},
      {"17", 17},
      {"201", std::nullopt},
      {"-1", std::nullopt},
      {"", std::nullopt},
      {"12x", std::nullopt},
      {" 5", std::nullopt},
      {"+5", std::nullopt},
      {"5.0", std::nullopt},
      {"0x10", std::nullopt},
      {"99999999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_EQ(ParseIntOption("--meters", c.text, 0, 200, error), c.value);
    if (c.value) {
      EXPECT_EQ(error, "");
    } else {
      EXPECT_EQ(error, std::string("--meters needs a whole number from 0 to 200, not '") + c.text + "'");
    }
  }
  std::string error;
  EXPECT_EQ(ParseIntOption("--seed", "9223372036854775807", 0, INT64_MAX, error), INT64_MAX);
}

TEST(OptionRange, RealNumbers) {
  struct Case {
    const char* text;
    std::optional<double> value;
  };
  const Case cases[] = {
      {"0", 0.0},
      {"0.25", 0.25},
      {"2147483", 2147483.0},
      {"1e3", 1000.0},
      {"2147484", std::nullopt},
      {"3000000", std::nullopt},
      {"inf", std::nullopt},
      {"-inf", std::nullopt},
      {"nan", std::nullopt},
      {"1e999", std::nullopt},
      {"-0.5", std::nullopt},
      {"", std::nullopt},
      {"soon", std::nullopt},
      {"3s", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_EQ(ParseRealOption("--seconds", c.text, 0, 2147483, error), c.value);
    if (!c.value) {
      EXPECT_EQ(error, std::string("--seconds needs a number from 0 to 2147483, not '") + c.text + "'");
    }
  }
  // A refused value never breaks the message over two lines.
  std::string error;
  EXPECT_FALSE(ParseRealOption("--noise", "0.5\nforged", 0, 1, error));
  EXPECT_EQ(error, "--noise needs a number from 0 to 1, not '0.5\\nforged'");
}

// Every numeric option of both programs, each just outside its range.
TEST(OptionRange, ProgramsRefuseOutOfRangeValuesWithStatus2) {
  struct Case {
    const char* program;
    QStringList args;
    const char* option;
    const char* range;
  };
  const Case cases[] = {
      {VELRPT_CLI, {"monitor", "--seconds", "3000000"}, "--seconds", "from 0 to 2147483"},
      {VELRPT_CLI, {"monitor", "--seconds", "2147484"}, "--seconds", "from 0 to 2147483"},
      {VELRPT_CLI, {"monitor", "--seconds", "inf", "--simulate"}, "--seconds", "from 0 to 2147483"},
      {VELRPT_CLI, {"monitor", "--simulate", "--seconds", "-1"}, "--seconds", "from 0 to 2147483"},
      {VELRPT_CLI,
       {"send", "rx-hours", "2", "--simulate", "--listen", "86401"},
       "--listen",
       "from 0 to 86400"},
      {VELRPT_CLI,
       {"send", "rx-hours", "2", "--simulate", "--listen", "1e999"},
       "--listen",
       "from 0 to 86400"},
      {VELRPT_CLI,
       {"frame", "rx-hours", "2", "--id", "12345678", "--access", "256"},
       "--access",
       "from 0 to 255"},
      {VELRPT_CLI,
       {"frame", "rx-hours", "2", "--id", "12345678", "--access", "-1"},
       "--access",
       "from 0 to 255"},
      {VELRPT_SIM, {"--meters", "201"}, "--meters", "from 0 to 200"},
      {VELRPT_SIM, {"--interval", "3600001"}, "--interval", "from 0 to 3600000"},
      {VELRPT_SIM, {"--seed", "9223372036854775808"}, "--seed", "from 0 to 9223372036854775807"},
      {VELRPT_SIM, {"--baud", "4000001"}, "--baud", "from 0 to 4000000"},
      {VELRPT_SIM, {"--count", "-1"}, "--count", "from 0 to 9223372036854775807"},
      {VELRPT_SIM, {"--noise", "1.01"}, "--noise", "from 0 to 1"},
      {VELRPT_SIM, {"--bad-frames", "nan"}, "--bad-frames", "from 0 to 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const ProgramResult r = RunProgram(c.program, c.args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(c.option), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.range), std::string::npos) << r.err;
  }
}

}  // namespace
