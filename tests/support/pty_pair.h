#pragma once
// A pseudo-terminal pair for serial tests: the component opens SlavePath()
// exactly as it would open /dev/ttyUSB0; the test plays the device on the
// master side.

#include <functional>
#include <string>
#include <string_view>

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return m_slavePath; }
  int MasterFd() const { return m_master; }
  // The fixture's own slave descriptor: reads the line settings back.
  int SlaveFd() const { return m_slave; }

  // The device sends `bytes` (waits for room, at most a few seconds).
  void Send(std::string_view bytes);
  // Everything the program has written so far, without waiting.
  std::string ReadAvailable();
  // Reads until `count` bytes came or `timeoutMs` passed.
  std::string Receive(std::size_t count, int timeoutMs = 5000);
  // Pulls the device: the slave side sees a hang-up.
  void CloseMaster();

 private:
  int m_master = -1;
  int m_slave = -1;  // held so the line keeps its settings between opens
  std::string m_slavePath;
};

// Runs the Qt event loop of this thread until `condition` holds or
// `timeoutMs` passed; returns whether it holds.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
