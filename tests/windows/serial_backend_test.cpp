// The Win32 serial back end under wine, on COM1 mapped to a Linux
// pseudo-terminal whose other end echoes every byte (com_port_harness.py,
// which checks the mapping before this runs).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "serial_backend.h"

namespace {

constexpr uint32_t kRxChar = 0x0001, kTxEmpty = 0x0004, kErr = 0x0080;

std::string PortPath() {
  const char* name = std::getenv("VELRPT_TEST_COM");
  return std::string("\\\\.\\") + (name ? name : "COM1");
}

std::unique_ptr<SerialBackend> OpenConfigured() {
  int error = 0;
  bool notFound = false;
  auto port = SerialBackend::Open(PortPath(), error, notFound);
  if (!port) {
    ADD_FAILURE() << PortPath() << ": " << SerialErrorText(error);
    return nullptr;
  }
  LineConfig config;
  config.baudrate = 19200;
  EXPECT_EQ(port->Apply(config, 4096, 2048), 0);
  EXPECT_EQ(port->SetEventMask(kRxChar | kTxEmpty | kErr), 0);
  return port;
}

// Reads until `want` bytes came, waiting for line events, at most 5 s.
std::string ReadEcho(SerialBackend& port, size_t want) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (got.size() < want && std::chrono::steady_clock::now() < end) {
    uint32_t events = 0;
    const auto result = port.WaitEvents(500, events);
    EXPECT_NE(result, SerialBackend::WaitResult::Lost);
    char buffer[256];
    int error = 0;
    const long long n = port.Read(buffer, sizeof buffer, error);
    EXPECT_GE(n, 0) << SerialErrorText(error);
    if (n > 0) got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

}  // namespace

TEST(Win32Serial, AMissingPortIsNotFound) {
  int error = 0;
  bool notFound = false;
  EXPECT_EQ(SerialBackend::Open("\\\\.\\COM49", error, notFound), nullptr);
  EXPECT_TRUE(notFound) << SerialErrorText(error);
  EXPECT_FALSE(SerialErrorText(error).empty());
}

TEST(Win32Serial, BytesGoOutAndComeBackUnchanged) {
  auto port = OpenConfigured();
  ASSERT_TRUE(port);
  int baud = 0;
  ASSERT_EQ(port->ReadBackBaudrate(baud), 0);
  EXPECT_EQ(baud, 19200);

  int error = 0;
  char empty[16];
  EXPECT_EQ(port->Read(empty, sizeof empty, error), 0);  // nothing waits: at once, 0

  std::string frame("\x68\x04\x04\x1a\r\n\x00\x16", 8);
  for (int i = 0; i < 300; ++i) frame += static_cast<char>(i);
  ASSERT_EQ(port->Write(frame.data(), frame.size(), 1000, error), static_cast<long long>(frame.size()))
      << SerialErrorText(error);
  EXPECT_EQ(ReadEcho(*port, frame.size()), frame);
}

TEST(Win32Serial, FlushEmptiesTheInputQueue) {
  auto port = OpenConfigured();
  ASSERT_TRUE(port);
  int error = 0;
  ASSERT_EQ(port->Write("abc", 3, 1000, error), 3);
  int in = 0, out = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < end && port->QueueCounts(in, out) == 0 && in < 3) {
    uint32_t events = 0;
    port->WaitEvents(200, events);
  }
  ASSERT_EQ(in, 3);
  EXPECT_EQ(port->Flush(true, false), 0);
  ASSERT_EQ(port->QueueCounts(in, out), 0);
  EXPECT_EQ(in, 0);
  char buffer[8];
  EXPECT_EQ(port->Read(buffer, sizeof buffer, error), 0);
}

TEST(Win32Serial, WakeEndsAWaitAndAnIdleLineDoesNotSpin) {
  auto port = OpenConfigured();
  ASSERT_TRUE(port);
  SerialBackend::WaitResult result = SerialBackend::WaitResult::TimedOut;
  std::thread waiter([&] {
    uint32_t events = 0;
    result = port->WaitEvents(-1, events);  // no limit: only the wake ends it
  });
  port->Wake();
  waiter.join();
  EXPECT_EQ(result, SerialBackend::WaitResult::Woken);

  // An idle line: wine ends each wait at once; the back end must pause
  // rather than turn that into a busy loop.
  int waits = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
  while (std::chrono::steady_clock::now() < end) {
    uint32_t events = 0;
    EXPECT_EQ(port->WaitEvents(400, events), SerialBackend::WaitResult::TimedOut);
    ++waits;
  }
  EXPECT_LT(waits, 60);
}
