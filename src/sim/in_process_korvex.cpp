// The in-process line: two byte queues and the line events between the
// simulator's thread and the program's serial threads, under one lock of
// their own. The runner's engine paces both directions as on the
// pseudo-terminal: it sends at the line's rate, and the program's bytes stay
// "on the line" (in the output count) until they have reached the Korvex.
// Lock order: the runner's lock, then this one; the program's side never
// takes the runner's.

#include "in_process_korvex.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "serial_types.h"
#include "sim_line.h"

namespace sim {

namespace {

#ifdef _WIN32
// Win32's codes (windows.h would clash with the EV_* names of serial_types.h).
constexpr int kNotFound = 2;     // ERROR_FILE_NOT_FOUND
constexpr int kBusy = 5;         // ERROR_ACCESS_DENIED
constexpr int kLost = 22;        // ERROR_BAD_COMMAND, what a pulled USB adapter's handle answers
constexpr int kTimedOut = 1460;  // ERROR_TIMEOUT
#else
constexpr int kNotFound = ENOENT;
constexpr int kBusy = EBUSY;
constexpr int kLost = EIO;  // what a hung-up tty answers
constexpr int kTimedOut = ETIMEDOUT;
#endif

// Queue sizes when the program asks for none, about what a UART driver keeps.
constexpr size_t kDefaultQueue = 4096;

using Clock = std::chrono::steady_clock;

// What the line, its registered factory and the open device share.
struct Device {
  std::mutex mutex;
  std::condition_variable changed;  // for both sides: anything below changed
  bool plugged = false;
  std::uint64_t generation = 0;  // one per plugging in; an open of an older one is lost
  bool claimed = false;          // opened (exclusively, as a port is)

  Bytes toProgram;  // sent by the Korvex, not yet read
  size_t toCap = kDefaultQueue;
  bool sendBlocked = false;  // the runner found toProgram full
  Bytes fromProgram;         // written by the program, not yet taken by the runner
  size_t fromCap = kDefaultQueue;
  size_t onTheLine = 0;       // taken by the runner, not yet at the Korvex
  bool flushPending = false;  // the program purged its output; the runner has not heard yet
  bool runnerWake = false;

  std::uint32_t events = 0;  // line events not yet reported to the open device
  int baud = 0;

  size_t OutCount() const { return fromProgram.size() + onTheLine; }
  // Call after the output count may have fallen.
  void TxMaybeEmpty(size_t before) {
    if (before > 0 && OutCount() == 0) events |= EV_TXEMPTY;
  }
};

class InProcessKorvex : public SerialBackend {
 public:
  InProcessKorvex(std::shared_ptr<Device> device, std::uint64_t generation)
      : m_device(std::move(device)), m_generation(generation) {}

  ~InProcessKorvex() override { Release(); }

  int Apply(const LineConfig& config, int inQueue, int outQueue) override {
    std::lock_guard lock(m_device->mutex);
    if (Lost()) return kLost;
    m_device->baud = config.baudrate;
    m_device->toCap = inQueue > 0 ? static_cast<size_t>(inQueue) : kDefaultQueue;
    m_device->fromCap = outQueue > 0 ? static_cast<size_t>(outQueue) : kDefaultQueue;
    return 0;
  }

  int ReadBackBaudrate(int& baud) override {
    std::lock_guard lock(m_device->mutex);
    if (Lost()) return kLost;
    baud = m_device->baud;
    return 0;
  }

  int SetEventMask(uint32_t mask) override {
    std::lock_guard lock(m_device->mutex);
    if (Lost()) return kLost;
    m_mask = mask;
    return 0;
  }

  long long Read(char* buffer, size_t size, int& error) override {
    std::lock_guard lock(m_device->mutex);
    Device& d = *m_device;
    if (Lost()) {
      error = kLost;
      return -1;
    }
    const size_t n = std::min(size, d.toProgram.size());
    d.toProgram.copy(buffer, n);
    d.toProgram.erase(0, n);
    if (n > 0) RoomForRunner();
    return static_cast<long long>(n);
  }

  long long Write(const char* data, size_t size, int deadlineMs, int& error) override {
    std::unique_lock lock(m_device->mutex);
    Device& d = *m_device;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(deadlineMs, 0));
    size_t done = 0;
    for (;;) {
      if (Lost()) {
        error = kLost;
        return -1;
      }
      const size_t n = std::min(size - done, d.fromCap - std::min(d.fromCap, d.fromProgram.size()));
      if (n > 0) {
        d.fromProgram.append(data + done, n);
        done += n;
        d.runnerWake = true;
        d.changed.notify_all();
      }
      if (done == size) return static_cast<long long>(done);
      // The runner takes the bytes as the line carries them.
      if (d.changed.wait_until(lock, deadline) == std::cv_status::timeout && !Lost() &&
          d.fromProgram.size() >= d.fromCap)
        return static_cast<long long>(done);
    }
  }

