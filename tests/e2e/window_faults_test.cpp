// The whole window set (as Program builds it, offscreen) against the faults
// of a day in the field: the transceiver pulled out mid-frame and put back,
// a noisy line at full rate, a transceiver that takes nothing, odd import
// files. After each the window must say what happened and keep working.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <optional>
#include <random>

#include "e2e_support.h"
#include "grid_files.h"
#include "hex.h"
#include "log_memo.h"
#include "main_form.h"
#include "program.h"
#include "pty_pair.h"
#include "repeater_commands.h"
#include "scripted_prompts.h"
#include "settings_window.h"
#include "sim_runner.h"
#include "velrpt_application.h"

// Qt's own libraries are not built with ThreadSanitizer: their locks (on
// futexes) are invisible to it, so two threads posting events, or Qt Gui's
// worker threads sharing memory, would look like races. What they do inside
// Qt is left out; our own threads' accesses are still watched.
#if defined(__SANITIZE_THREAD__)
#define VELRPT_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELRPT_TSAN 1
#endif
#endif
#ifdef VELRPT_TSAN
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n"
         "called_from_lib:libglib-2.0.so.0\n";
}
#endif

namespace {

using namespace e2e;

// Telegrams of the noisy run: the gaps between the pieces of a frame, not
// the window, set its pace; this many take some 20 seconds.
constexpr int kNoisyTelegrams = 2000;

// The program's windows in a folder of their own, the port given for this
// run as --port would give it. An exception that escapes an event handler
// would end in the application's error box: it is caught here instead of
// waiting for a click, and no test may see one.
struct ProgramRun {
  QTemporaryDir dir;
  ScriptedPrompts prompts;
  ScriptedPrompts appPrompts;
  Prompts* const previousAppPrompts = App().GetPrompts();

  ProgramRun() { App().SetPrompts(&appPrompts); }
  ~ProgramRun() {
    // The box is posted to a later turn of the loop; let it come.
    QCoreApplication::processEvents();
    for (const auto& shown : appPrompts.shown) ADD_FAILURE() << "error box: " << shown.text;
    App().SetPrompts(previousAppPrompts);
  }
  static VelRptApplication& App() { return *static_cast<VelRptApplication*>(QCoreApplication::instance()); }

  FixedClock clock{LocalTime{2026, 12, 8, 10, 15, 0}};
  std::unique_ptr<Program> program;

  TForm1& Start(const std::string& port) {
    ProgramOptions options;
    options.iniPath = Path("velrpt.ini");
    options.programDir = dir.path();
    options.devRoot = dir.path();  // none of this machine's serial devices
    options.portForThisRun = QString::fromStdString(port);
    program = std::make_unique<Program>(
        options, prompts, clock, LocalFormats(QStringLiteral("dd.MM.yyyy"), QStringLiteral("HH:mm:ss"), '.'));
    // Every frame into the log, whatever its CI.
    Form().Check_onlyRepeater->setChecked(false);
    program->Settings().findChild<QCheckBox*>(QStringLiteral("Check_wrongCI"))->setChecked(false);
    return Form();
  }
  TForm1& Form() { return program->Form(); }
  std::string Path(const std::string& name) const {
    return dir.filePath(QString::fromStdString(name)).toStdString();
  }
  QStringList Log() { return Form().Memo_log->Lines(); }
  QString Joined() { return Log().join('\n'); }
};

std::string ReadAll(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void WriteAll(const std::string& path, const std::string& content) {
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(file.write(content.data(), static_cast<qint64>(content.size())),
            static_cast<qint64>(content.size()));
}

// On a clean line (no noise, no pieces, no bad frames) the stream is frame
// after frame: the bytes still missing from the last one, 0 at a boundary.
size_t MissingOfLastFrame(const std::string& stream) {
  size_t i = 0;
  while (i + 1 < stream.size()) {
    const size_t end = i + static_cast<std::uint8_t>(stream[i + 1]) + 3;
    if (end > stream.size()) return end - stream.size();
    i = end;
  }
  return i < stream.size() ? 2 : 0;  // only the start byte went out
}

// How often the log shows the frame: its hex text ends a telegram line, or
// stands alone under a wrong-CI notice.
int TimesLogged(const QStringList& log, const std::string& frame) {
  const QString hex = QString::fromStdString(HexText(frame));
  return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const QString& l) {
    return l == hex || l.endsWith(QStringLiteral(": ") + hex);
  }));
}

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Keeps the event loop turning for `ms`, as a user's idle session would.
void RunEventsFor(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QTest::qWait(static_cast<int>(std::min<qint64>(50, ms - t.elapsed())));
}

