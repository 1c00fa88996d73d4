// line_rate_bench: the whole program offscreen, fed by the simulated Korvex
// on a pseudo-terminal - the real TSerialPort, reception, telegram table,
// log window and chart, built as main() builds them - measured for frames
// per second with the line flat out, for the latency from a frame's last
// byte on the line to its line in the log window at a saturated 921,600 baud
// line's pace, and for memory per log line.
//
//   line_rate_bench [--seconds S] [--meters N] [--prefill LINES] [--soak MINUTES] [--survey-page]

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench_frames.h"
#include "hex.h"
#include "log_memo.h"
#include "main_form.h"
#include "program.h"
#include "settings_window.h"
#include "sim_runner.h"

namespace {

using Steady = std::chrono::steady_clock;

constexpr int kPacedBaud = 921600;
constexpr double kTargetFramesPerSecond = 100000;
constexpr double kTargetP99Ms = 30;
constexpr double kTargetGuiShare = 0.15;
constexpr double kTargetBytesPerTelegramLine = 100;
constexpr int kTelegramLines = 1000000;

struct Args {
  double seconds = 10;
  int meters = 1000;
  int prefill = 200000;
  int soakMinutes = 0;
  bool surveyPage = false;  // the "Meter survey" page in view, refreshing
};

bool ParseArgs(int argc, char** argv, Args& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string k = argv[i];
    if (k == "--survey-page") {
      a.surveyPage = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* v = argv[++i];
    if (k == "--seconds")
      a.seconds = std::atof(v);
    else if (k == "--meters")
      a.meters = std::atoi(v);
    else if (k == "--prefill")
      a.prefill = std::atoi(v);
    else if (k == "--soak")
      a.soakMinutes = std::atoi(v);
    else
      return false;
  }
  return a.seconds > 0 && a.meters > 0 && a.prefill >= 0 && a.soakMinutes >= 0;
}

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("model name", 0) == 0) {
      const auto colon = line.find(':');
      return colon == std::string::npos ? line : line.substr(colon + 2);
    }
  return "unknown CPU";
}

