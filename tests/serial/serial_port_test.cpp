// TSerialPort on real pseudo-terminals: the test plays the device on the
// master side.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "line_readback.h"
#include "pty_pair.h"
#include "serial_port.h"

namespace {

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ESerialPortError& e) {
    return e.what();
  }
  return "";
}

class SerialPortTest : public ::testing::Test {
 protected:
  SerialPortTest() {
    port.SetDeviceName(pty.SlavePath());
    port.SetDirectWrite(true);
  }

  // Collects every byte announced through OnRxChar, as the receive handler does.
  void CollectReceived() {
    port.OnRxChar = [this](TCustomSerialPort* sender, int count) {
      ++notifications;
      std::string chunk(static_cast<std::size_t>(count), '\0');
      int n = sender->ReadData(chunk.data(), count);
      received.append(chunk, 0, static_cast<std::size_t>(n));
    };
  }

  PtyPair pty;
  TSerialPort port;
  std::string received;
  int notifications = 0;
};

TEST_F(SerialPortTest, OpensClosesAndReopensWithOpenAndCloseEvents) {
  int opened = 0, closed = 0;
  port.OnOpen = [&](TCustomSerialPort*) { ++opened; };
  port.OnClose = [&](TCustomSerialPort*) { ++closed; };

  port.Close();  // closed: nothing, no OnClose
  port.Purge(PURGE_RXCLEAR);
  EXPECT_EQ(closed, 0);

  for (int round = 0; round < 3; ++round) {
    port.Open();
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(port.WriteString("ping"));
    EXPECT_EQ(pty.Receive(4), "ping");
    port.Close();
    EXPECT_FALSE(port.IsOpen());
  }
  EXPECT_EQ(opened, 3);
  EXPECT_EQ(closed, 3);
}

TEST_F(SerialPortTest, OpenFailuresNameTheCauseAndLeaveThePortClosed) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string missing = dir.filePath("ttyNothing").toStdString();
  const std::string directory = dir.path().toStdString();

  TSerialPort holder;
  holder.SetDeviceName(pty.SlavePath());
  holder.Open();

  struct Case {
    std::string path;
    std::string message;
  };
  const Case cases[] = {
      {missing, "Specified device not found (" + missing + ")."},
      {directory, "Can't open specified device " + directory + " (Error 21, Is a directory)"},
      // Held by another program: the flock refuses even root.
      {pty.SlavePath(),
       "Can't open specified device " + pty.SlavePath() + " (Error 11, Resource temporarily unavailable)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    port.SetDeviceName(c.path);
    EXPECT_EQ(ErrorOf([&] { port.Open(); }), c.message);
    EXPECT_FALSE(port.IsOpen());
    // A second attempt is allowed and fails the same way.
    EXPECT_EQ(ErrorOf([&] { port.Open(); }), c.message);
  }

  // Once released, the device opens.
  holder.Close();
  port.SetDeviceName(pty.SlavePath());
  port.Open();
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialPortTest, OpenOnAnOpenPortFailsAndKeepsItWorking) {
  port.Open();
  EXPECT_EQ(ErrorOf([&] { port.Open(); }), "Can't perform this operation while port is open");
  ASSERT_TRUE(port.IsOpen());
  EXPECT_TRUE(port.WriteString("still"));
  EXPECT_EQ(pty.Receive(5), "still");
}