// A meter telegram with the given last ID byte (CI 0x7A, signalled header).
Bytes MeterFrame(std::uint8_t idLow) {
  Bytes t("\x44\x2D\x2C\x00\x00\x00\x11\x01\x07\x7A\x10\x00\x41\x00\x0C\x13\x01\x02\xB5", 19);
  t[3] = static_cast<char>(idLow);
  return "\x68" + Bytes(1, static_cast<char>(t.size())) + t + "\x16";
}

bool TableHasMeter(StringGrid& table, const std::string& id) {
  for (int r = 1; r < table.RowCount(); ++r)
    if (table.Cell(kColMeterId, r) == id) return true;
  return false;
}

TEST(WindowFaults, DevicePulledOutMidFrameAndPutBack) {
  QTemporaryDir simDir;
  ASSERT_TRUE(simDir.isValid());
  sim::SimOptions o;
  o.seed = 8;
  o.intervalMs = 1000;
  // A slow line, written a few bytes at a time: a frame is long enough on
  // the wire to pull the device out in its middle, and the line is not so
  // busy that a repeater answer waits long behind the traffic.
  o.baud = 4800;
  o.startTime = sim::CivilTime{2026, 12, 8, 10, 0, 0};
  o.linkPath = simDir.filePath("ttyKORVEX").toStdString();
  o.recordPath = simDir.filePath("line.bin").toStdString();
  sim::SimulatorRunner simulator(o);
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;

  ProgramRun run;
  TForm1& form = run.Start(o.linkPath);
  // Put back by hand here: the automatic return has its own test.
  run.program->Settings().findChild<QCheckBox*>(QStringLiteral("Check_reconnect"))->setChecked(false);
  form.show();
  ASSERT_TRUE(form.PortOpen()) << run.Joined().toStdString();
  const QString name = QString::fromStdString(o.linkPath);
  auto* openButton = run.program->Settings().findChild<QPushButton*>(QStringLiteral("Butt_open_port"));
  ASSERT_NE(openButton, nullptr);
  EXPECT_EQ(openButton->text(), "Disconnect");

  size_t cycleStart = 0;  // where this plug-in's bytes begin in the record
  // What went out before the port was opened (and its queue cleared) was
  // never the window's to read; the line may be read from inside a frame,
  // whose torn rest can hide the frames after it (hence CleanFrames).
  size_t readFrom = ReadAll(o.recordPath).size();
  for (int cycle = 0; cycle < 2; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    // Traffic flows; pull the device out while a frame still has bytes to go.
    ASSERT_TRUE(WaitUntil(
        [&] {
          const std::string line = ReadAll(o.recordPath).substr(cycleStart);
          return CleanFrames(line.substr(readFrom)).size() >= 2 && MissingOfLastFrame(line) >= 40;
        },
        20000));
    simulator.Unplug();
    const std::string sent = ReadAll(o.recordPath).substr(cycleStart);
    EXPECT_GT(MissingOfLastFrame(sent), 0u) << "pulled out between two frames";

    ASSERT_TRUE(WaitUntil([&] { return !form.PortOpen(); }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return form.Memo_log->PendingCount() == 0; }, 5000));
    EXPECT_EQ(run.Log().filter("was disconnected!").size(), 1) << run.Joined().toStdString();
    // Dated as a telegram's line (the fixture's clock).
    EXPECT_EQ(run.Log().last(), "08.12.2026, 10:15:00: The serial port (" + name + ") was disconnected!");
    EXPECT_EQ(form.StatusPanel(0), name + " is closed");
    EXPECT_EQ(openButton->text(), "Connect to port");
    // Every whole frame before the cut reached the log exactly once.
    const auto before = CleanFrames(sent.substr(readFrom));
    EXPECT_FALSE(before.empty());
    for (const std::string& f : before) EXPECT_EQ(TimesLogged(run.Log(), f), 1) << HexText(f);

    // Unplugged, nothing may spin: a second of it costs next to no CPU.
    const double cpuBefore = ProcessCpuSeconds();
    RunEventsFor(1000);
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.3);
    EXPECT_FALSE(form.PortOpen());

    // Put back at the same path; "Connect to port" opens it again.
    cycleStart = ReadAll(o.recordPath).size();
    ASSERT_TRUE(simulator.Replug(&error)) << error;
    run.Form().Memo_log->Clear();
    openButton->click();  // the settings window is hidden; its button's own click
    ASSERT_TRUE(form.PortOpen()) << run.Joined().toStdString();
    EXPECT_EQ(openButton->text(), "Disconnect");
    readFrom = ReadAll(o.recordPath).size() - cycleStart;
    // Traffic resumes, and the half frame held from before the cut does not
    // swallow the first frames of the new line.
    EXPECT_TRUE(WaitUntil(
        [&] {
          const auto frames = CleanFrames(ReadAll(o.recordPath).substr(cycleStart + readFrom));
          return frames.size() >= 2 && TimesLogged(run.Log(), frames[0]) == 1 &&
                 TimesLogged(run.Log(), frames[1]) == 1;
        },
        20000))
        << run.Joined().toStdString();
  }

  // A command reaches the simulated repeater and its answer comes back.
  form.Edit_repeaterID->setText(QString::fromStdString(kRepeater));
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  ASSERT_TRUE(simulator.WaitFor([](const sim::SimStats& s) { return s.commandFrames == 1; }, 10000));
  EXPECT_TRUE(WaitUntil(
      [&] {
        return run.Log()
                   .filter(QStringLiteral("Repeater ") + QString::fromStdString(kRepeater) + ", VLM: 68 ")
                   .size() == 1;
      },
      20000))
      << run.Joined().toStdString();
}