long long RssBytes() {
  std::ifstream in("/proc/self/statm");
  long long size = 0, resident = 0;
  in >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// CPU time of the calling thread; called on the GUI thread.
double ThreadCpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_THREAD, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double SecondsSince(Steady::time_point t) { return std::chrono::duration<double>(Steady::now() - t).count(); }

// No dialog may block a benchmark: questions are answered yes, messages printed.
class BenchPrompts : public Prompts {
 public:
  bool Confirm(const std::string&, const std::string&, Icon) override { return true; }
  void Message(const std::string& caption, const std::string& text, Icon) override {
    std::fprintf(stderr, "message: %s: %s\n", caption.c_str(), text.c_str());
  }
  std::optional<std::string> SaveFile(const FileDialog&) override { return std::nullopt; }
  std::optional<std::string> OpenFile(const FileDialog&) override { return std::nullopt; }
};

// Runs the event loop until `done` says so or `seconds` passed; true when done.
bool RunUntil(const std::function<bool()>& done, double seconds) {
  QTimer tick;  // wakes the loop to look at `done`
  tick.start(10);
  const auto start = Steady::now();
  while (SecondsSince(start) < seconds) {
    if (done && done()) return true;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return done && done();
}

struct Percentiles {
  size_t count = 0;
  double p50 = 0, p99 = 0, max = 0;  // milliseconds
  std::uint64_t lost = 0;            // written, never shown
  std::uint64_t unmatched = 0;       // shown, never written
};

// Pairs each frame the simulator finished writing with its line in the log
// window by the frame's hex text (the log line ends with it), and keeps the
// time between the two.
class LatencyProbe {
 public:
  // Simulator thread: the frame's last byte is on the line.
  void Written(const std::string& frame) {
    const auto at = Steady::now();
    std::string hex = HexText(frame);
    std::lock_guard lock(m_mutex);
    m_sent.push_back({std::move(hex), at});
  }

  // GUI thread: Memo_log now shows `count` lines.
  void Shown(const LogView& log, int count) {
    const auto at = Steady::now();
    if (m_seen < 0) return;  // not started
    for (int i = m_seen; i < count; ++i) {
      const std::string line = log.Store().Line(static_cast<size_t>(i));
      const auto colon = line.find(": ");
      if (colon != std::string_view::npos) m_pending.push_back({std::string(line.substr(colon + 2)), at});
    }
    m_seen = count;
    Match(at);
  }

  // From now on only lines after the first `seen` count.
  void Start(int seen) {
    m_seen = seen;
    m_pending.clear();
    std::lock_guard lock(m_mutex);
    m_sent.clear();
    m_latenciesMs.clear();
    m_lost = m_unmatched = 0;
  }

  Percentiles Take() {
    Percentiles p;
    std::sort(m_latenciesMs.begin(), m_latenciesMs.end());
    p.count = m_latenciesMs.size();
    if (p.count > 0) {
      const auto at = [&](double q) {
        return m_latenciesMs[std::min(p.count - 1, static_cast<size_t>(q * p.count))];
      };
      p.p50 = at(0.50);
      p.p99 = at(0.99);
      p.max = m_latenciesMs.back();
    }
    m_latenciesMs.clear();
    p.lost = std::exchange(m_lost, 0);
    p.unmatched = std::exchange(m_unmatched, 0);
    return p;
  }
  // Lines shown from now on are not timed (the log filled by hand).
  void Stop() {
    m_seen = -1;
    m_pending.clear();
  }

 private:
  struct Stamp {
    std::string hex;
    Steady::time_point at;
  };

  void Match(Steady::time_point now) {
    std::lock_guard lock(m_mutex);
    while (!m_pending.empty()) {
      const Stamp& shown = m_pending.front();
      const auto it =
          std::find_if(m_sent.begin(), m_sent.end(), [&](const Stamp& s) { return s.hex == shown.hex; });
      if (it == m_sent.end()) {
        // The simulator may not have noted the write yet; give it a moment.
        if (now - shown.at < std::chrono::seconds(1)) break;
        ++m_unmatched;
        m_pending.pop_front();
        continue;
      }
      m_lost += static_cast<std::uint64_t>(it - m_sent.begin());  // written, never shown (purged at connect)
      m_latenciesMs.push_back(std::chrono::duration<double, std::milli>(shown.at - it->at).count());
      m_sent.erase(m_sent.begin(), it + 1);
      m_pending.pop_front();
    }
    while (!m_sent.empty() && now - m_sent.front().at > std::chrono::seconds(10)) {
      ++m_lost;
      m_sent.pop_front();
    }
  }

  std::mutex m_mutex;
  std::deque<Stamp> m_sent;     // guarded by m_mutex
  std::deque<Stamp> m_pending;  // shown, not yet paired
  std::vector<double> m_latenciesMs;
  int m_seen = -1;
  std::uint64_t m_lost = 0;
  std::uint64_t m_unmatched = 0;
};

// A log line of about 150 characters as the window writes them.
std::string FillerLine(int i) {
  std::string line = "07.12.2026, 09:05:03: 68 2E 44 93 15 ";
  char id[32];
  std::snprintf(id, sizeof id, "%02X %02X %02X %02X ", i & 0xFF, (i >> 8) & 0xFF, (i >> 16) & 0xFF, 0x12);
  line += id;
  while (line.size() < 150) line += "A5 ";
  return line;
}

// The bytes the simulator wrote while on, for the bare scan of the same frames.
class Capture {
 public:
  void Written(const std::string& bytes) {
    std::lock_guard lock(m_mutex);
    if (m_on && m_bytes.size() < kCap) m_bytes += bytes;
  }
  void Start() {
    std::lock_guard lock(m_mutex);
    m_on = true;
    m_bytes.clear();
  }
  std::string Stop() {
    std::lock_guard lock(m_mutex);
    m_on = false;
    return std::move(m_bytes);
  }

 private:
  static constexpr size_t kCap = size_t(256) << 20;
  std::mutex m_mutex;
  bool m_on = false;
  std::string m_bytes;
};

// Frames per second of the bare scan over `bytes` in 4 KiB receive events
// (the window's staging size), the median of five runs.
double BareScanRate(const std::string& bytes, size_t* frames) {
  std::vector<double> runs;
  for (int r = 0; r < 5; ++r) {
    bench::BareScanner scan;
    runs.push_back(bench::Seconds([&] {
      for (size_t pos = 0; pos < bytes.size(); pos += 4096)
        scan.Feed(std::string_view(bytes).substr(pos, 4096));
    }));
    *frames = scan.Frames();
  }
  const double t = bench::Median(runs);
  return t > 0 ? static_cast<double>(*frames) / t : 0;
}

std::unique_ptr<sim::SimulatorRunner> StartSimulator(int meters, int baud, LatencyProbe* probe,
                                                     Capture* capture = nullptr) {
  sim::SimOptions o;
  // One more: the site's alarm meter is never repeated, so never in the table.
  o.meters = meters + 1;
  o.intervalMs = 0;  // flat out: the line's pace (or the reader) sets the rate
  o.baud = baud;
  o.seed = 1;
  if (probe) o.pieceWritten = [probe](const std::string& bytes) { probe->Written(bytes); };
  if (capture) o.pieceWritten = [capture](const std::string& bytes) { capture->Written(bytes); };
  auto simulator = std::make_unique<sim::SimulatorRunner>(o);
  std::string error;
  if (!simulator->Start(&error)) {
    std::fprintf(stderr, "line_rate_bench: the simulator could not start: %s\n", error.c_str());
    return nullptr;
  }
  return simulator;
}

int TableRows(TForm1& form) {
  int rows = 0;
  for (int r = 1; r < form.Table().RowCount(); ++r)
    if (!form.Table().Cell(1, r).empty()) ++rows;
  return rows;
}

void PrintVerdict(const char* what, bool ok) { bench::Verdict(what, ok); }

// Line `i` of a busy day: one telegram a few tens of milliseconds after the last.
void AppendTelegramLine(LogView& log, int i, const std::string& frame, size_t& chars) {
  char prefix[32];
  const int s = 8 * 3600 + i / 12;
  std::snprintf(prefix, sizeof prefix, "08.12.2026, %02d:%02d:%02d: ", s / 3600 % 24, s / 60 % 60, s % 60);
  const std::string hex = HexText(frame);
  chars += std::strlen(prefix) + hex.size();
  log.AppendTelegramLine(prefix, frame, hex);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  Args args;
  if (!ParseArgs(argc, argv, args)) {
    std::fprintf(stderr,
                 "usage: line_rate_bench [--seconds S] [--meters N] [--prefill LINES] "
                 "[--soak MINUTES] [--survey-page]\n");
    return 2;
  }
  QApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("machine: %u cores (%ld online), %s; Qt %s, platform %s\n", std::thread::hardware_concurrency(),
              sysconf(_SC_NPROCESSORS_ONLN), CpuModel().c_str(), qVersion(),
              qPrintable(QGuiApplication::platformName()));

  QTemporaryDir dir;
  if (!dir.isValid()) return 1;
  LatencyProbe probe;
  Capture capture;
  auto fast = StartSimulator(args.meters, 0, nullptr, &capture);
  if (!fast) return 1;

  ProgramOptions options;
  options.iniPath = dir.filePath(QStringLiteral("velrpt.ini")).toStdString();
  options.programDir = dir.path();
  options.portForThisRun = QString::fromStdString(fast->SlavePath());
  options.simulatedRepeaterId = fast->RepeaterId();
  BenchPrompts prompts;
  SystemClock clock;
  auto program = std::make_unique<Program>(
      options, prompts, clock, LocalFormats(QStringLiteral("dd.MM.yyyy"), QStringLiteral("HH:mm:ss"), '.'));
  TForm1& form = program->Form();
  LogView& log = *form.Memo_log;
  // Every telegram becomes a log line, not only the repeater's: the heaviest load.
  form.Check_onlyRepeater->setChecked(false);

  // --- memory: the log window's first 200,000 lines ----------------------
  const long long rssEmpty = RssBytes();
  for (int i = 0; i < args.prefill; ++i) log.AppendLine(std::string_view(FillerLine(i)));
  log.Flush();
  const long long rssPrefilled = RssBytes();
  const double prefillPerLine =
      args.prefill > 0 ? static_cast<double>(rssPrefilled - rssEmpty) / args.prefill : 0;
  std::printf("prefill: %d lines of %zu characters, RSS %.1f -> %.1f MB: %.0f bytes per line\n", args.prefill,
              FillerLine(0).size(), rssEmpty / 1e6, rssPrefilled / 1e6, prefillPerLine);

  // --- warm-up: the port opens when the window shows; fill the table ----
  form.show();
  if (args.surveyPage) {
    auto* pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    pages->setCurrentWidget(form.findChild<QWidget*>(QStringLiteral("TabSheetSurvey")));
  }
  const auto warm = Steady::now();
  if (!RunUntil([&] { return TableRows(form) >= args.meters; }, 120)) {
    // A window that cannot take the site in two minutes is measured as it
    // stands, not left unmeasured; the figures below say how it copes.
    std::printf("warm-up: NOT COMPLETE, the table holds %d of %d meters after %.0f s; measuring anyway\n",
                TableRows(form), args.meters, SecondsSince(warm));
  }
  std::printf("warm-up: %d meters in the table after %.1f s, %d lines in the log, RSS %.1f MB\n",
              TableRows(form), SecondsSince(warm), log.LineCount(), RssBytes() / 1e6);

  // --- throughput: the line flat out ---------------------------------------
  RunUntil({}, 1);
  {
    const int lines0 = log.LineCount();
    const auto sent0 = fast->Stats().framesSent;
    const long long rss0 = RssBytes();
    const double cpu0 = ThreadCpuSeconds();
    const auto t0 = Steady::now();
    capture.Start();
    RunUntil({}, args.seconds);
    const std::string written = capture.Stop();
    const double wall = SecondsSince(t0);
    const double cpu = ThreadCpuSeconds() - cpu0;
    const int lines = log.LineCount() - lines0;
    const auto sent = fast->Stats().framesSent - sent0;
    const long long rss = RssBytes() - rss0;
    const double fps = lines / wall;
    size_t chars = 0;
    for (int i = lines0; i < log.LineCount(); ++i) chars += log.Store().Line(static_cast<size_t>(i)).size();
    std::printf(
        "throughput (baud 0, %d meters): %d frames in %.2f s = %.0f frames/s (simulator wrote %llu); "
        "GUI thread CPU %.2f s = %.0f%% of wall time; RSS +%.1f MB = %.0f bytes per line added (lines of "
        "%.0f "
        "characters on average)\n",
        args.meters, lines, wall, fps, static_cast<unsigned long long>(sent), cpu, 100 * cpu / wall,
        rss / 1e6, lines > 0 ? static_cast<double>(rss) / lines : 0.0,
        lines > 0 ? static_cast<double>(chars) / lines : 0.0);
    size_t scanned = 0;
    const double bare = BareScanRate(written, &scanned);
    std::printf(
        "   the %zu frames the simulator wrote meanwhile, bare scan in 4 KiB pieces: %.0f frames/s, "
        "%.0fx the window's rate\n",
        scanned, bare, fps > 0 ? bare / fps : 0.0);
    PrintVerdict(">= 100,000 frames/s sustained", fps >= kTargetFramesPerSecond);
  }

  // --- latency at a saturated 921,600 baud line's pace -------------------
  form.TogglePortConnection();  // close
  fast.reset();
  auto paced = StartSimulator(args.meters, kPacedBaud, &probe);
  double bareRate = 0;
  {
    // The bare scan's speed in this run, for the share of a core it would
    // take at the paced line's frame rate.
    size_t scanned = 0;
    bareRate = BareScanRate(bench::MeterStream(200000, args.meters, 3), &scanned);
  }
  if (!paced) return 1;
  if (auto* name = program->Settings().findChild<QComboBox*>(QStringLiteral("Combo_com_name")))
    name->setCurrentText(QString::fromStdString(paced->SlavePath()));
  QObject::connect(&log, &LogView::LinesShown, &log, [&](int count) { probe.Shown(log, count); });
  form.TogglePortConnection();  // open on the paced line
  if (!form.PortOpen()) {
    std::fprintf(stderr, "line_rate_bench: the paced line did not open\n");
    return 1;
  }
  RunUntil({}, 2);
  std::printf("paced line open, RSS %.1f MB\n", RssBytes() / 1e6);
  probe.Start(log.LineCount());
  {
    const int lines0 = log.LineCount();
    const double cpu0 = ThreadCpuSeconds();
    const auto t0 = Steady::now();
    RunUntil({}, args.seconds);
    const double wall = SecondsSince(t0);
    const double cpu = ThreadCpuSeconds() - cpu0;
    const Percentiles p = probe.Take();
    std::printf(
        "latency (baud %d pace, last byte written -> row written and line shown): %zu frames, %.0f frames/s, "
        "p50 %.2f ms, p99 %.2f ms, max %.2f ms; GUI thread CPU %.0f%%; unpaired: %llu written, %llu shown\n",
        kPacedBaud, p.count, (log.LineCount() - lines0) / wall, p.p50, p.p99, p.max, 100 * cpu / wall,
        static_cast<unsigned long long>(p.lost), static_cast<unsigned long long>(p.unmatched));
    const double paceFps = (log.LineCount() - lines0) / wall;
    std::printf("   a bare scan of these frames would take %.2f%% of a core\n",
                bareRate > 0 ? 100 * paceFps / bareRate : 0.0);
    PrintVerdict("p99 < 30 ms at 921,600 baud pace", p.count > 0 && p.p99 < kTargetP99Ms);
    PrintVerdict("GUI thread <= 15% of a core at 921,600 baud pace", cpu / wall <= kTargetGuiShare);
  }

  // --- memory: a million telegram lines ----------------------------------
  probe.Stop();
  {
    LogView day;
    std::mt19937 rng(5);
    std::vector<std::string> frames;
    for (int m = 0; m < args.meters; ++m) frames.push_back(bench::MeterFrame(m, rng));
    const long long rss0 = RssBytes();
    size_t chars = 0;
    for (int i = 0; i < kTelegramLines; ++i) {
      const std::string& frame = frames[static_cast<size_t>(i) % frames.size()];
      AppendTelegramLine(day, i, frame, chars);
    }
    day.Flush();
    const long long rss = RssBytes();
    const double storePerLine = static_cast<double>(day.Store().MemoryBytes()) / kTelegramLines;
    const double rssPerLine = static_cast<double>(rss - rss0) / kTelegramLines;
    std::printf(
        "memory: %d telegram lines of %.0f characters (frames of %zu bytes) in a fresh log window: store "
        "%.1f MB "
        "= %.0f bytes per line with its index; RSS +%.1f MB = %.0f bytes per line\n",
        kTelegramLines, static_cast<double>(chars) / kTelegramLines, frames[0].size(),
        day.Store().MemoryBytes() / 1e6, storePerLine, (rss - rss0) / 1e6, rssPerLine);
    PrintVerdict("<= 100 bytes per telegram line",
                 std::max(storePerLine, rssPerLine) <= kTargetBytesPerTelegramLine);
  }

  // --- soak: minute by minute at the paced line ----------------------------
  if (args.soakMinutes > 0) {
    std::printf("soak: %d minutes at baud %d pace\n", args.soakMinutes, kPacedBaud);
    std::printf("%6s %10s %10s %10s %12s %9s %9s %9s %6s %8s\n", "minute", "RSS MB", "log lines", "new lines",
                "RSS-store MB", "p50 ms", "p99 ms", "max ms", "GUI %", "unpaired");
    // The frames that waited while the log was filled are no part of it.
    probe.Start(log.LineCount());
    RunUntil({}, 3);
    probe.Take();
    const long long rssStart = RssBytes();
    const size_t storeStart = log.Store().MemoryBytes();
    for (int minute = 1; minute <= args.soakMinutes; ++minute) {
      const int lines0 = log.LineCount();
      const double cpu0 = ThreadCpuSeconds();
      const auto t0 = Steady::now();
      RunUntil({}, 60);
      const double wall = SecondsSince(t0);
      const double cpu = ThreadCpuSeconds() - cpu0;
      const Percentiles p = probe.Take();
      const long long rss = RssBytes();
      // RSS growth less the log store's growth: flat when nothing but the
      // log grows.
      const double linesHeld = static_cast<double>(log.Store().MemoryBytes() - storeStart);
      std::printf("%6d %10.1f %10d %10d %12.1f %9.2f %9.2f %9.2f %6.0f %8llu\n", minute, rss / 1e6,
                  log.LineCount(), log.LineCount() - lines0, (rss - rssStart - linesHeld) / 1e6, p.p50, p.p99,
                  p.max, 100 * cpu / wall, static_cast<unsigned long long>(p.lost + p.unmatched));
    }
  }

  form.TogglePortConnection();
  program.reset();
  return 0;
}
