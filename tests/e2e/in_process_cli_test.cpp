// velrpt-cli's port commands with --simulate on the in-process device (as
// on Windows, asked for here by VELRPT_SIMULATOR) against the same commands
// on the pseudo-terminal simulator: the same seed, the same results.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>

#include "../cli/run_program.h"
#include "e2e_support.h"

namespace {

using namespace e2e;

const QString kCli = VELRPT_CLI;

ProgramResult RunOn(bool inProcess, const QStringList& args) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  if (inProcess)
    env.insert("VELRPT_SIMULATOR", "in-process");
  else
    env.remove("VELRPT_SIMULATOR");
  return RunProgram(kCli, args, {}, 60000, env);
}

// What neither the moment nor the line decides: the port's line without
// the port's name, each log line without its date and time.
std::vector<std::string> Comparable(const std::string& out) {
  std::vector<std::string> lines = Lines(out);
  if (!lines.empty()) {
    const size_t dash = lines[0].find(" - ");
    if (dash != std::string::npos) lines[0] = lines[0].substr(dash);
  }
  for (std::string& l : lines) {
    if (l.empty() || l[0] < '0' || l[0] > '9') continue;
    const size_t stamp = l.find(": ");
    l = stamp == std::string::npos ? "(date and time)" : l.substr(stamp + 2);
  }
  return lines;
}

TEST(InProcessCli, SameResultsAsOnThePseudoTerminal) {
  struct Case {
    const char* name;
    QStringList args;
    bool wholeOutput;  // else: the traffic seen in both runs' common time
  } const cases[] = {
      // Answers without the repeater's clock, which runs on between the runs.
      {"send", {"send", "flag", "40", "on", "--simulate", "--listen", "2"}, true},
      {"send bare", {"send", "flag", "5", "on", "--bare", "--simulate", "--listen", "2"}, true},
      {"set-in-korvex", {"set-in-korvex", "--simulate", "--id", "87654321"}, true},
      {"monitor", {"monitor", "--simulate", "--seconds", "3"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramResult pty = RunOn(false, c.args);
    const ProgramResult inProcess = RunOn(true, c.args);
    ASSERT_EQ(pty.exitCode, 0) << pty.out << pty.err;
    ASSERT_EQ(inProcess.exitCode, 0) << inProcess.out << inProcess.err;
    EXPECT_EQ(Lines(pty.out)[0].rfind("/dev/pts/", 0), 0u) << pty.out;
    EXPECT_EQ(Lines(inProcess.out)[0], "<simulated Korvex> - 19200,8,None") << inProcess.out;
    std::vector<std::string> a = Comparable(pty.out);
    std::vector<std::string> b = Comparable(inProcess.out);
    if (!c.wholeOutput) {
      // Traffic starts with the simulator, before the port is open, and
      // what came before the open is purged: line both up on the first
      // telegram both saw, and compare as far as both ran.
      ASSERT_GE(a.size(), 2u) << pty.out;
      ASSERT_GE(b.size(), 2u) << inProcess.out;
      const auto inB = std::find(b.begin() + 1, b.end(), a[1]);
      if (inB != b.end())
        b.erase(b.begin() + 1, inB);
      else
        a.erase(a.begin() + 1, std::find(a.begin() + 1, a.end(), b[1]));
      const size_t n = std::min(a.size(), b.size());
      EXPECT_GE(n, 4u) << pty.out << inProcess.out;
      a.resize(n);
      b.resize(n);
    }
    EXPECT_EQ(a, b) << pty.out << inProcess.out;
    EXPECT_EQ(pty.err, inProcess.err);
  }
}

}  // namespace