TEST_F(SerialPortTest, SettingsLinuxCannotCarryFailTheOpenAndReleaseTheDevice) {
  const std::vector<std::pair<const char*, std::function<void(TSerialPort&)>>> cases = {
      {"4 data bits", [](TSerialPort& p) { p.SetDatabits(db4); }},
      {"1.5 stop bits", [](TSerialPort& p) { p.SetStopbits(sb15); }},
      {"DSR output flow", [](TSerialPort& p) { p.FlowControl().SetOutDsrFlow(true); }},
      {"RTS toggle", [](TSerialPort& p) { p.FlowControl().SetControlRts(rtsToggle); }},
      {"user rate 0", [](TSerialPort& p) { p.SetBaudrate(brUser); }},
  };
  for (const auto& [what, configure] : cases) {
    SCOPED_TRACE(what);
    TSerialPort bad;
    bad.SetDeviceName(pty.SlavePath());
    configure(bad);
    EXPECT_EQ(ErrorOf([&] { bad.Open(); }), "Error writing dcb (22), Invalid argument");
    EXPECT_FALSE(bad.IsOpen());
    // Released: the next program gets it.
    port.Open();
    EXPECT_TRUE(port.IsOpen());
    port.Close();
  }
}

TEST_F(SerialPortTest, SettersOfClosedOnlyPropertiesRefuseWhileOpen) {
  port.Open();
  const std::vector<std::pair<const char*, std::function<void()>>> refused = {
      {"PortNum", [&] { port.SetPortNum(7); }},
      {"DeviceName", [&] { port.SetDeviceName("/dev/null"); }},
      {"MonitorEvents", [&] { port.SetMonitorEvents({ceRxChar}); }},
      {"DirectWrite", [&] { port.SetDirectWrite(false); }},
      {"UpdateDCB", [&] { port.SetUpdateDCB(false); }},
      {"Buffers", [&] { port.Buffers().SetReadSize(100); }},
      {"Buffers object",
       [&] {
         TSerialBuffers other;
         other.SetXonLimit(5);
         port.SetBuffers(other);
       }},
  };
  for (const auto& [what, action] : refused) {
    SCOPED_TRACE(what);
    EXPECT_EQ(ErrorOf(action), "Can't perform this operation while port is open");
  }
  // Refused before anything changed.
  EXPECT_EQ(port.Buffers().ReadSize(), 4096);
  EXPECT_EQ(port.Buffers().XonLimit(), 1024);
  // The same value is no change, and the two time-outs are free to change.
  EXPECT_EQ(ErrorOf([&] { port.SetDeviceName(pty.SlavePath()); }), "");
  EXPECT_EQ(ErrorOf([&] { port.Buffers().SetReadTimeout(50); }), "");
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialPortTest, DeviceNameTakesThePortNumberOnlyThroughItsPlaceholder) {
  TSerialPort p;
  EXPECT_EQ(p.DevicePath(), "COM0");
  p.SetPortNum(3);
  EXPECT_EQ(p.DevicePath(), "COM3");
  p.SetDeviceName("/dev/ttyUSB1");
  EXPECT_EQ(p.DevicePath(), "/dev/ttyUSB1");
  p.SetDeviceName("/tmp/%s%n%x");  // never a format string
  EXPECT_EQ(p.DevicePath(), "/tmp/%s%n%x");
}

TEST_F(SerialPortTest, LineSettingsReachTheDeviceOnOpenAndAtOnceWhileOpen) {
  struct Case {
    TBaudrate rate;
    speed_t speed;
    TParity parity;
    tcflag_t parityBits;
    TDatabits databits;
    TStopbits stopbits;
    bool cstopb;
  };
  const Case cases[] = {
      {br19200, B19200, paNone, 0, db8, sb1, false},
      {br9600, B9600, paEven, PARENB, db7, sb2, true},
      {br115200, B115200, paOdd, PARENB | PARODD, db6, sb1, false},
      {br300, B300, paMark, PARENB | PARODD | CMSPAR, db5, sb2, true},
      {br2400, B2400, paSpace, PARENB | CMSPAR, db8, sb1, false},
  };
  auto check = [&](const Case& c) {
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.SlaveFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), c.speed);
    // A pty forces CS8 and clears PARENB whatever is asked; the parity
    // kind (odd, mark, space) still shows.
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), c.parityBits & (PARODD | CMSPAR));
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.cstopb);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(tio.c_cc[VSTART], 17);
    EXPECT_EQ(tio.c_cc[VSTOP], 19);
  };
  auto configure = [&](const Case& c) {
    port.SetBaudrate(c.rate);
    port.SetParity(c.parity);
    port.SetDatabits(c.databits);
    port.SetStopbits(c.stopbits);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speed);
    configure(c);
    port.Open();
    check(c);
    port.Close();
  }
  // While open each setter applies at once.
  port.Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speed);
    configure(c);
    check(c);
  }
  // While closed nothing reaches the line.
  port.Close();
  port.SetBaudrate(br4800);
  termios tio{};
  ASSERT_EQ(tcgetattr(pty.SlaveFd(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), cases[std::size(cases) - 1].speed);
}