  int QueueCounts(int& in, int& out) override {
    std::lock_guard lock(m_device->mutex);
    if (Lost()) return kLost;
    in = static_cast<int>(m_device->toProgram.size());
    out = static_cast<int>(m_device->OutCount());
    return 0;
  }

  int Flush(bool input, bool output) override {
    std::lock_guard lock(m_device->mutex);
    Device& d = *m_device;
    if (Lost()) return kLost;
    if (input && !d.toProgram.empty()) {
      d.toProgram.clear();
      RoomForRunner();
    }
    if (output && d.OutCount() > 0) {
      d.fromProgram.clear();
      d.onTheLine = 0;
      d.flushPending = true;
      d.runnerWake = true;
      d.changed.notify_all();
    }
    return 0;
  }

  int Drain(int deadlineMs) override {
    std::unique_lock lock(m_device->mutex);
    const auto gone = [&] { return Lost() || m_device->OutCount() == 0; };
    bool left = true;
    if (deadlineMs < 0)
      m_device->changed.wait(lock, gone);
    else
      left = m_device->changed.wait_for(lock, std::chrono::milliseconds(deadlineMs), gone);
    if (Lost()) return kLost;
    return left ? 0 : kTimedOut;
  }

  WaitResult WaitEvents(int timeoutMs, uint32_t& events) override {
    std::unique_lock lock(m_device->mutex);
    Device& d = *m_device;
    events = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
      if (Lost()) return WaitResult::Lost;
      if (m_woken) {
        m_woken = false;
        return WaitResult::Woken;
      }
      // Only news counts, and bytes read meanwhile are no news.
      if (d.toProgram.empty()) d.events &= ~uint32_t{EV_RXCHAR};
      events = d.events & m_mask;
      if (events) {
        d.events &= ~events;
        return WaitResult::Events;
      }
      if (timeoutMs < 0)
        d.changed.wait(lock);
      else if (d.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
        // As a port's wait does: bytes still waiting count as an event.
        events = m_mask & (d.toProgram.empty() ? 0u : uint32_t{EV_RXCHAR});
        return events ? WaitResult::Events : WaitResult::TimedOut;
      }
    }
  }

  void Wake() override {
    std::lock_guard lock(m_device->mutex);
    m_woken = true;
    m_device->changed.notify_all();
  }

  uint32_t TakeLineErrors() override { return 0; }

  bool HungUp(int) override {
    std::lock_guard lock(m_device->mutex);
    return Lost();
  }

  bool WaitReadable(int timeoutMs, bool& lost) override {
    std::unique_lock lock(m_device->mutex);
    const auto ready = [&] { return Lost() || !m_device->toProgram.empty(); };
    if (timeoutMs < 0)
      m_device->changed.wait(lock, ready);
    else
      m_device->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    lost = Lost();
    return !lost && !m_device->toProgram.empty();
  }

  // Closed: the device opens again at once, and this object is done with
  // it (a thread still waiting on it sees it gone).
  void Release() override {
    std::lock_guard lock(m_device->mutex);
    if (m_released) return;
    if (!Lost()) m_device->claimed = false;
    m_released = true;
    m_device->changed.notify_all();
  }

 private:
  bool Lost() const { return m_released || !m_device->plugged || m_device->generation != m_generation; }
  void RoomForRunner() {
    if (!m_device->sendBlocked) return;
    m_device->runnerWake = true;
    m_device->changed.notify_all();
  }

  std::shared_ptr<Device> m_device;
  const std::uint64_t m_generation;
  uint32_t m_mask = 0;  // under the device's lock, as the other members
  bool m_woken = false;
  bool m_released = false;
};

std::string NextDeviceName() {
  static std::atomic<int> made{0};
  const int n = ++made;
  if (n == 1) return kInProcessDeviceName;
  std::string name = kInProcessDeviceName;
  name.insert(name.size() - 1, " " + std::to_string(n));
  return name;
}

