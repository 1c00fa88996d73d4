// The simulated Korvex inside the process, opened by name through the
// serial device interface as TSerialPort opens a port, on real threads: the
// same bytes as on the pseudo-terminal, the answer after the command has
// left, pacing both ways, purges, Wake, pulling out and putting back.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <thread>

#include "in_process_korvex.h"
#include "serial_types.h"
#include "sim_test_support.h"

using namespace simtest;

namespace {

// Opens the device as TSerialPort does: raw line, queues, event mask, both
// directions purged (unless `purge` is false: what came before the open
// stays, as on a pseudo-terminal read without purging).
std::unique_ptr<SerialBackend> OpenDevice(const std::string& name, bool purge = true) {
  int error = 0;
  bool notFound = false;
  auto device = OpenSerialBackend(name, error, notFound);
  EXPECT_TRUE(device) << name << ": " << error;
  if (!device) return device;
  LineConfig config;
  config.baudrate = 19200;
  EXPECT_EQ(device->Apply(config, 4096, 2048), 0);
  EXPECT_EQ(device->SetEventMask(EV_RXCHAR | EV_TXEMPTY), 0);
  if (purge) {
    EXPECT_EQ(device->Flush(true, true), 0);
  }
  return device;
}

// What the program's event thread and handler see.
struct Reading {
  std::string bytes;
  std::vector<size_t> pieces;  // one per read that returned bytes
  std::vector<uint32_t> events;
  int outAtFirstByte = -1;  // the output count when the first bytes were read
  bool lost = false;
};

// Waits on line events and reads what they announce until `done(bytes)`,
// the loss or the time limit.
Reading ReadDevice(SerialBackend& device, const std::function<bool(const std::string&)>& done,
                   int limitMs = kLimitMs) {
  Reading r;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done(r.bytes) && std::chrono::steady_clock::now() < end) {
    uint32_t events = 0;
    // Short slices: `done` may turn true without any event.
    const auto result = device.WaitEvents(50, events);
    if (result == SerialBackend::WaitResult::Lost) {
      r.lost = true;
      break;
    }
    if (result != SerialBackend::WaitResult::Events) continue;
    r.events.push_back(events);
    char buf[4096];
    int error = 0;
    int in = 0, out = 0;
    EXPECT_EQ(device.QueueCounts(in, out), 0);
    const long long n = device.Read(buf, sizeof buf, error);
    if (n > 0 && r.bytes.empty()) r.outAtFirstByte = out;
    EXPECT_GE(n, 0) << error;
    if (n > 0) {
      r.bytes.append(buf, static_cast<size_t>(n));
      r.pieces.push_back(static_cast<size_t>(n));
    }
  }
  return r;
}

bool WriteDevice(SerialBackend& device, const std::string& bytes) {
  int error = 0;
  return device.Write(bytes.data(), bytes.size(), 1000, error) == static_cast<long long>(bytes.size());
}

// A whole frame (68 L ... 16, L + 3 bytes) from the first byte on: its end
// byte may stand inside it too, where a paced read can stop.
bool EndsFrame(const std::string& s) {
  return s.size() >= 2 && s[0] == 0x68 && s.size() >= static_cast<std::uint8_t>(s[1]) + 3u &&
         s.back() == 0x16;
}

// Everything a finished --count run sends, read on the pseudo-terminal or
// from the in-process device.
std::string AllFromPty(const sim::SimOptions& options) {
  sim::SimulatorRunner runner(options);
  std::string error;
  EXPECT_TRUE(runner.Start(&error)) << error;
  const int fd = OpenSlave(runner.SlavePath());
  EXPECT_GE(fd, 0);
  const std::string got = ReadUntil(
      fd, [&](const std::string& s) { return runner.Finished() && s.size() >= runner.Stats().bytesSent; },
      kLimitMs);
  close(fd);
  return got;
}

std::string AllInProcess(const sim::SimOptions& options) {
  auto runner = sim::MakeInProcessSimulator(options);
  std::string error;
  EXPECT_TRUE(runner->Start(&error)) << error;
  auto device = OpenDevice(runner->SlavePath(), false);
  if (!device) return {};
  return ReadDevice(*device,
                    [&](const std::string& s) {
                      return runner->Finished() && s.size() >= runner->Stats().bytesSent;
                    })
      .bytes;
}

}  // namespace