TEST(WindowFaults, NoisyLineAtFullRateEveryCleanFrameLoggedOnce) {
  QTemporaryDir simDir;
  ASSERT_TRUE(simDir.isValid());
  sim::SimOptions o;
  o.seed = 20261208;
  o.intervalMs = 0;
  o.count = kNoisyTelegrams;
  o.noise = 0.25;
  o.chunks = true;
  o.badFrames = 0.08;
  o.recordPath = simDir.filePath("line.bin").toStdString();
  sim::SimulatorRunner simulator(o);
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;

  ProgramRun run;
  TForm1& form = run.Start(simulator.SlavePath());
  form.show();
  ASSERT_TRUE(form.PortOpen()) << run.Joined().toStdString();
  // What went out before the port was opened (and its queue cleared) was
  // never the window's to read.
  const size_t openedAt = ReadAll(o.recordPath).size();
  // Ends when the simulator has sent every telegram and the window read them.
  ASSERT_TRUE(WaitUntil([&] { return simulator.Finished(); }, 50000)) << simulator.Stats().telegramsSent;
  ASSERT_TRUE(WaitUntil([&] { return form.Memo_log->PendingCount() == 0; }, 5000));

  const std::string line = ReadAll(o.recordPath).substr(openedAt);
  const std::vector<std::string> clean = CleanFrames(line);
  const std::vector<FrameSpan> whole = WholeFrameSpans(line);
  const auto stats = simulator.Stats();
  EXPECT_EQ(stats.telegramsSent, static_cast<std::uint64_t>(kNoisyTelegrams));
  // The faults were there, and most frames still came through clear of them.
  EXPECT_GT(clean.size(), whole.size() / 2);
  EXPECT_LT(clean.size(), whole.size());

  // A frame sent alike several times must show as often: at least once for
  // each clean copy, and never more than once for each copy that went out
  // whole (one beside damage may or may not be taken).
  std::map<std::string, std::pair<int, int>> times;  // clean, whole
  for (const std::string& f : clean) ++times[HexText(f)].first;
  for (const FrameSpan& f : whole) ++times[HexText(line.substr(f.first, f.last - f.first + 1))].second;
  std::map<QString, int> logged;
  for (const QString& l : run.Log()) {
    const qsizetype colon = l.lastIndexOf(QStringLiteral(": 68 "));
    ++logged[colon >= 0 ? l.mid(colon + 2) : l];
  }
  int wrong = 0;
  for (const auto& [hex, n] : times) {
    const int seen = logged[QString::fromStdString(hex)];
    if ((seen < n.first || seen > n.second) && ++wrong <= 10)
      ADD_FAILURE() << hex << " logged " << seen << " times, sent " << n.first << " clean, " << n.second
                    << " whole";
  }
  EXPECT_EQ(wrong, 0) << "of " << times.size() << " frames sent whole";
  EXPECT_GT(form.Table().RowCount(), 2);
}

