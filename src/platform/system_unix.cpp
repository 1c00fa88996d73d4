#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform_system.h"

namespace platform {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string PerUserDataFolder() { return {}; }

bool LocalNow(CivilTime& now) {
  // Local time needs the time zone, and looking at it means a stat of
  // /etc/localtime (or reading TZ) each time - most of what a frame cost at
  // line rate. It is looked at once per second of wall time instead, which
  // still follows a change of zone or of summer time within that second.
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  thread_local time_t cachedSecond = -1;
  thread_local CivilTime cached;
  if (ts.tv_sec != cachedSecond) {
    tzset();
    tm local{};
    if (!localtime_r(&ts.tv_sec, &local)) return false;
    cached = {local.tm_year + 1900,
              local.tm_mon + 1,
              local.tm_mday,
              local.tm_hour,
              local.tm_min,
              std::min(local.tm_sec, 59),
              0};
    cachedSecond = ts.tv_sec;
  }
  now = cached;
  now.msec = static_cast<int>(ts.tv_nsec / 1000000);
  return true;
}

namespace {

int g_signalPipe[2] = {-1, -1};
std::mutex g_stopMutex;
std::function<void()> g_onStop;

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// The signal handler only writes a byte; this thread makes the call.
void StopThread() {
  for (;;) {
    char byte = 0;
    const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    const std::lock_guard<std::mutex> lock(g_stopMutex);
    if (g_onStop) g_onStop();
  }
}

}  // namespace

void SetStopHandler(std::function<void()> onStop) {
  const std::lock_guard<std::mutex> lock(g_stopMutex);
  g_onStop = std::move(onStop);
  if (g_signalPipe[0] >= 0 || !g_onStop) return;
  if (::pipe2(g_signalPipe, O_CLOEXEC) != 0) return;
  std::thread(StopThread).detach();
  struct sigaction action {};
  action.sa_handler = OnSignal;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

void BinaryStandardStreams() {}

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) != 0; }

long long ReadStandardInput(char* buffer, size_t size, int& err) {
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, size);
    if (n >= 0) return n;
    if (errno != EINTR) {
      err = errno;
      return -1;
    }
  }
}

std::vector<std::string> ListedSerialPorts() { return {}; }

}  // namespace platform
