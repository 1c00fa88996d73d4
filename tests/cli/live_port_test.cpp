// The commands on a live port read through the one receive path: a device
// pulled out in the middle of a frame and put back must not join the torn
// head to what the returned device sends.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <string>

#include "pty_pair.h"

namespace {

const QString kCli = VELRPT_CLI;

// A meter telegram through the repeater (configuration bit 0) with CI 0x7A.
std::string Frame(std::uint32_t id) {
  std::string t{'\x44', '\x30', '\x4C'};
  for (int k = 0; k < 4; ++k) t.push_back(static_cast<char>(id >> (8 * k)));
  t += std::string{'\x01', '\x07', '\x7A', '\x05', '\x00', '\x01', '\x00'};
  t += std::string(8, '\x2F');
  std::string f{'\x68', static_cast<char>(t.size() + 1)};
  return f + t + '\x90' + '\x16';
}

// Points `link` at `target`, replacing what it pointed at in one step, as a
// device node comes back at its name.
bool PointLink(const QString& link, const std::string& target) {
  const std::string tmp = (link + ".new").toStdString();
  ::unlink(tmp.c_str());
  return ::symlink(target.c_str(), tmp.c_str()) == 0 &&
         std::rename(tmp.c_str(), link.toStdString().c_str()) == 0;
}

// Bytes the process has read so far, from any descriptor.
long long BytesRead(qint64 pid) {
  FILE* io = std::fopen(("/proc/" + std::to_string(pid) + "/io").c_str(), "r");
  if (!io) return -1;
  long long n = -1;
  if (std::fscanf(io, "rchar: %lld", &n) != 1) n = -1;
  std::fclose(io);
  return n;
}

// Sends `bytes` and waits until the program has read them: its read count
// grew by at least as much and nothing waits on the line. The count alone
// is not enough (bytes still on their way to the line are not waiting yet),
// nor is the line alone.
bool SendRead(PtyPair& line, const QProcess& p, const std::string& bytes) {
  const long long before = BytesRead(p.processId());
  line.Send(bytes);
  QDeadlineTimer deadline(20000);
  while (!deadline.hasExpired()) {
    int waiting = 1;
    if (BytesRead(p.processId()) - before >= static_cast<long long>(bytes.size()) &&
        ::ioctl(line.SlaveFd(), FIONREAD, &waiting) == 0 && waiting == 0)
      return true;
    ::usleep(1000);  // polls the condition
  }
  return false;
}

// Reads the output until it holds `text`.
bool Says(QProcess& p, std::string& out, const std::string& text) {
  QDeadlineTimer deadline(20000);
  while (out.find(text) == std::string::npos && !deadline.hasExpired()) {
    p.waitForReadyRead(50);
    out += p.readAll().toStdString();
  }
  return out.find(text) != std::string::npos;
}

// Each command that keeps the receive path across a loss, and how it names
// a meter it heard: the survey by its ID, the monitor in the frame's hex text.
struct Case {
  const char* what;
  QStringList args;
  const char* kept;
  const char* torn;
  const char* after;
};

TEST(LivePort, ATornFrameIsNotJoinedToWhatTheReturnedDeviceSends) {
  const Case cases[] = {
      {"survey", {"survey", "--csv"}, "11111111", "22222222", "33333333"},
      {"monitor", {"monitor"}, "11 11 11 11", "22 22 22 22", "33 33 33 33"},
  };
  const std::string kept = Frame(0x11111111), torn = Frame(0x22222222), after = Frame(0x33333333);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("ttyKORVEX");
    auto first = std::make_unique<PtyPair>();
    ASSERT_TRUE(PointLink(link, first->SlavePath()));
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(kCli, c.args + QStringList{"--port", link});
    ASSERT_TRUE(p.waitForStarted());
    std::string out;
    ASSERT_TRUE(Says(p, out, "19200")) << out;  // the port's opening line
    // All of one frame and all but the end byte of the next, then the pull.
    ASSERT_TRUE(SendRead(*first, p, kept + torn.substr(0, torn.size() - 1)));
    first->CloseMaster();
    ASSERT_TRUE(Says(p, out, "was disconnected!")) << out;
    PtyPair second;
    ASSERT_TRUE(PointLink(link, second.SlavePath()));
    ASSERT_TRUE(Says(p, out, "is back, reconnected.")) << out;
    // This end byte would close the torn frame's head.
    ASSERT_TRUE(SendRead(second, p, "\x16" + after));
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(20000));
    out += p.readAll().toStdString();
    EXPECT_EQ(p.exitCode(), 0) << out;
    EXPECT_NE(out.find(c.kept), std::string::npos) << out;
    EXPECT_NE(out.find(c.after), std::string::npos) << out;
    EXPECT_EQ(out.find(c.torn), std::string::npos) << out;
  }
}

}  // namespace
