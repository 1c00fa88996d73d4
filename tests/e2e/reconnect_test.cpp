// The transceiver pulled out and put back again and again at full traffic
// rate, played by velrpt-sim on a link that moves to a new pseudo-terminal
// at each return: the window and velrpt-cli monitor come back by themselves
// each time, telegram lines flow again, no frame is logged twice, no
// descriptor is left behind and nothing spins while the device is away.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "e2e_support.h"
#include "hex.h"
#include "log_memo.h"
#include "main_form.h"
#include "program.h"
#include "pty_pair.h"
#include "scripted_prompts.h"
#include "settings_window.h"
#include "spawned_program.h"
#include "velrpt_application.h"

namespace {

using namespace e2e;

constexpr int kCycles = 20;
// Time spent away per cycle while the CPU is counted.
constexpr int kAwayMs = 250;
constexpr int kRepaintMs = 120;
// Generous: the machine may be very busy.
constexpr int kWaitMs = 30000;

// velrpt-sim as its own process: SIGUSR1 pulls the device out, SIGUSR2
// puts it back on a new pseudo-terminal behind the same link. Started with
// posix_spawn, not QProcess: see spawned_program.h.
class SimProcess {
 public:
  explicit SimProcess(const QTemporaryDir& dir)
      : m_link(dir.filePath("ttyKORVEX").toStdString()), m_record(dir.filePath("line.bin").toStdString()) {}
  bool Start() {
    return m_process.Start(VELRPT_SIM, {"--link", m_link, "--record", m_record, "--interval", "0"}) &&
           WaitPlugs();
  }
  void Pull() { ::kill(m_process.Pid(), SIGUSR1); }
  bool PutBack() {
    ::kill(m_process.Pid(), SIGUSR2);
    return WaitPlugs();
  }
  std::string Link() const { return m_link; }
  // Every byte the simulator sent. It is stopped first: its record is
  // written through a buffer, so the last frames would be missing.
  std::string Record() {
    m_process.Terminate(kWaitMs);
    std::ifstream in(m_record, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  // Each plug-in is announced by a "PTY <path>" line.
  bool WaitPlugs() {
    ++m_plugs;
    return WaitUntil(
        [&] {
          m_out += m_process.ReadAvailable();
          int plugs = 0;
          for (size_t at = 0; (at = m_out.find("PTY ", at)) != std::string::npos; at += 4) ++plugs;
          return plugs >= m_plugs;
        },
        kWaitMs);
  }

  std::string m_link, m_record;
  SpawnedProgram m_process;
  std::string m_out;
  int m_plugs = 0;
};

// What the log has said so far, read line by line as it grows.
struct Tally {
  std::unordered_map<std::string, int> frames;  // hex text -> times logged
  int lost = 0, back = 0, telegrams = 0, telegramsSinceBack = 0;
  std::vector<std::string> others;  // neither telegrams nor the port's lines

  void Add(const std::string& line) {
    const auto at = line.find(": 68 ");
    if (at != std::string::npos && line.size() > at + 5 && line.compare(line.size() - 3, 3, "16 ") == 0) {
      ++frames[line.substr(at + 2)];
      ++telegrams;
      ++telegramsSinceBack;
    } else if (line.find(") was disconnected!") != std::string::npos) {
      ++lost;
    } else if (line.find(") is back, reconnected.") != std::string::npos) {
      ++back;
      telegramsSinceBack = 0;
    } else {
      others.push_back(line);
    }
  }
  // Each frame at most as often as the simulator sent it. Every place of
  // the record where a frame stands counts, overlaps included: the record
  // runs on across a pull, so the head of a frame cut short there claims
  // bytes that belong to whole frames sent after the return. Noise that
  // happens to start with 0x68 and hold 0x16 at its end position is a frame
  // to the receiver too (logged when wrong CIs are not discarded).
  void ExpectNoneTwice(const std::string& record) const {
    const auto at = [&](size_t i) { return static_cast<std::uint8_t>(record[i]); };
    std::unordered_map<std::string, int> sent;
    for (size_t i = 0; i + 2 < record.size(); ++i) {
      const size_t end = i + at(i + 1) + 2;
      if (at(i) == 0x68 && end < record.size() && at(end) == 0x16)
        ++sent[HexText(record.substr(i, end - i + 1))];
    }
    int checked = 0;
    for (const auto& [hex, times] : frames) {
      EXPECT_LE(times, sent[hex]) << hex;
      ++checked;
    }
    EXPECT_GT(checked, 2 * kCycles);
  }
};

int OpenDescriptors(const QString& pid) {
  return static_cast<int>(QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                              .entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files | QDir::Dirs)
                              .size());
}

// User plus system CPU seconds of a process, from /proc.
double CpuSeconds(const QString& pid) {
  QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!file.open(QIODevice::ReadOnly)) return -1;
  const QByteArray stat = file.readAll();
  // The fields after the command name, which is in parentheses.
  const QList<QByteArray> f = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
  return static_cast<double>(f.value(11).toLongLong() + f.value(12).toLongLong()) /
         static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The cycles, whatever program is watched: `feed` passes its new log lines
// to the tally; `cpu` is the program's CPU time so far.
void RunCycles(SimProcess& sim, Tally& tally, const std::function<void()>& feed,
               const std::function<double()>& cpu, const std::function<int()>& descriptors,
               const std::function<void()>& whileAway = {}, const std::function<bool()>& settled = {}) {
  const auto until = [&](const std::function<bool()>& condition) {
    return WaitUntil(
        [&] {
          feed();
          return condition();
        },
        kWaitMs);
  };
  ASSERT_TRUE(until([&] { return tally.telegrams >= 2; }));
  const int fdsBefore = descriptors();
  double awayCpu = 0;
  for (int cycle = 1; cycle <= kCycles; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    sim.Pull();
    ASSERT_TRUE(until([&] { return tally.lost == cycle && (!settled || settled()); }));
    // The last frames' repaint (the log and the chart are drawn at most every
    // 100 ms) is past; from here on nothing may run.
    QTest::qWait(kRepaintMs);
    const double cpuBefore = cpu();
    QTest::qWait(kAwayMs);
    awayCpu += cpu() - cpuBefore;
    if (whileAway) whileAway();
    ASSERT_TRUE(sim.PutBack());
    ASSERT_TRUE(until([&] { return tally.back == cycle && tally.telegramsSinceBack >= 2; }));
  }
  EXPECT_EQ(tally.lost, kCycles);
  EXPECT_EQ(tally.back, kCycles);
  // What the last loss held is closed by whichever of its threads lets go
  // last, a moment after the return: a leak stays, a late close does not.
  EXPECT_TRUE(WaitUntil(
      [&] {
        feed();
        return descriptors() == fdsBefore;
      },
      kWaitMs))
      << descriptors() << " descriptors, " << fdsBefore << " before the pulls";
  // Under 0.05 s of CPU per second away.
  EXPECT_LT(awayCpu, 0.05 * kCycles * kAwayMs / 1000.0);
  tally.ExpectNoneTwice(sim.Record());
}

TEST(ReconnectE2E, MonitorComesBackAfterEveryPull) {
  QTemporaryDir dir;
  SimProcess sim(dir);
  ASSERT_TRUE(sim.Start());
  SpawnedProgram monitor;
  ASSERT_TRUE(monitor.Start(VELRPT_CLI, {"monitor", "--port", sim.Link(), "--accept-any-ci"}));
  const QString pid = QString::number(monitor.Pid());

  Tally tally;
  std::string pending;
  const auto feed = [&] {
    pending += monitor.ReadAvailable();
    for (size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1))
      tally.Add(pending.substr(0, nl));
  };
  RunCycles(
      sim, tally, feed, [&] { return CpuSeconds(pid); }, [&] { return OpenDescriptors(pid); });
  EXPECT_EQ(monitor.Terminate(kWaitMs), 0);
  feed();
  // Only the port's own lines besides the telegrams: opened at each return.
  const std::string open = sim.Link() + " - 19200,8,None";
  EXPECT_EQ(std::count(tally.others.begin(), tally.others.end(), open), kCycles + 1);
  for (const std::string& line : tally.others)
    if (line != open) ADD_FAILURE() << "unexpected line: " << line;
}

TEST(ReconnectE2E, MonitorWithoutReconnectEndsAtTheLoss) {
  QTemporaryDir dir;
  SimProcess sim(dir);
  ASSERT_TRUE(sim.Start());
  SpawnedProgram monitor;
  ASSERT_TRUE(monitor.Start(VELRPT_CLI, {"monitor", "--port", sim.Link(), "--no-reconnect", "--accept-any-ci",
                                         "--seconds", "600"}));
  std::string out;
  ASSERT_TRUE(WaitUntil(
      [&] {
        out += monitor.ReadAvailable();
        Tally tally;
        for (const std::string& line : Lines(out)) tally.Add(line);
        return tally.telegrams >= 2;
      },
      kWaitMs));
  sim.Pull();
  EXPECT_EQ(monitor.Wait(kWaitMs), 1);
  out += monitor.ReadAvailable();
  const std::vector<std::string> lines = Lines(out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "The serial port (" + sim.Link() + ") was disconnected!");
}

TEST(ReconnectE2E, WindowComesBackAfterEveryPull) {
  QTemporaryDir dir;
  SimProcess sim(dir);
  ASSERT_TRUE(sim.Start());

  ScriptedPrompts prompts, appPrompts;
  auto& app = *static_cast<VelRptApplication*>(QCoreApplication::instance());
  Prompts* const previousAppPrompts = app.GetPrompts();
  app.SetPrompts(&appPrompts);
  FixedClock clock{LocalTime{2026, 12, 8, 10, 15, 0}};
  ProgramOptions options;
  options.iniPath = dir.filePath("velrpt.ini").toStdString();
  options.programDir = dir.path();
  options.devRoot = dir.path();
  options.portForThisRun = QString::fromStdString(sim.Link());
  auto program = std::make_unique<Program>(
      options, prompts, clock, LocalFormats(QStringLiteral("dd.MM.yyyy"), QStringLiteral("HH:mm:ss"), '.'));
  TForm1& form = program->Form();
  form.Check_onlyRepeater->setChecked(false);
  program->Settings().findChild<QCheckBox*>(QStringLiteral("Check_wrongCI"))->setChecked(false);
  form.Edit_repeaterID->setText("87654321");
  form.show();
  ASSERT_TRUE(form.PortOpen());
  auto* button = program->Settings().findChild<QPushButton*>(QStringLiteral("Butt_open_port"));
  const QString link = QString::fromStdString(sim.Link());
  const QString open = link + " - 19200,8,None";

  Tally tally;
  int read = 0;
  const auto feed = [&] {
    for (; read < form.Memo_log->LineCount(); ++read) tally.Add(form.Memo_log->Line(read).toStdString());
  };
  const auto cpu = [] {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  };
  const auto whileAway = [&] {
    EXPECT_FALSE(form.PortOpen());
    EXPECT_EQ(form.StatusPanel(0), link + " is closed");
    EXPECT_EQ(button->text(), "Connect to port");
  };
  const QString firstLine = form.Memo_log->Line(1);
  RunCycles(
      sim, tally, feed, cpu, [] { return OpenDescriptors(QStringLiteral("self")); }, whileAway,
      [&] { return form.Memo_log->PendingCount() == 0; });

  // Back as "Connect to port" leaves it (the status field has gone on to
  // the last meter read), and nothing else was touched.
  EXPECT_TRUE(form.PortOpen());
  EXPECT_EQ(button->text(), "Disconnect");
  EXPECT_EQ(form.Memo_log->Line(1), firstLine);
  EXPECT_EQ(form.Edit_repeaterID->text(), "87654321");
  EXPECT_EQ(std::count(tally.others.begin(), tally.others.end(), open.toStdString()), kCycles + 1);

  // The operator's Disconnect stays: the device is there, nothing reopens it.
  button->click();
  EXPECT_FALSE(form.PortOpen());
  QTest::qWait(500);
  EXPECT_FALSE(form.PortOpen());
  program.reset();
  QCoreApplication::processEvents();
  for (const auto& shown : appPrompts.shown) ADD_FAILURE() << "error box: " << shown.text;
  app.SetPrompts(previousAppPrompts);
}

}  // namespace
