// How each velrpt-cli command opens a port, seen from the system calls:
// one open, the exclusive claim, the raw line settings, DTR and RTS off,
// both queues emptied, and only then a read or a write. A device starts
// with the kernel's defaults (echo, canonical input), so anything that
// reaches the line before the raw settings is echoed or cooked.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "pty_pair.h"

namespace {

// The calls made on the descriptor the port was opened as, in order.
struct Trace {
  int opens = 0;
  std::vector<std::string> calls;  // "flock", "TIOCEXCL", "TCSETS2", "read", ...
};

// strace -f splits a call in two when another thread makes one meanwhile:
// "PID  openat(... <unfinished ...>" and later "PID  <... openat resumed>) = 5".
// Join them per thread so every call reads as one line.
std::vector<std::string> JoinedCalls(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  std::map<std::string, std::string> pending;  // thread id -> first half
  const std::regex unfinished("^(\\d+ +)(.*) <unfinished \\.\\.\\.>$");
  const std::regex resumed("^(\\d+ +)<\\.\\.\\. [a-z0-9_]+ resumed>(.*)$");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, unfinished)) {
      pending[m[1].str().substr(0, m[1].str().find(' '))] = m[1].str() + m[2].str();
    } else if (std::regex_match(line, m, resumed)) {
      const std::string tid = m[1].str().substr(0, m[1].str().find(' '));
      lines.push_back(pending[tid] + m[2].str());
      pending.erase(tid);
    } else {
      lines.push_back(line);
    }
  }
  return lines;
}

Trace ReadTrace(const std::string& file, const std::string& path) {
  Trace trace;
  const std::regex open("openat\\([^,]*, \"" + path + "\",.*\\) = ([0-9]+)");
  std::string fd;
  for (const std::string& line : JoinedCalls(file)) {
    std::smatch m;
    if (std::regex_search(line, m, open)) {
      ++trace.opens;
      fd = m[1];
      continue;
    }
    if (fd.empty()) continue;
    const std::regex call("(flock|ioctl|read|write|close)\\(" + fd + ", ?([A-Z0-9_]*)");
    if (!std::regex_search(line, m, call)) continue;
    if (m[1] == "close") {
      fd.clear();
      continue;
    }
    trace.calls.push_back(m[1] == "ioctl" ? m[2].str() : m[1].str());
  }
  return trace;
}

std::size_t IndexOf(const std::vector<std::string>& calls, const std::string& call) {
  for (std::size_t i = 0; i < calls.size(); ++i)
    if (calls[i] == call) return i;
  return calls.size();
}

TEST(OpenSequence, EveryCommandOpensOnceClaimsSetsRawClearsLinesAndFlushesBeforeIo) {
  if (QProcess::execute("strace", {"-V"}) != 0) GTEST_SKIP() << "strace is not installed";
  // A frame the "device" sent before the port was opened: stale, never decoded.
  const std::string stale =
      "\x68\x12\x06\x8D\x59\x78\x56\x34\x12\x03\x00\x08\x7A\x01\x00\x00\x00\x01\x22\x05\x16";
  struct Case {
    const char* name;
    QStringList args;
    const char* staleMark;  // how the stale frame would show
  };
  const Case cases[] = {
      {"monitor", {"monitor", "--seconds", "0.3"}, "01 22 05 16"},
      {"survey", {"survey", "--seconds", "0.3"}, "12345678"},
      {"send", {"send", "rx-hours", "2", "--id", "12345678", "--listen", "0.3"}, "01 22 05 16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    PtyPair pty;
    pty.Send(stale);
    const std::string traceFile = dir.filePath("trace").toStdString();
    QProcess run;
    run.start("strace", QStringList{"-f", "-qq", "-e", "trace=openat,flock,ioctl,read,write,close", "-o",
                                    QString::fromStdString(traceFile), VELRPT_CLI}
                            << c.args << "--port" << QString::fromStdString(pty.SlavePath()));
    ASSERT_TRUE(run.waitForFinished(60000));
    const std::string out = run.readAllStandardOutput().toStdString();
    EXPECT_EQ(run.exitCode(), 0) << out << run.readAllStandardError().toStdString();
    EXPECT_EQ(out.find(c.staleMark), std::string::npos) << out;

    const Trace trace = ReadTrace(traceFile, pty.SlavePath());
    EXPECT_EQ(trace.opens, 1);
    const std::vector<std::string>& calls = trace.calls;
    ASSERT_GE(calls.size(), 6u);
    EXPECT_EQ(calls[0], "flock");
    EXPECT_EQ(calls[1], "TIOCEXCL");
    EXPECT_EQ(calls[2], "TCSETS2");  // nothing but the claim before the settings
    const std::size_t flush = IndexOf(calls, "TCFLSH");
    const std::size_t firstIo = std::min(IndexOf(calls, "read"), IndexOf(calls, "write"));
    EXPECT_LT(flush, firstIo);
    EXPECT_LT(IndexOf(calls, "TIOCMBIC"), flush);
    std::string seen;
    for (const std::string& call : calls) seen += call + " ";
    SCOPED_TRACE(seen);
    // RTS and DTR both cleared before the flush.
    int cleared = 0;
    for (std::size_t i = 0; i < flush && i < calls.size(); ++i) cleared += calls[i] == "TIOCMBIC";
    EXPECT_EQ(cleared, 2);
  }
}

// The transceiver pulled out while set-in-korvex waits for its prompt: the
// loss as any loss, then the exchange's own failure; no raw error text.
TEST(OpenSequence, APullDuringSetInKorvexIsTheLossAndAFailedSave) {
  PtyPair pty;
  QProcess run;
  run.start(VELRPT_CLI,
            {"set-in-korvex", "--port", QString::fromStdString(pty.SlavePath()), "--id", "12345678"});
  ASSERT_TRUE(run.waitForStarted(30000));
  std::string out;
  // Nobody answers the prompt, so the first exchange waits: pull then.
  while (out.find(",8,None") == std::string::npos && run.state() == QProcess::Running) {
    run.waitForReadyRead(1000);
    out += run.readAllStandardOutput().toStdString();
  }
  pty.CloseMaster();
  ASSERT_TRUE(run.waitForFinished(60000));
  out += run.readAllStandardOutput().toStdString();
  const std::string err = run.readAllStandardError().toStdString();
  EXPECT_EQ(run.exitCode(), 1);
  EXPECT_NE(out.find("The serial port (" + pty.SlavePath() + ") was disconnected!"), std::string::npos)
      << out;
  ASSERT_NE(out.find("Error setting parameter"), std::string::npos) << out << err;
  EXPECT_LT(out.find("was disconnected!"), out.find("Error setting parameter")) << out;
  EXPECT_EQ(err.find("Error clearing buffers"), std::string::npos) << err;
  EXPECT_EQ(err.find("Write error"), std::string::npos) << err;
}

}  // namespace