class InProcessLine : public SimLine {
 public:
  InProcessLine() : m_device(std::make_shared<Device>()), m_name(NextDeviceName()) {
    RegisterSerialBackend(m_name,
                          [device = m_device](int& error, bool& notFound) -> std::unique_ptr<SerialBackend> {
                            std::lock_guard lock(device->mutex);
                            if (!device->plugged) {
                              error = kNotFound;
                              notFound = true;
                              return nullptr;
                            }
                            if (device->claimed) {
                              error = kBusy;
                              return nullptr;
                            }
                            device->claimed = true;
                            // Bytes already waiting are news to whoever opens.
                            device->events = device->toProgram.empty() ? 0u : uint32_t{EV_RXCHAR};
                            return std::make_unique<InProcessKorvex>(device, device->generation);
                          });
  }

  ~InProcessLine() override {
    UnregisterSerialBackend(m_name);
    Unplug();
  }

  bool Plug(std::string*) override {
    std::lock_guard lock(m_device->mutex);
    Device& d = *m_device;
    d.plugged = true;
    ++d.generation;
    d.claimed = false;
    d.toProgram.clear();
    d.fromProgram.clear();
    d.onTheLine = 0;
    d.flushPending = false;
    d.sendBlocked = false;
    d.events = 0;
    d.changed.notify_all();
    return true;
  }

  void Unplug() override {
    std::lock_guard lock(m_device->mutex);
    Device& d = *m_device;
    d.plugged = false;
    d.claimed = false;
    d.toProgram.clear();
    d.fromProgram.clear();
    d.onTheLine = 0;
    d.changed.notify_all();
  }

  std::string Path() const override { return m_name; }

  long long Send(const char* data, size_t size, std::string& error) override {
    std::lock_guard lock(m_device->mutex);
    Device& d = *m_device;
    if (!d.plugged) {
      error = "device pulled out";
      return -1;
    }
    const size_t n = std::min(size, d.toCap - std::min(d.toCap, d.toProgram.size()));
    d.sendBlocked = n == 0;
    if (n == 0) return 0;
    d.toProgram.append(data, n);
    d.events |= EV_RXCHAR;
    d.changed.notify_all();
    return static_cast<long long>(n);
  }

  size_t Unread() const override {
    std::lock_guard lock(m_device->mutex);
    return m_device->toProgram.size();
  }

  void OnTheLine(size_t n) override {
    std::lock_guard lock(m_device->mutex);
    Device& d = *m_device;
    if (d.flushPending) return;  // the runner drops those bytes at its next wait
    const size_t before = d.OutCount();
    d.onTheLine = n;
    d.TxMaybeEmpty(before);
    if (d.OutCount() < before) d.changed.notify_all();
  }

  bool Wait(int timeoutMs, Turn& turn) override {
    std::unique_lock lock(m_device->mutex);
    Device& d = *m_device;
    const auto ready = [&] {
      if (d.runnerWake || d.flushPending) return true;
      if (!turn.listen || !d.plugged) return false;
      return (turn.room > 0 && !d.fromProgram.empty()) || (turn.wantRoom && d.toProgram.size() < d.toCap);
    };
    if (timeoutMs < 0)
      d.changed.wait(lock, ready);
    else
      d.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    d.runnerWake = false;
    if (d.flushPending) {
      d.flushPending = false;
      turn.flushedOut = true;
    }
    if (turn.listen && d.plugged && turn.room > 0 && !d.fromProgram.empty()) {
      const size_t n = std::min(turn.room, d.fromProgram.size());
      turn.in.assign(d.fromProgram, 0, n);
      d.fromProgram.erase(0, n);
      d.onTheLine += n;
      d.changed.notify_all();  // room for a waiting Write
    }
    return true;
  }

  void Wake() override {
    std::lock_guard lock(m_device->mutex);
    m_device->runnerWake = true;
    m_device->changed.notify_all();
  }

 private:
  std::shared_ptr<Device> m_device;
  std::string m_name;
};

}  // namespace

std::unique_ptr<SimulatorRunner> MakeInProcessSimulator(SimOptions options) {
  return std::make_unique<SimulatorRunner>(std::move(options), std::make_unique<InProcessLine>());
}

bool InProcessSimulatorWanted() {
#ifdef _WIN32
  return true;
#else
  const char* value = std::getenv(kSimulatorLineVariable);
  return value && std::string(value) == "in-process";
#endif
}

std::unique_ptr<SimulatorRunner> MakeSimulator(SimOptions options) {
  if (InProcessSimulatorWanted()) return MakeInProcessSimulator(std::move(options));
  return std::make_unique<SimulatorRunner>(std::move(options));
}

}  // namespace sim