TEST(WindowFaults, CommandIntoATransceiverThatReadsNothing) {
  PtyPair device;
  ProgramRun run;
  TForm1& form = run.Start(device.SlavePath());
  form.show();
  ASSERT_TRUE(form.PortOpen()) << run.Joined().toStdString();
  form.Edit_repeaterID->setText(QString::fromStdString(kRepeater));

  // The transceiver's side of the line is full and nobody reads it. Every
  // command clears the port's queues before it writes, which on a
  // pseudo-terminal empties what the device had not read; the line is held
  // as a device that takes nothing holds it, with its output stopped.
  const int fd = device.SlaveFd();
  ASSERT_EQ(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK), 0);
  const std::string block(4096, 'x');
  size_t filled = 0;
  for (ssize_t n; (n = ::write(fd, block.data(), block.size())) > 0;) filled += static_cast<size_t>(n);
  ASSERT_EQ(errno, EAGAIN);
  ASSERT_GT(filled, 0u);
  ASSERT_EQ(tcflow(fd, TCOOFF), 0);

  // The button comes back (after the write limit) and says the frame did
  // not go out; no hex line claims it was sent.
  form.Memo_log->Clear();
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  const QStringList afterFull = run.Log().filter(QRegularExpression(QStringLiteral("\\S")));
  ASSERT_EQ(afterFull.size(), 1) << run.Joined().toStdString();
  EXPECT_EQ(afterFull[0].toStdString(), "Exception - The frame could not be written to the port");
  EXPECT_TRUE(form.PortOpen());

  // The window carries on: once the line moves, the next command goes out
  // whole and traffic is read.
  ASSERT_EQ(tcflow(fd, TCOON), 0);
  while (!device.ReadAvailable().empty()) {
  }
  form.Memo_log->Clear();
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  const QStringList sent = run.Log().filter(QRegularExpression(QStringLiteral("\\S")));
  ASSERT_EQ(sent.size(), 1) << run.Joined().toStdString();
  const Bytes frame = HexTextToBytes(sent[0].toStdString());
  ASSERT_FALSE(frame.empty()) << sent[0].toStdString();
  EXPECT_EQ(HexText(device.Receive(frame.size())), HexText(frame));
  device.Send(MeterFrame(0x42));
  EXPECT_TRUE(WaitUntil([&] { return TableHasMeter(form.Table(), "11000042"); }));
}

TEST(WindowFaults, OddImportFilesGiveTheirMessageAndTheTableCarriesOn) {
  std::mt19937 rng(4096);
  std::string random(64 * 1024, '\0');
  for (char& c : random) c = static_cast<char>(rng() & 0xFF);
  const std::string kTooMany = "You are trying to import too many data!!!\nCorrect csv file and try again!";
  const std::string kWrongFile = "You chose wrong file for import!\nContact administrator!";
  std::string separators;
  while (separators.size() < 100000) separators += "ab;";

  enum class Outcome { Rows, TooMany, NotText };
  struct Case {
    const char* name;
    std::string content;
    Outcome outcome;
    std::vector<std::string> firstCells;  // Rows: column 0 of each imported row
  } cases[] = {
      {"random bytes are not text", random, Outcome::NotText, {}},
      {"a line of 100,000 characters is cut",
       std::string(100000, 'x') + ";\r\nz;\r\n",
       Outcome::Rows,
       {"1", "z"}},
      {"a line of 100,000 characters with separators throughout", separators + "\r\n", Outcome::TooMany, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramRun run;
    TForm1& form = run.Start(run.Path("no-such-tty"));
    const std::string file = run.Path("in.csv");
    WriteAll(file, c.content);
    run.prompts.fileAnswers = {file};
    form.Importfromfile1->trigger();

    const bool messageShown = std::any_of(run.prompts.shown.begin(), run.prompts.shown.end(),
                                          [](const auto& s) { return s.kind == "message"; });
    if (c.outcome != Outcome::Rows) {
      ASSERT_TRUE(messageShown);
      EXPECT_EQ(run.prompts.shown.back().text, c.outcome == Outcome::TooMany ? kTooMany : kWrongFile);
      // The refusal, then one line with its reason.
      const QStringList log = run.Log();
      ASSERT_GE(log.size(), 2);
      EXPECT_EQ(log[log.size() - 2], "Error importing from selected file...");
      EXPECT_TRUE(log.last().startsWith("Cannot import file ")) << log.last().toStdString();
      EXPECT_EQ(form.Table().RowCount(), 2);
    } else {
      EXPECT_FALSE(messageShown);
      ASSERT_EQ(form.Table().RowCount(), static_cast<int>(c.firstCells.size()) + 2);
      for (int r = 1; r <= static_cast<int>(c.firstCells.size()); ++r) {
        EXPECT_EQ(form.Table().Cell(0, r), c.firstCells[static_cast<size_t>(r - 1)]) << r;
        EXPECT_EQ(form.Table().Cell(1, r), "") << r;
      }
      for (int r = 1; r < form.Table().RowCount(); ++r)
        for (int col = 0; col < kTableColumns; ++col)
          EXPECT_LT(form.Table().Cell(col, r).size(), kMaxImportLineLength);
    }

    // The table still takes new rows from the receive path.
    const Bytes telegram = MeterFrame(0x77);
    form.SetPortReader([&, at = size_t{0}](char* dest, int max) mutable {
      const size_t n = std::min(telegram.size() - at, static_cast<size_t>(max));
      std::copy_n(telegram.data() + at, n, dest);
      at += n;
      return static_cast<int>(n);
    });
    const int rowsBefore = form.Table().RowCount();
    form.Comm1RxChar(nullptr, static_cast<int>(telegram.size()));
    EXPECT_TRUE(TableHasMeter(form.Table(), "11000077"));
    EXPECT_GE(form.Table().RowCount(), rowsBefore);
    EXPECT_EQ(TimesLogged(run.Log(), telegram), 1);
  }
}

}  // namespace