TEST_F(SerialPortTest, UserBaudrateRunsTheLineAtExactlyThatRate) {
  // Setting a member clears UserBaudrate; a user rate makes Baudrate brUser.
  port.SetUserBaudrate(250000);
  EXPECT_EQ(port.Baudrate(), brUser);
  port.SetBaudrate(br19200);
  EXPECT_EQ(port.UserBaudrate(), 0);

  struct Case {
    std::function<void()> set;
    unsigned rate;
    bool other;
  };
  const Case cases[] = {
      {[&] { port.SetUserBaudrate(250000); }, 250000, true},
      {[&] { port.SetUserBaudrate(12345); }, 12345, true},
      {[&] { port.SetBaudrate(br14400); }, 14400, true},
      {[&] { port.SetBaudrate(br256000); }, 256000, true},
      {[&] { port.SetUserBaudrate(57600); }, 57600, false},
  };
  port.Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    c.set();
    LineReadback line = ReadLine(pty.SlaveFd());
    ASSERT_TRUE(line.ok);
    EXPECT_EQ(line.ospeed, c.rate);
    EXPECT_EQ(line.ispeed, c.rate);
    EXPECT_EQ(line.other, c.other);
  }
}

TEST_F(SerialPortTest, SubObjectsNotifyOncePerChangeAndFlowControlReapplies) {
  int changes = 0;
  TSerialFlowControl flow;
  flow.SetOnChange([&] { ++changes; });
  flow.SetXonXoffOut(true);
  flow.SetXonXoffOut(true);  // no change
  EXPECT_EQ(changes, 1);
  flow.BeginUpdate();
  flow.SetXonXoffIn(true);
  flow.SetOutCtsFlow(true);
  EXPECT_EQ(changes, 1);
  flow.EndUpdate();
  flow.EndUpdate();  // never below zero: still notifies
  EXPECT_EQ(changes, 3);
  TSerialFlowControl other;
  flow = other;  // whole object: once
  EXPECT_EQ(changes, 4);
  EXPECT_FALSE(flow.XonXoffIn());

  int bufferChanges = 0;
  TSerialBuffers buffers;
  buffers.SetOnChange([&] { ++bufferChanges; });
  buffers.SetReadTimeout(10);
  buffers.SetWriteTimeout(10);
  EXPECT_EQ(bufferChanges, 0);
  buffers.SetWriteSize(10);
  EXPECT_EQ(bufferChanges, 1);

  port.Open();
  port.FlowControl().SetXonXoffOut(true);
  port.EventChars().SetXonChar(0x11 + 1);
  LineReadback line = ReadLine(pty.SlaveFd());
  EXPECT_TRUE(line.ixon);
  EXPECT_EQ(line.vstart, 0x12);
  EXPECT_EQ(ErrorOf([&] { port.FlowControl().SetControlRts(rtsToggle); }),
            "Error writing dcb (22), Invalid argument");  // refused at once
  EXPECT_EQ(ErrorOf([&] { port.FlowControl().SetControlRts(rtsDisabled); }), "");
}

