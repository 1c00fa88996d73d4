#pragma once
// A program of ours started as a child with posix_spawn, its standard output
// in a pipe and its standard error thrown away.
//
// The whole-program tests that run serial threads in the test process use
// this instead of QProcess. Qt 6.4's QProcess starts the child with
// clone(CLONE_VM | CLONE_VFORK) and runs Qt code in it (signal, close, dup2)
// on the parent's memory and thread-local state; under ThreadSanitizer those
// calls go through the sanitizer's hooks as if the parent's thread made
// them, and from then on it misses that thread's locking and reports races
// on data it only touches under a lock. glibc's posix_spawn runs nothing but
// its own internal calls in the child.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace e2e {

class SpawnedProgram {
 public:
  SpawnedProgram() = default;
  SpawnedProgram(const SpawnedProgram&) = delete;
  SpawnedProgram& operator=(const SpawnedProgram&) = delete;
  ~SpawnedProgram() {
    Terminate(10000);
    if (m_out >= 0) ::close(m_out);
  }

  bool Start(const std::string& program, const std::vector<std::string>& args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int error = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (error != 0) {
      ::close(out[0]);
      m_pid = -1;
      return false;
    }
    m_out = out[0];
    m_outEnded = false;
    ::fcntl(m_out, F_SETFL, ::fcntl(m_out, F_GETFL) | O_NONBLOCK);
    return true;
  }

  pid_t Pid() const { return m_pid; }

  // What the program has written to its standard output since the last call.
  std::string ReadAvailable() {
    Drain();
    return std::exchange(m_unread, {});
  }

  // Its exit status once it has ended within limitMs (128 + the signal
  // when a signal ended it), else -1 and it runs on. Its output is read
  // meanwhile and kept for ReadAvailable: a program blocked on a full pipe
  // would never end.
  int Wait(int limitMs) {
    if (m_pid <= 0) return m_status;
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    if (pidfd < 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    bool ended = false;
    while (!ended) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() < 0) break;
      pollfd p[2] = {{pidfd, POLLIN, 0}, {m_out, POLLIN, 0}};
      if (::poll(p, m_outEnded ? 1 : 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
      if (p[1].revents) Drain();
      ended = (p[0].revents & POLLIN) != 0;
    }
    ::close(pidfd);
    int status = 0;
    if (!ended || ::waitpid(m_pid, &status, 0) != m_pid) return -1;
    Drain();
    m_pid = -1;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m_status;
  }

  // SIGTERM, and SIGKILL when it has not ended within limitMs; its exit
  // status after the SIGTERM, or -1.
  int Terminate(int limitMs) {
    if (m_pid <= 0) return m_status;
    ::kill(m_pid, SIGTERM);
    const int status = Wait(limitMs);
    if (status >= 0) return status;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    return -1;
  }

 private:
  void Drain() {
    char buffer[4096];
    ssize_t n = -1;
    while (!m_outEnded && (n = ::read(m_out, buffer, sizeof buffer)) > 0)
      m_unread.append(buffer, static_cast<size_t>(n));
    if (!m_outEnded && n == 0) m_outEnded = true;
  }

  pid_t m_pid = -1;
  int m_out = -1;
  int m_status = -1;
  bool m_outEnded = true;  // no pipe, or its write end closed
  std::string m_unread;
};

}  // namespace e2e
