// The POSIX serial back end on real pseudo-terminals, and TSerialPort
// opening a device of the program's own by name through the same interface.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "pty_pair.h"
#include "serial_backend.h"
#include "serial_port.h"

namespace {

std::unique_ptr<SerialBackend> OpenLine(const std::string& path, uint32_t mask = EV_RXCHAR) {
  int error = 0;
  bool notFound = false;
  auto line = SerialBackend::Open(path, error, notFound);
  if (!line) {
    ADD_FAILURE() << path << ": " << SerialErrorText(error);
    return nullptr;
  }
  LineConfig config;
  config.baudrate = 19200;
  EXPECT_EQ(line->Apply(config, 4096, 2048), 0);
  EXPECT_EQ(line->SetEventMask(mask), 0);
  return line;
}

// Waits for line events until `want` bytes were read, at most 5 s.
std::string ReadAll(SerialBackend& line, std::size_t want) {
  std::string got;
  for (int round = 0; round < 50 && got.size() < want; ++round) {
    uint32_t events = 0;
    EXPECT_NE(line.WaitEvents(100, events), SerialBackend::WaitResult::Lost);
    char buffer[256];
    int error = 0;
    const long long n = line.Read(buffer, sizeof buffer, error);
    EXPECT_GE(n, 0) << SerialErrorText(error);
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

}  // namespace

TEST(UnixSerialBackend, OpensExclusivelyUntilReleasedAndTellsAMissingDevice) {
  PtyPair pty;
  auto first = OpenLine(pty.SlavePath());
  ASSERT_TRUE(first);
  int error = 0;
  bool notFound = true;
  EXPECT_EQ(SerialBackend::Open(pty.SlavePath(), error, notFound), nullptr);
  EXPECT_EQ(error, EWOULDBLOCK);
  EXPECT_FALSE(notFound);
  // Released while still held (an event thread that has not left yet):
  // the device opens again at once.
  first->Release();
  auto second = SerialBackend::Open(pty.SlavePath(), error, notFound);
  EXPECT_TRUE(second) << SerialErrorText(error);

  const struct {
    const char* path;
    bool notFound;
  } cases[] = {{"/dev/velrpt-no-such-device", true}, {"/proc/self", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(SerialBackend::Open(c.path, error, notFound), nullptr);
    EXPECT_EQ(notFound, c.notFound);
    EXPECT_FALSE(SerialErrorText(error).empty());
    EXPECT_NE(SerialErrorText(error).back(), '.');
  }
}

TEST(UnixSerialBackend, BytesBothWaysWithQueueCountsAndTheLineAsAsked) {
  PtyPair pty;
  auto line = OpenLine(pty.SlavePath());
  ASSERT_TRUE(line);
  std::string notTaken = "unset";
  LineConfig asked;
  asked.baudrate = 19200;
  EXPECT_EQ(line->CheckLineTaken(pty.SlavePath(), asked, notTaken), 0);
  EXPECT_EQ(notTaken, "");
  int baud = 0;
  EXPECT_EQ(line->ReadBackBaudrate(baud), 0);
  EXPECT_EQ(baud, 19200);

  char buffer[16];
  int error = 0;
  EXPECT_EQ(line->Read(buffer, sizeof buffer, error), 0);  // nothing waits: at once, 0

  const std::string frame("\x68\x04\x04\x1a\r\n\x00\x16\xff", 9);
  pty.Send(frame);
  uint32_t events = 0;
  ASSERT_EQ(line->WaitEvents(5000, events), SerialBackend::WaitResult::Events);
  EXPECT_EQ(events, uint32_t{EV_RXCHAR});
  bool lost = true;
  EXPECT_TRUE(line->WaitReadable(5000, lost));
  EXPECT_FALSE(lost);
  EXPECT_EQ(ReadAll(*line, frame.size()), frame);  // raw: no CR/LF mapping, no stripping
  int in = -1, out = -1;
  EXPECT_EQ(line->QueueCounts(in, out), 0);
  EXPECT_EQ(in, 0);

  ASSERT_EQ(line->Write(frame.data(), frame.size(), 1000, error), static_cast<long long>(frame.size()));
  EXPECT_EQ(line->Drain(1000), 0);
  EXPECT_EQ(pty.Receive(frame.size()), frame);

  pty.Send("abc");
  ASSERT_TRUE(line->WaitReadable(5000, lost));
  EXPECT_EQ(line->Flush(true, false), 0);
  EXPECT_EQ(line->QueueCounts(in, out), 0);
  EXPECT_EQ(in, 0);
}

TEST(UnixSerialBackend, AWriteGivesUpAtItsDeadlineWithWhatWasTaken) {
  PtyPair pty;
  auto line = OpenLine(pty.SlavePath());
  ASSERT_TRUE(line);
  // Nobody reads the other end: the line fills up and stays full.
  const std::string big(4 << 20, 'x');
  int error = 0;
  const long long taken = line->Write(big.data(), big.size(), 100, error);
  EXPECT_GT(taken, 0) << SerialErrorText(error);
  EXPECT_LT(taken, static_cast<long long>(big.size()));
}

TEST(UnixSerialBackend, AWaitEndsForAWakeAForgottenByteNeverAndTheLoss) {
  PtyPair pty;
  auto line = OpenLine(pty.SlavePath(), EV_RXCHAR | EV_ERR);
  ASSERT_TRUE(line);
  SerialBackend::WaitResult result = SerialBackend::WaitResult::TimedOut;
  std::thread waiter([&] {
    uint32_t events = 0;
    result = line->WaitEvents(-1, events);  // no limit: only the wake ends it
  });
  line->Wake();
  waiter.join();
  EXPECT_EQ(result, SerialBackend::WaitResult::Woken);

  // Bytes left unread end no wait once the receive event is left out of
  // the mask (the event thread's way of not spinning on them).
  pty.Send("left");
  bool lost = false;
  ASSERT_TRUE(line->WaitReadable(5000, lost));
  ASSERT_EQ(line->SetEventMask(EV_ERR), 0);
  uint32_t events = 0;
  EXPECT_EQ(line->WaitEvents(50, events), SerialBackend::WaitResult::TimedOut);
  EXPECT_EQ(events, 0u);
  EXPECT_EQ(line->TakeLineErrors(), 0u);  // a pty counts no line errors

  EXPECT_FALSE(line->HungUp(0));
  pty.CloseMaster();
  EXPECT_EQ(line->WaitEvents(5000, events), SerialBackend::WaitResult::Lost);
  EXPECT_TRUE(line->HungUp(0));
  char buffer[8];
  int error = 0;
  line->Read(buffer, sizeof buffer, error);  // the rest of the queue or EIO, never a hang
  EXPECT_FALSE(line->WaitReadable(100, lost) && !lost);
}

// A device of the program's own, registered by name, opens like a port:
// TSerialPort reaches it through the same open, settings and events.
TEST(UnixSerialBackend, TSerialPortOpensARegisteredDeviceByName) {
  PtyPair pty;
  const std::string path = pty.SlavePath();
  RegisterSerialBackend("VELRPT-LOOP", [path](int& error, bool& notFound) {
    return SerialBackend::Open(path, error, notFound);
  });
  RegisterSerialBackend("VELRPT-GONE", [](int& error, bool& notFound) {
    error = ENODEV;
    notFound = true;
    return std::unique_ptr<SerialBackend>();
  });

  TSerialPort port;
  port.SetDirectWrite(true);
  port.SetDeviceName("VELRPT-LOOP");
  std::string received;
  port.OnRxChar = [&](TCustomSerialPort* sender, int count) {
    std::string chunk(static_cast<std::size_t>(count), '\0');
    const int n = sender->ReadData(chunk.data(), count);
    received.append(chunk, 0, static_cast<std::size_t>(n));
  };
  port.Open();
  // Registered by name, claimed like the system's device behind it.
  int error = 0;
  bool notFound = false;
  EXPECT_EQ(SerialBackend::Open(path, error, notFound), nullptr);
  pty.Send("ping");
  EXPECT_TRUE(WaitUntil([&] { return received == "ping"; })) << received;
  EXPECT_TRUE(port.WriteString("pong"));
  EXPECT_EQ(pty.Receive(4), "pong");
  port.Close();
  EXPECT_TRUE(SerialBackend::Open(path, error, notFound)) << SerialErrorText(error);

  TSerialPort gone;
  gone.SetDeviceName("VELRPT-GONE");
  try {
    gone.Open();
    ADD_FAILURE() << "opened";
  } catch (const ESerialPortError& e) {
    EXPECT_STREQ(e.what(), "Specified device not found (VELRPT-GONE).");
    EXPECT_EQ(e.deviceError, ENODEV);
  }
  EXPECT_FALSE(gone.IsOpen());
  UnregisterSerialBackend("VELRPT-LOOP");
  UnregisterSerialBackend("VELRPT-GONE");
  // Unregistered: the name goes to the system, which has no such device.
  TSerialPort again;
  again.SetDeviceName("VELRPT-LOOP");
  EXPECT_THROW(again.Open(), ESerialPortError);
}