TEST_F(SerialPortTest, ReadsNeverBlockAndAClosedPortDoesNothing) {
  char buffer[16];
  EXPECT_EQ(port.ReadData(buffer, sizeof buffer), 0);
  EXPECT_FALSE(port.WriteString("x"));
  EXPECT_FALSE(port.WriteByte(1));
  EXPECT_EQ(port.InQueueCount(), 0);
  port.Open();
  EXPECT_EQ(port.ReadData(buffer, sizeof buffer), 0);  // empty queue: at once
  pty.Send("abc");
  ASSERT_TRUE(WaitUntil([&] { return port.InQueueCount() == 3; }));
  EXPECT_EQ(port.ReadData(buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "ab");
  EXPECT_EQ(port.ReadData(buffer, sizeof buffer), 1);
  EXPECT_EQ(port.ReadData(buffer, sizeof buffer), 0);
}

TEST_F(SerialPortTest, ReceivedBytesArriveThroughOnRxCharInOrder) {
  CollectReceived();
  std::string sent;
  for (int i = 0; i < 3000; ++i) sent.push_back(static_cast<char>(i * 7));
  // Bytes queued before the open came in under the line's old settings: the
  // open throws them away.
  pty.Send("stale");
  ASSERT_TRUE(WaitUntil([&] {
    int queued = 0;
    return ::ioctl(pty.SlaveFd(), FIONREAD, &queued) == 0 && queued == 5;
  }));
  port.Open();
  for (std::size_t at = 0; at < sent.size();) {
    const std::size_t n = std::min<std::size_t>(1 + at % 97, sent.size() - at);
    pty.Send(sent.substr(at, n));
    at += n;
  }
  ASSERT_TRUE(WaitUntil([&] { return received.size() >= sent.size(); }));
  EXPECT_EQ(received, sent);
}

TEST_F(SerialPortTest, BytesLeftInTheQueueComeAgainWithTheNextByte) {
  std::vector<int> counts;
  port.OnRxChar = [&](TCustomSerialPort* sender, int count) {
    counts.push_back(count);
    char buffer[2];
    sender->ReadData(buffer, 2);  // takes only two
  };
  port.Open();
  pty.Send("12345");
  ASSERT_TRUE(WaitUntil([&] { return !counts.empty(); }));
  pty.Send("6");
  ASSERT_TRUE(WaitUntil([&] { return counts.size() >= 2 && counts.back() == 4; }, 1000))
      << ::testing::PrintToString(counts);
}

TEST_F(SerialPortTest, ExceptionsFromHandlersDoNotStopTheEventThread) {
  std::vector<std::string> reports;
  port.OnHandlerException = [&](const std::exception& e) { reports.push_back(e.what()); };
  CollectReceived();
  auto collect = port.OnRxChar;
  port.OnRxChar = [&](TCustomSerialPort* sender, int count) {
    collect(sender, count);
    throw std::runtime_error("handler failed");
  };
  port.Open();
  pty.Send("a");
  ASSERT_TRUE(WaitUntil([&] { return reports.size() == 1; }));
  pty.Send("b");
  ASSERT_TRUE(WaitUntil([&] { return received == "ab"; }));
  EXPECT_EQ(reports[0], "handler failed");
}

// Closes the port when the event thread's hand-over is delivered, before the
// dispatch runs: that dispatch was already waiting when Close ran.
class CloseOnDelivery : public QObject {
 public:
  explicit CloseOnDelivery(TSerialPort& port) : m_port(port) {}
  bool eventFilter(QObject*, QEvent* event) override {
    // The port first: once it is closed no event is looked at. Events come
    // from other threads through Qt's own locks, which ThreadSanitizer does
    // not see, so every read of one is a possible false report.
    if (m_port.IsOpen() && event->type() == QEvent::MetaCall) {
      m_port.Close();
      ++closes;
    }
    return false;
  }
  int closes = 0;

 private:
  TSerialPort& m_port;
};

TEST_F(SerialPortTest, ANotificationArrivingAfterCloseDeliversNothing) {
  CollectReceived();
  CloseOnDelivery closer(port);
  port.installEventFilter(&closer);
  port.Open();
  pty.Send("late");
  ASSERT_TRUE(WaitUntil([&] { return closer.closes == 1; }));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(notifications, 0);

  // The abandoned thread is gone for good; a new session works.
  // (what was left unread goes with the next open)
  port.removeEventFilter(&closer);
  port.Open();
  pty.Send("!");
  ASSERT_TRUE(WaitUntil([&] { return received == "!"; }));
}

TEST_F(SerialPortTest, DestroyingThePortWhileANotificationWaitsIsSafe) {
  auto doomed = std::make_unique<TSerialPort>();
  doomed->SetDeviceName(pty.SlavePath());
  doomed->SetDirectWrite(true);
  int calls = 0;
  doomed->OnRxChar = [&](TCustomSerialPort*, int) { ++calls; };
  doomed->Open();
  pty.Send("x");
  // Wait outside the event loop (on the fixture's own descriptor of the same
  // line) until the byte is there; the event thread hands it over to a loop
  // that does not run before the port is gone.
  pollfd fd{pty.SlaveFd(), POLLIN, 0};
  ASSERT_EQ(poll(&fd, 1, 5000), 1);
  doomed.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(calls, 0);
  // The device is free again.
  port.Open();
  EXPECT_TRUE(port.IsOpen());
}

// The device keeps sending while ports come and go: each port goes away while
// its event thread is about to post the next hand-over (or is posting it).
// The destructor must stop the session before any part of the object is torn
// down; the sanitizer builds catch a call into a half-destroyed port.
TEST_F(SerialPortTest, DestroyingThePortWhileItsEventThreadPostsIsSafe) {
  std::atomic<bool> stop{false};
  std::thread device([&] {
    while (!stop) {
      pollfd out{pty.MasterFd(), POLLOUT, 0};
      if (poll(&out, 1, 10) == 1) {
        [[maybe_unused]] const ssize_t n = ::write(pty.MasterFd(), "x", 1);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  int handed = 0;
  for (int i = 0; i < 40; ++i) {
    auto doomed = std::make_unique<TSerialPort>();
    doomed->SetDeviceName(pty.SlavePath());
    doomed->SetDirectWrite(true);
    int calls = 0;
    doomed->OnRxChar = [&calls](TCustomSerialPort* sender, int count) {
      ++calls;
      std::string chunk(static_cast<std::size_t>(count), '\0');
      sender->ReadData(chunk.data(), count);
    };
    doomed->Open();
    EXPECT_TRUE(WaitUntil([&] { return calls >= 1 + i % 3; }));
    handed += calls;
    doomed.reset();
    QCoreApplication::processEvents();
  }
  stop = true;
  device.join();
  EXPECT_GE(handed, 40);
  port.Open();
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialPortTest, PurgeEmptiesTheInputQueue) {
  port.Open();
  pty.Send("discard me");
  ASSERT_TRUE(WaitUntil([&] { return port.InQueueCount() == 10; }));
  port.PurgeAll();
  EXPECT_EQ(port.InQueueCount(), 0);
  char buffer[16];
  EXPECT_EQ(port.ReadData(buffer, sizeof buffer), 0);
}

// The command exchanges purge before each step: what was written and
// drained before must still reach the device. On a pseudo-terminal an
// output flush empties the other side's input, which lost a byte or two
// in every few thousand of these.
TEST_F(SerialPortTest, PurgeKeepsWhatHasLeftThePort) {
  port.Open();
  std::string sent;
  for (int i = 0; i < 3000; ++i) {
    const auto byte = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(port.WriteByte(byte));
    port.Drain();
    port.PurgeAll();
    sent.push_back(static_cast<char>(byte));
  }
  const std::string got = pty.Receive(sent.size());
  EXPECT_EQ(got.size(), sent.size());
  EXPECT_TRUE(got == sent);
}

TEST_F(SerialPortTest, ADirectWriteGivesUpOnAFullLineAndThePortStillWorks) {
  port.Buffers().SetReadTimeout(200);
  port.Open();
  // Nobody reads the master side: the queue fills and the write gives up.
  const std::string big(1 << 20, 'Z');
  EXPECT_EQ(port.WriteData(big.data(), static_cast<int>(big.size())), 0);
  EXPECT_FALSE(port.WriteString(big));
  // The device starts reading again.
  std::string drained;
  ASSERT_TRUE(WaitUntil([&] {
    drained += pty.ReadAvailable();
    return port.ReadErrors().outQueue == 0 && pty.ReadAvailable().empty();
  }));
  EXPECT_TRUE(port.WriteString("ok?"));
  EXPECT_EQ(pty.Receive(3), "ok?");
}

TEST_F(SerialPortTest, BufferedWritesGoOutThroughTheWriteThread) {
  port.SetDirectWrite(false);
  port.Buffers().SetWriteSize(64);
  port.Buffers().SetWriteTimeout(50);
  int txEmpty = 0;
  port.OnTxEmpty = [&](TCustomSerialPort*) { ++txEmpty; };
  port.Open();
  EXPECT_EQ(port.EventMask() & EV_TXEMPTY, 0u);  // the write thread reports it
  ASSERT_TRUE(port.WriteString("hello"));
  EXPECT_EQ(pty.Receive(5), "hello");
  ASSERT_TRUE(WaitUntil([&] { return txEmpty >= 1; }));
  // Larger than the buffer can ever hold.
  EXPECT_EQ(ErrorOf([&] { port.WriteString(std::string(65, 'x')); }),
            "Output buffer is full. Please check comm status.");
  port.Close();
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortTest, PurgeDropsWhatTheWriteThreadStillHolds) {
  port.SetDirectWrite(false);
  port.Buffers().SetWriteSize(1 << 20);
  port.Open();
  // Nobody reads: the line fills and most of this waits in the write buffer.
  const std::string big(1 << 20, 'Q');
  ASSERT_TRUE(port.WriteString(big));
  port.PurgeAll();
  ASSERT_TRUE(port.WriteString("after"));
  std::string drained;
  ASSERT_TRUE(WaitUntil([&] {
    drained += pty.ReadAvailable();
    return drained.size() >= 5 && drained.compare(drained.size() - 5, 5, "after") == 0;
  }));
  EXPECT_LT(drained.size(), big.size());
}

// For a moment after a pull a pseudo-terminal (and a USB adapter) answers a
// read with EIO before it reads as hung up. Such a read is the loss, which
// is told on its own, not an error of the receiver: that printed an extra
// "Exception receiving - Read error (5)" line now and then.
TEST_F(SerialPortTest, ReadsAroundThePullAreNoError) {
  int errors = 0;
  for (int i = 0; i < 200; ++i) {
    PtyPair line;
    TSerialPort pulled;
    pulled.SetDeviceName(line.SlavePath());
    pulled.Open();
    std::thread pull([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      line.CloseMaster();
    });
    char buffer[8];
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(3);
    while (std::chrono::steady_clock::now() < until)
      if (!ErrorOf([&] { pulled.ReadData(buffer, sizeof buffer); }).empty()) ++errors;
    pull.join();
  }
  EXPECT_EQ(errors, 0);
}

TEST_F(SerialPortTest, DeviceLossIsToldOnceAndWithoutAHandlerClosesThePort) {
  int lost = 0;
  port.OnDeviceLost = [&](TCustomSerialPort* sender) {
    ++lost;
    sender->Close();
  };
  port.Open();
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return lost == 1; }));
  EXPECT_FALSE(port.IsOpen());

  PtyPair other;
  TSerialPort plain;
  plain.SetDeviceName(other.SlavePath());
  plain.Open();
  other.CloseMaster();
  EXPECT_TRUE(WaitUntil([&] { return !plain.IsOpen(); }));
}

}  // namespace
