#pragma once
// The Korvex played by hand on the master side of a PtyPair, on a thread of
// its own (the program waits in its exchange meanwhile): 0x00 -> ">",
// "M" -> ">", address, value, 0xFF, "X". It can be slow, leave a prompt
// unanswered, or be half way through a telegram when asked.

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "pty_pair.h"

class HandKorvex {
 public:
  struct Manner {
    bool answers = true;
    int promptDelayMs = 0;          // a slow transceiver
    int dropPrompt = 0;             // this prompt (1 = the first) is never answered
    std::string aheadOfFirst = {};  // the end of a telegram still being delivered when asked
  };

  explicit HandKorvex(PtyPair& pty) : m_pty(pty) {}
  ~HandKorvex() { Stop(); }

  void Start(Manner manner) {
    m_manner = std::move(manner);
    m_thread = std::thread([this] {
      while (!m_stop) {
        pollfd fd{m_pty.MasterFd(), POLLIN, 0};
        if (::poll(&fd, 1, 20) > 0) Feed(m_pty.ReadAvailable());
      }
    });
  }
  // Waits until `count` bytes came (or a few seconds passed) and stops.
  void StopAfter(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Seen().size() < count && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Stop();
  }
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  std::string Seen() {
    std::lock_guard lock(m_mutex);
    return m_seen;
  }
  std::map<int, std::uint8_t> Memory() {
    std::lock_guard lock(m_mutex);
    return m_memory;
  }

 private:
  enum class State { Idle, Config, Address, Value, Leaving };
  void Feed(const std::string& bytes) {
    for (char ch : bytes) {
      const auto b = static_cast<std::uint8_t>(ch);
      {
        std::lock_guard lock(m_mutex);
        m_seen.push_back(ch);
      }
      switch (m_state) {
        case State::Idle:
          if (b == 0x00) Prompt(State::Config);
          break;
        case State::Config:
          if (b == 'M')
            Prompt(State::Address);
          else if (b == 0xFF)
            m_state = State::Leaving;
          break;
        case State::Address:
          m_address = b, m_state = State::Value;
          break;
        case State::Value: {
          std::lock_guard lock(m_mutex);
          m_memory[m_address] = b, m_state = State::Config;
          break;
        }
        case State::Leaving:
          m_state = b == 'X' ? State::Idle : State::Config;
          break;
      }
    }
  }
  void Prompt(State next) {
    m_state = next;
    if (!m_manner.answers || ++m_prompts == m_manner.dropPrompt) return;
    if (m_prompts == 1 && !m_manner.aheadOfFirst.empty()) m_pty.Send(m_manner.aheadOfFirst);
    std::this_thread::sleep_for(std::chrono::milliseconds(m_manner.promptDelayMs));
    m_pty.Send(">");
  }

  PtyPair& m_pty;
  Manner m_manner;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::string m_seen;
  std::map<int, std::uint8_t> m_memory;
  State m_state = State::Idle;
  int m_address = 0;
  int m_prompts = 0;
};