// "Set in Korvex" from the window against a strict simulator: slow prompts
// on a slow line succeed; a third prompt that never comes shows on the panel
// and in one log line although the last exchange succeeded. An ID pasted
// with letters never reaches the repeater.
TEST(WindowFaults, SetInKorvexAndAPastedIdAgainstAStrictSimulator) {
  for (const int drop : {0, 3}) {
    SCOPED_TRACE(drop);
    sim::SimOptions options;
    // Traffic in the first run; none in the second, where a ">" inside a
    // telegram could stand in for the prompt that never comes.
    options.meters = drop ? 0 : 4;
    options.intervalMs = 100;
    options.baud = 9600;  // a telegram under way when asked ends well within the read time-out
    options.promptDelayMs = drop ? 0 : 150;
    options.dropPrompt = drop;
    sim::SimulatorRunner simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(&error)) << error;
    ProgramRun run;
    TForm1& form = run.Start(simulator.SlavePath());
    form.show();
    ASSERT_TRUE(form.PortOpen()) << run.Joined().toStdString();
    form.Edit_repeaterID->setText(QString::fromStdString(kRepeater));
    form.Memo_log->Clear();
    QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
    const auto memory = simulator.KorvexMemory();
    if (drop == 0) {
      EXPECT_EQ(form.StatusPanel(1).toStdString(), kParameterSaved) << run.Joined().toStdString();
      EXPECT_EQ(memory[27], 0x12);
      EXPECT_EQ(memory[30], 0x78);
    } else {
      EXPECT_EQ(form.StatusPanel(1).toStdString(), kParameterError);
      EXPECT_EQ(run.Log().filter(QString::fromLatin1(kKorvexFailedAddresses)),
                QStringList{QString::fromLatin1(kKorvexFailedAddresses) + "26"});
      EXPECT_EQ(memory[26], 0x00);  // never written
      EXPECT_EQ(memory[25], 0x59);
      EXPECT_EQ(memory[30], 0x78);
    }
  }

  sim::SimulatorRunner simulator(sim::SimOptions{});
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;
  ProgramRun run;
  TForm1& form = run.Start(simulator.SlavePath());
  form.show();
  ASSERT_TRUE(form.PortOpen()) << run.Joined().toStdString();
  form.Edit_repeaterID->clear();
  form.Edit_repeaterID->insert(QStringLiteral("12345xyz"));  // what a middle-click paste does
  EXPECT_EQ(form.Edit_repeaterID->text(), "12345");
  form.Memo_log->Clear();
  QTest::mouseClick(form.BitBtn1, Qt::LeftButton);  // "Set datetime"
  QTest::mouseClick(form.BitBtn2, Qt::LeftButton);  // "Set in Korvex"
  EXPECT_EQ(run.Log(),
            (QStringList{QString::fromLatin1(kNoRepeaterSelected), QString::fromLatin1(kKorvexIdLength)}));
  RunEventsFor(300);
  EXPECT_EQ(simulator.Stats().bytesReceived, 0u);
}
