// velrpt-sim as a program: its first line names the pseudo-terminal, it ends
// after --count or on SIGTERM, removes its link, and logs what it received.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <QTemporaryDir>
#include <cstdio>

#include "sim_test_support.h"

using namespace simtest;

namespace {

const std::string kProgram = std::string(VELRPT_BINARY_DIR) + "/src/sim/velrpt-sim";

// A child with its standard output and error in pipes.
struct Child {
  pid_t pid = -1;
  int out = -1;
  int err = -1;

  explicit Child(const std::vector<std::string>& args) {
    int o[2], e[2];
    if (pipe(o) != 0 || pipe(e) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(o[1], 1);
      dup2(e[1], 2);
      close(o[0]), close(o[1]), close(e[0]), close(e[1]);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(kProgram.c_str()));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(kProgram.c_str(), argv.data());
      _exit(127);
    }
    close(o[1]), close(e[1]);
    out = o[0];
    err = e[0];
  }
  ~Child() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
    if (err >= 0) close(err);
  }
  // Exit status, or -1 when it does not end within the limit.
  int Wait(int limitMs) {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) return -1;
    pollfd p{pidfd, POLLIN, 0};
    const int ready = poll(&p, 1, limitMs);
    close(pidfd);
    int status = 0;
    if (ready <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string FirstLine() {
    return ReadUntil(
        out, [](const std::string& s) { return s.find('\n') != std::string::npos; }, 10000);
  }
};

}  // namespace

TEST(SimProgram, PrintsThePtyAndEndsAfterCount) {
  Child child({"--count", "10", "--interval", "0", "--seed", "3"});
  ASSERT_GT(child.pid, 0);
  const std::string line = child.FirstLine();
  ASSERT_EQ(line.rfind("PTY /dev/pts/", 0), 0u) << line;
  const std::string path = line.substr(4, line.find('\n') - 4);
  const int fd = OpenSlave(path);
  ASSERT_GE(fd, 0);
  ProgramSide program;
  const std::string bytes = ReadUntil(
      fd,
      [&](const std::string& s) {
        ProgramSide p;
        p.Feed(s);
        return p.handler.Stats().framesCut >= 10;
      },
      10000);
  program.Feed(bytes);
  EXPECT_EQ(program.handler.Stats().framesCut, 10u);
  EXPECT_EQ(child.Wait(10000), 0);
  close(fd);
}

TEST(SimProgram, LinkAndLogUntilSigterm) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string link = dir.filePath("ttySIM").toStdString();
  Child child({"--link", link, "--meters", "0", "--repeater-id", "00001234"});
  ASSERT_GT(child.pid, 0);
  ASSERT_EQ(child.FirstLine().rfind("PTY ", 0), 0u);
  const int fd = OpenSlave(link);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteAll(fd, CommandFrame("00001234", B({0x01, 0x22, 0x05}))));
  const std::string answer = ReadUntil(
      fd, [](const std::string& s) { return s.size() >= 54; }, 10000);
  EXPECT_EQ(answer.size(), 54u);  // the full status answer
  close(fd);
  const std::string log = ReadUntil(
      child.err, [](const std::string& s) { return s.find("status answer") != std::string::npos; }, 10000);
  EXPECT_NE(log.find("received 68 12 06 8D 59 34 12 00 00 03 00 08 7A 01 00 00 00 01 22 05 16 "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("rx start hour 5"), std::string::npos) << log;
  kill(child.pid, SIGTERM);
  EXPECT_EQ(child.Wait(10000), 0);
  struct stat st;
  EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(SimProgram, PulledOutAndPutBackBySignals) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string link = dir.filePath("ttySIM").toStdString();
  Child child({"--link", link, "--interval", "10"});
  ASSERT_GT(child.pid, 0);
  const std::string first = child.FirstLine();
  ASSERT_EQ(first.rfind("PTY ", 0), 0u);
  kill(child.pid, SIGUSR1);
  EXPECT_NE(ReadUntil(
                child.err,
                [](const std::string& s) { return s.find("device pulled out") != std::string::npos; }, 10000)
                .find("device pulled out"),
            std::string::npos);
  struct stat st;
  EXPECT_NE(lstat(link.c_str(), &st), 0);
  kill(child.pid, SIGUSR2);
  const std::string second = child.FirstLine();
  ASSERT_EQ(second.rfind("PTY /dev/pts/", 0), 0u) << second;
  const int fd = OpenSlave(link);
  ASSERT_GE(fd, 0);
  ProgramSide program;
  program.Feed(ReadUntil(
      fd, [](const std::string& s) { return s.size() > 300; }, 10000));
  EXPECT_GT(program.handler.Stats().framesCut, 0u);
  close(fd);
  kill(child.pid, SIGTERM);
  EXPECT_EQ(child.Wait(10000), 0);
}

TEST(SimProgram, RefusesBadOptions) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--noise", "2"}, {"--repeater-id", "1234"}, {"--count"}, {"--bogus"}}) {
    Child child(args);
    EXPECT_NE(child.Wait(10000), 0) << args[0];
  }
  // The simulator's faults name their range.
  const struct {
    std::vector<std::string> args;
    const char* message;
  } ranged[] = {
      {{"--prompt-delay", "60001"}, "--prompt-delay needs a whole number from 0 to 60000, not '60001'"},
      {{"--drop-prompt", "0"}, "--drop-prompt needs a whole number from 1 to 1000000, not '0'"},
      {{"--miss", "1.5"}, "--miss needs a number from 0 to 1, not '1.5'"},
  };
  for (const auto& c : ranged) {
    Child child(c.args);
    EXPECT_EQ(child.Wait(10000), 2) << c.args[0];
    std::string err;  // the child has ended: everything up to the end of the pipe
    char buf[512];
    for (ssize_t n; (n = ::read(child.err, buf, sizeof buf)) > 0;) err.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(err.rfind(std::string("velrpt-sim: ") + c.message, 0), 0u) << err;
  }
}

// A transceiver that leaves the second prompt unanswered and a deaf repeater,
// as the options set them up on the program's command line.
TEST(SimProgram, DroppedPromptAndDeafRepeater) {
  Child child({"--meters", "0", "--drop-prompt", "2", "--deaf", "--prompt-delay", "50"});
  ASSERT_GT(child.pid, 0);
  const std::string line = child.FirstLine();
  ASSERT_EQ(line.rfind("PTY ", 0), 0u) << line;
  const int fd = OpenSlave(line.substr(4, line.find('\n') - 4));
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteAll(fd, B({0x00})));
  EXPECT_EQ(ReadUntil(
                fd, [](const std::string& s) { return !s.empty(); }, 10000),
            ">");
  ASSERT_TRUE(WriteAll(fd, B({'M', 0xFF, 'X'}) + CommandFrame(kRepeater, B({0x01, 0x22, 0x05}))));
  const std::string log = ReadUntil(
      child.err, [](const std::string& s) { return s.find("did not hear") != std::string::npos; }, 10000);
  EXPECT_NE(log.find("prompt 2 not answered"), std::string::npos) << log;
  EXPECT_NE(log.find("the repeater did not hear it"), std::string::npos) << log;
  // Neither the second prompt nor an answer is on its way.
  EXPECT_EQ(ReadUntil(
                fd, [](const std::string&) { return false; }, 300),
            "");
  kill(child.pid, SIGTERM);
  EXPECT_EQ(child.Wait(10000), 0);
  close(fd);
}