TEST(InProcessKorvex, SameBytesAsOnThePseudoTerminal) {
  struct Case {
    const char* name;
    double noise, badFrames;
    bool chunks;
    int baud;
  } const cases[] = {
      {"plain", 0, 0, false, 0},
      {"every fault", 0.3, 0.1, true, 0},
      {"paced", 0.2, 0, true, 115200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto options = FastOptions(7);
    options.count = 30;
    options.noise = c.noise;
    options.badFrames = c.badFrames;
    options.chunks = c.chunks;
    options.baud = c.baud;
    const std::string pty = AllFromPty(options);
    EXPECT_GT(pty.size(), 30u * 20);
    EXPECT_EQ(AllInProcess(options), pty);
  }
}

// The repeater answers once the command has reached it, the Korvex its
// prompt likewise, and a dropped prompt never comes: each reply is news
// only after EV_TXEMPTY said the request had left.
TEST(InProcessKorvex, RepliesFollowTheRequestOffTheLine) {
  struct Case {
    const char* name;
    std::string request;
    int dropPrompt;
    std::string reply;  // empty: none before the quiet time-out
  } const cases[] = {
      {"command", CommandFrame(kRepeater, B({0x01, 0x22, 0x05})), 0, "frame"},
      {"prompt", B({0x00}), 0, ">"},
      {"dropped prompt", B({0x00}), 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto options = FastOptions(5);
    options.meters = 0;
    options.baud = 2400;  // a command frame takes 90 ms to leave
    options.promptDelayMs = 30;
    options.dropPrompt = c.dropPrompt;
    options.quietMs = 300;
    auto runner = sim::MakeInProcessSimulator(options);
    std::string error;
    ASSERT_TRUE(runner->Start(&error)) << error;
    auto device = OpenDevice(runner->SlavePath());
    ASSERT_TRUE(device);
    ASSERT_TRUE(WriteDevice(*device, c.request));
    const Reading r = ReadDevice(*device, [&](const std::string& s) {
      return c.reply == "frame" ? EndsFrame(s) : !s.empty() || runner->Stats().quietTimeouts > 0;
    });
    ASSERT_FALSE(r.events.empty());
    EXPECT_TRUE(r.events.front() & EV_TXEMPTY);
    if (!r.bytes.empty()) {
      EXPECT_EQ(r.outAtFirstByte, 0);
    }
    EXPECT_EQ(runner->Stats().bytesReceived, c.request.size());
    if (c.reply == "frame") {
      ProgramSide program;
      program.options.repeaterId = kRepeater;
      program.Feed(r.bytes);
      EXPECT_TRUE(HasLine(program.log.lines, "START HOUR = 5"))
          << ::testing::PrintToString(program.log.lines);
    } else {
      EXPECT_EQ(r.bytes, c.reply);
      EXPECT_EQ(runner->Stats().promptsDropped, c.dropPrompt ? 1u : 0u);
    }
  }
}

// Bytes to the program come at the line's rate, in many small reads; the
// program's bytes wait in the output count until the line has carried them,
// and a purge drops them before they reach the Korvex.
TEST(InProcessKorvex, PacedBothWaysAndPurged) {
  {
    auto options = FastOptions(3);
    options.count = 20;
    options.baud = 19200;
    auto runner = sim::MakeInProcessSimulator(options);
    std::string error;
    ASSERT_TRUE(runner->Start(&error)) << error;
    auto device = OpenDevice(runner->SlavePath());
    ASSERT_TRUE(device);
    const Reading r = ReadDevice(*device, [&](const std::string& s) {
      return runner->Finished() && s.size() >= runner->Stats().bytesSent;
    });
    ASSERT_GT(r.bytes.size(), 20u * 20);
    EXPECT_GT(r.pieces.size(), 20u);
    EXPECT_LT(*std::max_element(r.pieces.begin(), r.pieces.end()), r.bytes.size() / 2);
  }
  auto options = FastOptions(4);
  options.meters = 0;
  options.baud = 1200;  // 1000 bytes are 8 s of line time
  auto runner = sim::MakeInProcessSimulator(options);
  std::string error;
  ASSERT_TRUE(runner->Start(&error)) << error;
  auto device = OpenDevice(runner->SlavePath());
  ASSERT_TRUE(device);
  ASSERT_TRUE(WriteDevice(*device, std::string(1000, '\x55')));
  int in = -1, out = -1;
  ASSERT_EQ(device->QueueCounts(in, out), 0);
  EXPECT_GT(out, 0);
  EXPECT_NE(device->Drain(0), 0);
  ASSERT_EQ(device->Flush(false, true), 0);
  ASSERT_EQ(device->QueueCounts(in, out), 0);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(device->Drain(0), 0);
  // The next command is answered, and the purged bytes never came in.
  ASSERT_TRUE(WriteDevice(*device, CommandFrame(kRepeater, B({0x01, 0x22, 0x06}))));
  EXPECT_EQ(device->Drain(kLimitMs), 0);
  EXPECT_TRUE(EndsFrame(ReadDevice(*device, EndsFrame).bytes));
  EXPECT_EQ(runner->Repeater().rxStartHour, 6);
  EXPECT_LT(runner->Stats().bytesReceived, 1000u);
  // Unread input is purged too.
  ASSERT_TRUE(WriteDevice(*device, B({0x00})));
  uint32_t events = 0;
  for (int i = 0; i < kLimitMs / 10 && in == 0; ++i) {
    device->WaitEvents(10, events);
    ASSERT_EQ(device->QueueCounts(in, out), 0);
  }
  ASSERT_EQ(in, 1);
  ASSERT_EQ(device->Flush(true, false), 0);
  ASSERT_EQ(device->QueueCounts(in, out), 0);
  EXPECT_EQ(in, 0);
}

TEST(InProcessKorvex, WakeEndsAWaitFromAnotherThread) {
  auto options = FastOptions(1);
  options.meters = 0;
  auto runner = sim::MakeInProcessSimulator(options);
  std::string error;
  ASSERT_TRUE(runner->Start(&error)) << error;
  auto device = OpenDevice(runner->SlavePath());
  ASSERT_TRUE(device);
  uint32_t events = 0;
  EXPECT_EQ(device->WaitEvents(10, events), SerialBackend::WaitResult::TimedOut);
  // A Wake before the wait ends the next one.
  device->Wake();
  EXPECT_EQ(device->WaitEvents(-1, events), SerialBackend::WaitResult::Woken);
  std::atomic<bool> waiting = false;
  std::thread waiter([&] {
    uint32_t e = 0;
    waiting = true;
    EXPECT_EQ(device->WaitEvents(-1, e), SerialBackend::WaitResult::Woken);
  });
  while (!waiting) std::this_thread::yield();
  device->Wake();
  waiter.join();
}

// Pulled out: a wait in progress reports the loss, every call fails, and
// the name opens nothing; put back, it opens afresh (once at a time) and the
// repeater has kept its settings.
TEST(InProcessKorvex, PulledOutAndPutBack) {
  auto options = FastOptions(2);
  options.meters = 0;
  auto runner = sim::MakeInProcessSimulator(options);
  std::string error;
  ASSERT_TRUE(runner->Start(&error)) << error;
  const std::string name = runner->SlavePath();
  EXPECT_EQ(name, sim::kInProcessDeviceName);
  auto device = OpenDevice(name);
  ASSERT_TRUE(device);
  int code = 0;
  bool notFound = true;
  EXPECT_FALSE(OpenSerialBackend(name, code, notFound));
  EXPECT_FALSE(notFound);
  EXPECT_NE(code, 0);

  ASSERT_TRUE(WriteDevice(*device, CommandFrame(kRepeater, B({0x01, 0x22, 0x07}))));
  ASSERT_TRUE(EndsFrame(ReadDevice(*device, EndsFrame).bytes));
  std::atomic<bool> waiting = false;
  std::thread waiter([&] {
    uint32_t e = 0;
    waiting = true;
    EXPECT_EQ(device->WaitEvents(-1, e), SerialBackend::WaitResult::Lost);
  });
  while (!waiting) std::this_thread::yield();
  runner->Unplug();
  waiter.join();
  char buf[16];
  int in = 0, out = 0;
  EXPECT_EQ(device->Read(buf, sizeof buf, code), -1);
  EXPECT_EQ(device->Write("x", 1, 100, code), -1);
  EXPECT_NE(device->QueueCounts(in, out), 0);
  EXPECT_NE(device->Flush(true, true), 0);
  EXPECT_FALSE(OpenSerialBackend(name, code, notFound));
  EXPECT_TRUE(notFound);

  ASSERT_TRUE(runner->Replug(&error)) << error;
  uint32_t events = 0;
  EXPECT_EQ(device->WaitEvents(0, events), SerialBackend::WaitResult::Lost);  // the old open stays lost
  device.reset();
  auto again = OpenDevice(name);
  ASSERT_TRUE(again);
  ASSERT_TRUE(WriteDevice(
      *again, CommandFrame(kRepeater, B({0x0F, 0xFF, 0x05, 0x04, 0x21, 0x01, 0x00, 0x00}), true)));
  EXPECT_TRUE(EndsFrame(ReadDevice(*again, EndsFrame).bytes));
  EXPECT_EQ(runner->Repeater().rxStartHour, 7);
  // Closed, it opens again at once.
  again.reset();
  EXPECT_TRUE(OpenDevice(name));

  // Gone with its runner: the name is nobody's.
  runner.reset();
  EXPECT_FALSE(OpenSerialBackend(name, code, notFound));
  EXPECT_TRUE(notFound);
}
