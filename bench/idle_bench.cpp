// idle_bench: how often the program wakes up and how much of a core it
// takes when nothing happens, and at a typical site's pace. The real
// program (velrpt, offscreen) talks to velrpt-sim on its pseudo-terminal;
// both are separate processes, and only the program is counted:
//   - idle, port open, nothing received (velrpt-sim --meters 0);
//   - disconnected: the device pulled out (SIGUSR1), the program waiting;
//   - 10 telegrams a second (velrpt-sim --interval 100).
// Wake-ups are the voluntary context switches of all the program's threads
// (/proc/PID/task/*/status: a thread that blocks and is woken switches once),
// CPU is utime + stime of /proc/PID/stat, each over a fixed interval. The
// baseline, from the same run, is a bare Qt window with a clock label
// ticking every second (this program with --floor).
//
//   idle_bench [--seconds S] [--app PATH] [--sim PATH]

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QTime>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_frames.h"

extern char** environ;

namespace {

constexpr double kIdleWakeups = 5;  // per second, the clock's repaint included
constexpr double kIdleCpu = 0.001;  // share of one core
constexpr double kSiteCpu = 0.01;   // at 10 telegrams a second
constexpr int kSettleSeconds = 4;   // start-up and the first repaints

pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("QT_QPA_PLATFORM=", 0) != 0) env.emplace_back(*e);
  env.emplace_back("QT_QPA_PLATFORM=offscreen");
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> a = args;
  std::vector<char*> argv;
  for (std::string& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, a[0].c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0 ? pid : -1;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

bool WaitFor(const std::string& path, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

struct ThreadCounts {
  std::string name;
  long long voluntary = 0, involuntary = 0;
};

struct Sample {
  std::map<std::string, ThreadCounts> threads;  // by thread id
  long long ticks = 0;
};

Sample Take(pid_t pid) {
  Sample s;
  const std::string base = "/proc/" + std::to_string(pid);
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator(base + "/task", ec)) {
    ThreadCounts t;
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("Name:", 0) == 0) t.name = line.substr(line.find_first_not_of(" \t", 5));
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) t.voluntary = std::atoll(line.c_str() + 24);
      if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) t.involuntary = std::atoll(line.c_str() + 27);
    }
    s.threads[task.path().filename().string()] = t;
  }
  std::ifstream stat(base + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close != std::string::npos) {
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::atoll(field.c_str());
      if (i == 15) stime = std::atoll(field.c_str());
    }
    s.ticks = utime + stime;
  }
  return s;
}

struct Figures {
  double wakeups = 0, involuntary = 0, cpu = 0;
};

// Counts `pid` over `seconds` and prints one line per thread that woke.
Figures Measure(pid_t pid, double seconds) {
  const Sample a = Take(pid);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const Sample b = Take(pid);
  Figures f;
  for (const auto& [tid, t] : b.threads) {
    const auto before = a.threads.find(tid);
    const long long v0 = before == a.threads.end() ? 0 : before->second.voluntary;
    const long long n0 = before == a.threads.end() ? 0 : before->second.involuntary;
    const double v = (t.voluntary - v0) / seconds, n = (t.involuntary - n0) / seconds;
    f.wakeups += v;
    f.involuntary += n;
    if (v + n > 0)
      std::printf("     thread %-16s %6.1f wake-ups/s, %6.1f preempted/s\n", t.name.c_str(), v, n);
  }
  f.cpu = static_cast<double>(b.ticks - a.ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK)) / seconds;
  std::printf("   %-40s %6.1f wake-ups/s (+%.1f preempted), %.3f%% of a core\n", "all threads:", f.wakeups,
              f.involuntary, f.cpu * 100);
  return f;
}

// The baseline: a bare window with a label that the clock rewrites.
int Floor(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel label;
  label.resize(400, 60);
  QTimer clock;
  clock.setInterval(1000);
  QObject::connect(&clock, &QTimer::timeout, &label,
                   [&] { label.setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))); });
  clock.start();
  label.show();
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--floor") return Floor(argc, argv);
  double seconds = 20;
  std::string app = VELRPT_APP_PATH, sim = VELRPT_SIM_PATH;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i];
    if (k == "--seconds")
      seconds = std::atof(argv[i + 1]);
    else if (k == "--app")
      app = argv[i + 1];
    else if (k == "--sim")
      sim = argv[i + 1];
    else {
      std::fprintf(stderr, "usage: idle_bench [--seconds S] [--app PATH] [--sim PATH]\n");
      return 2;
    }
  }
  if (seconds <= 0) return 2;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  char dirTemplate[] = "/tmp/idle_bench.XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  int status = 0;

  std::printf("each figure over %.0f s, after %d s to settle\n", seconds, kSettleSeconds);
  std::printf("== baseline: a bare Qt window with a clock label\n");
  const pid_t floor = Spawn({self, "--floor"}, "/dev/null", "/dev/null");
  std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
  const Figures base = Measure(floor, seconds);
  Stop(floor);

  const auto run = [&](const std::vector<std::string>& simArgs, const std::string& tag) {
    const std::string link = dir + "/tty-" + tag;
    std::vector<std::string> a = {sim, "--link", link};
    a.insert(a.end(), simArgs.begin(), simArgs.end());
    const pid_t s = Spawn(a, dir + "/sim-" + tag + ".out", dir + "/sim-" + tag + ".err");
    pid_t p = -1;
    if (s > 0 && WaitFor(link, 30)) {
      std::filesystem::create_directories(dir + "/data-" + tag);
      p = Spawn({app, "--data-dir", dir + "/data-" + tag, "--port", link}, "/dev/null", "/dev/null");
    }
    if (p <= 0) {
      std::fprintf(stderr, "idle_bench: velrpt-sim or velrpt did not start\n");
      Stop(s);
      status = 1;
    }
    return std::pair{s, p};
  };

  std::printf("== velrpt, port open, nothing received\n");
  auto [quietSim, quiet] = run({"--meters", "0"}, "idle");
  Figures open, away;
  if (quiet > 0) {
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
    open = Measure(quiet, seconds);
    bench::Verdict("idle, open: <= 5 wake-ups/s", open.wakeups <= kIdleWakeups);
    bench::Verdict("idle, open: <= 0.1% of a core", open.cpu <= kIdleCpu);
    std::printf("== velrpt, the device pulled out, waiting for it\n");
    ::kill(quietSim, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
    away = Measure(quiet, seconds);
    bench::Verdict("disconnected: <= 5 wake-ups/s", away.wakeups <= kIdleWakeups);
    bench::Verdict("disconnected: <= 0.1% of a core", away.cpu <= kIdleCpu);
    Stop(quiet);
    Stop(quietSim);
  }

  std::printf("== velrpt at a typical site's pace (velrpt-sim --interval 100: 10 telegrams/s)\n");
  auto [siteSim, site] = run({"--meters", "12", "--interval", "100"}, "site");
  if (site > 0) {
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
    const Figures busy = Measure(site, seconds);
    bench::Verdict("10 telegrams/s: <= 1% of a core", busy.cpu <= kSiteCpu);
    Stop(site);
    Stop(siteSim);
  }
  std::printf("for reference: the baseline woke %.1f times/s and took %.3f%% of a core\n", base.wakeups,
              base.cpu * 100);
  std::filesystem::remove_all(dir);
  return status;
}
