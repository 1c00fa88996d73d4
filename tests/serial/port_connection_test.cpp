// The port connection's texts and states, on real pseudo-terminals.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "line_readback.h"
#include "port_connection.h"
#include "pty_pair.h"

namespace {

class RecordingView : public PortView {
 public:
  void AppendLog(const std::string& line) override { log.push_back(line); }
  void SetStatusText(const std::string& text) override { status = text; }
  void SetPortControlsEnabled(bool enabled) override { controlsEnabled = enabled; }
  void SetConnectCaption(const std::string& caption) override { this->caption = caption; }

  std::vector<std::string> log;
  std::string status;
  bool controlsEnabled = true;
  std::string caption = "Connect to port";
};

class PortConnectionTest : public ::testing::Test {
 protected:
  PortConnectionTest()
      : connection(
            comm, [this] { return settings; }, view) {
    comm.SetDirectWrite(true);
    settings = {pty.SlavePath(), "19200", "None"};
  }

  PtyPair pty;
  TSerialPort comm;
  PortSettings settings;
  RecordingView view;
  PortConnection connection;
};

TEST(PortNames, MapOntoDevicePaths) {
  const std::pair<std::string, std::string> cases[] = {
      {"COM1", "/dev/ttyS0"},      {"COM3", "/dev/ttyS2"},
      {"COM50", "/dev/ttyS49"},    {"/dev/pts/7", "/dev/pts/7"},
      {"ttyUSB0", "/dev/ttyUSB0"}, {"/dev/serial/by-id/usb-x", "/dev/serial/by-id/usb-x"},
      {"COM", "/dev/COM"},         {"COMX", "/dev/COMX"},
      {"COM0", "/dev/COM0"},       {"", ""},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(DevicePathForPortName(name), path) << name;
}

TEST_F(PortConnectionTest, ConnectAndDisconnectShowTheirTexts) {
  connection.TogglePortConnection();
  const std::string open = pty.SlavePath() + " - 19200,8,None";
  ASSERT_TRUE(connection.PortOpen());
  EXPECT_TRUE(comm.IsOpen());
  EXPECT_EQ(view.status, open);
  EXPECT_EQ(view.log, std::vector<std::string>{open});
  EXPECT_FALSE(view.controlsEnabled);
  EXPECT_EQ(view.caption, "Disconnect");
  EXPECT_EQ(comm.Baudrate(), br19200);
  EXPECT_EQ(comm.Databits(), db8);
  EXPECT_EQ(comm.Stopbits(), sb1);

  connection.TogglePortConnection();
  EXPECT_FALSE(connection.PortOpen());
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(view.status, pty.SlavePath() + " is closed");
  EXPECT_TRUE(view.controlsEnabled);
  EXPECT_EQ(view.caption, "Connect to port");

  // The next connect uses whatever the controls show then.
  settings.speed = "9600";
  settings.parity = "Odd";
  connection.TogglePortConnection();
  EXPECT_EQ(view.status, pty.SlavePath() + " - 9600,8,Odd");
  EXPECT_EQ(comm.Baudrate(), br9600);
  EXPECT_EQ(comm.Parity(), paOdd);
}

TEST_F(PortConnectionTest, TypedSpeedsOpenTheLineAtExactlyThatRate) {
  const std::pair<std::string, unsigned> cases[] = {{"19200", 19200},   {"14400", 14400}, {"600", 600},
                                                    {"250000", 250000}, {"57600", 57600}, {" 2400 ", 2400}};
  for (const auto& [speed, rate] : cases) {
    SCOPED_TRACE(speed);
    settings.speed = speed;
    connection.TogglePortConnection();
    ASSERT_TRUE(connection.PortOpen());
    EXPECT_EQ(view.status, pty.SlavePath() + " - " + speed + ",8,None");
    LineReadback line = ReadLine(pty.SlaveFd());
    EXPECT_EQ(line.ospeed, rate);
    connection.TogglePortConnection();
  }
}

TEST_F(PortConnectionTest, ParityIsComparedWithoutRegardToCase) {
  const std::pair<std::string, TParity> cases[] = {
      {"None", paNone}, {"none", paNone},   {"NONE", paNone},  {"odd", paOdd}, {"Even", paEven},
      {"mark", paMark}, {"SPACE", paSpace}, {"bogus", paEven}, {"", paEven},
  };
  for (const auto& [parity, expected] : cases) {
    SCOPED_TRACE(parity);
    settings.parity = parity;
    connection.TogglePortConnection();
    ASSERT_TRUE(connection.PortOpen());
    EXPECT_EQ(comm.Parity(), expected);
    EXPECT_EQ(view.status, pty.SlavePath() + " - 19200,8," + parity);
    connection.TogglePortConnection();
  }
  // What a pty carries of it: mark is odd stick parity.
  settings.parity = "mark";
  connection.TogglePortConnection();
  LineReadback line = ReadLine(pty.SlaveFd());
  EXPECT_TRUE(line.cmspar);
  EXPECT_TRUE(line.parodd);
}

TEST_F(PortConnectionTest, ProbeFailuresSayWhatHappened) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string missing = dir.filePath("ttyGone").toStdString();

  TSerialPort holder;
  holder.SetDeviceName(pty.SlavePath());
  holder.Open();

  const std::pair<std::string, std::string> cases[] = {
      {pty.SlavePath(), "The selected serial port (" + pty.SlavePath() + ") is in use by another program!"},
      {missing, "The selected serial port (" + missing + ") does not exist!"},
      {"", "The selected serial port () does not exist!"},
  };
  for (const auto& [name, line] : cases) {
    SCOPED_TRACE(name);
    view.log.clear();
    settings.name = name;
    // A command finds the port closed: it tries, fails, and says so each time.
    EXPECT_FALSE(connection.EnsurePortOpen());
    EXPECT_FALSE(connection.EnsurePortOpen());
    EXPECT_EQ(view.log, (std::vector<std::string>{line, line}));
    EXPECT_EQ(view.status, name + " is closed");
    EXPECT_FALSE(connection.PortOpen());
    EXPECT_FALSE(comm.IsOpen());
  }
}

// A port name with a line break (or another control character) must not
// forge a log line: it is shown escaped, in the failure lines, the status and
// the line of an open port alike.
TEST_F(PortConnectionTest, ControlCharactersInPortNamesAreShownEscaped) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString();
  const std::string missing = folder + "/gone\n12:00:00 forged";
  const std::string linked = folder + "/tty\x1b[2Jodd\tname";
  ASSERT_EQ(::symlink(pty.SlavePath().c_str(), linked.c_str()), 0);

  settings.name = missing;
  EXPECT_FALSE(connection.EnsurePortOpen());
  EXPECT_EQ(view.log, (std::vector<std::string>{"The selected serial port (" + folder +
                                                "/gone\\n12:00:00 forged) does not exist!"}));
  EXPECT_EQ(view.status, folder + "/gone\\n12:00:00 forged is closed");

  view.log.clear();
  settings.name = linked;
  connection.TogglePortConnection();
  ASSERT_TRUE(connection.PortOpen());
  const std::string shown = folder + "/tty\\x1B[2Jodd\\tname";
  EXPECT_EQ(view.log, (std::vector<std::string>{shown + " - 19200,8,None"}));
  connection.TogglePortConnection();
  EXPECT_EQ(view.status, shown + " is closed");
  for (const std::string& line : view.log)
    for (const char c : line) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20) << line;
}

// A speed text with a line break reaches the caller escaped as well.
TEST_F(PortConnectionTest, ASpeedWithALineBreakIsReportedEscaped) {
  settings.speed = "96\n00";
  try {
    connection.TogglePortConnection();
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "'96\\n00' is not a valid integer value");
  }
}

TEST(ProbeTexts, NoPermissionTellsHowToGetAccess) {
  // Root opens anything, so the permission case is checked on its texts.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("ttyLocked").toStdString();
  std::ofstream(path).put('x');
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  const group* owner = getgrgid(st.st_gid);
  ASSERT_NE(owner, nullptr);
  const std::string group = owner->gr_name;

  EXPECT_EQ(ClassifyProbeError(EACCES), ProbeResult::NoPermission);
  EXPECT_EQ(ClassifyProbeError(EBUSY), ProbeResult::Busy);
  EXPECT_EQ(ClassifyProbeError(EWOULDBLOCK), ProbeResult::Busy);
  EXPECT_EQ(ClassifyProbeError(ENOENT), ProbeResult::Missing);
  EXPECT_EQ(ClassifyProbeError(EIO), ProbeResult::Failed);

  // The real owner and mode of the file are read: the group may read and
  // write, so joining it is what helps (unless it is root's own group).
  ASSERT_EQ(chmod(path.c_str(), 0660), 0);
  const std::vector<std::string> lines = ProbeFailureLines(ProbeResult::NoPermission, "COM3", path, EACCES);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "No permission to open the selected serial port (COM3)!");
  const DeviceAccess real{group, st.st_gid, 0660};
  EXPECT_EQ(lines[1], PermissionHint(path, &real));
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  const DeviceAccess locked{group, st.st_gid, 0600};
  EXPECT_EQ(ProbeFailureLines(ProbeResult::NoPermission, "COM3", path, EACCES)[1],
            PermissionHint(path, &locked));
  // A device that cannot be looked at: the usual group.
  EXPECT_NE(
      ProbeFailureLines(ProbeResult::NoPermission, "COM9", "/nonexistent/ttyS8", EACCES)[1].find("dialout"),
      std::string::npos);
  EXPECT_EQ(ProbeFailureLines(ProbeResult::Failed, "COM2", "/dev/ttyS1", EIO),
            std::vector<std::string>{
                "The selected serial port (COM2) could not be opened (Error 5, Input/output error)!"});
}

TEST(ProbeTexts, PermissionHintNamesOnlyAGroupThatGrantsAccess) {
  const struct {
    DeviceAccess access;
    const char* has;
    const char* hasNot;
  } cases[] = {
      {{"dialout", 20, 0660}, "usermod -aG dialout $USER", "administrator"},
      {{"uucp", 14, 0620 | 040}, "usermod -aG uucp", "administrator"},
      {{"root", 0, 0600}, "(group root, mode 0600) is open to no group", "usermod"},
      {{"root", 0, 0660}, "(group root, mode 0660)", "usermod"},
      {{"dialout", 20, 0640}, "(group dialout, mode 0640) is open to no group", "usermod"},
      {{"", 4242, 0600}, "(group 4242, mode 0600)", "usermod"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.has);
    const std::string hint = PermissionHint("/dev/ttyUSB0", &c.access);
    EXPECT_NE(hint.find(c.has), std::string::npos) << hint;
    EXPECT_EQ(hint.find(c.hasNot), std::string::npos) << hint;
  }
}

TEST_F(PortConnectionTest, AFailedOpenIsLoggedAndReleasesTheDevice) {
  settings.speed = "0";  // a rate no line can run at
  connection.TogglePortConnection();
  EXPECT_FALSE(connection.PortOpen());
  EXPECT_EQ(view.log, std::vector<std::string>{"Unknown Exception on opening serial port..."});
  EXPECT_EQ(view.status, pty.SlavePath() + " is closed");
  EXPECT_EQ(view.caption, "Connect to port");
  TSerialPort other;
  other.SetDeviceName(pty.SlavePath());
  other.Open();
  EXPECT_TRUE(other.IsOpen());
}

// A device that opens and then refuses its line settings (COM3 with no
// UART behind it gives EIO; a plain file gives ENOTTY): the usual line, and
// what the system said.
TEST_F(PortConnectionTest, ARefusedLineSettingSaysWhatTheSystemReported) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string file = dir.filePath("ttyNoUart").toStdString();
  std::ofstream(file).put('x');
  settings.name = file;
  connection.TogglePortConnection();
  EXPECT_FALSE(connection.PortOpen());
  EXPECT_EQ(view.log, (std::vector<std::string>{"Unknown Exception on opening serial port...",
                                                "Setting the line of " + file +
                                                    " failed in the system: Error 25, Inappropriate ioctl "
                                                    "for device"}));
}

// A speed or parity the driver kept otherwise is no open line.
TEST(LineReadBack, ASpeedOrParityTheDriverDidNotTakeIsNamed) {
  const auto line = [](int speed, LineConfig::Parity parity) {
    LineConfig c;
    c.baudrate = speed;
    c.parity = parity;
    return c;
  };
  struct Case {
    LineConfig asked;
    LineTaken taken;
    std::string text;
  };
  const std::string notTaken = "The driver of /dev/ttyS1 runs the line at ";
  const Case cases[] = {
      {line(19200, LineConfig::None), {19200, 19200, LineConfig::None}, ""},
      {line(250000, LineConfig::Even), {250000, 250000, LineConfig::Even}, ""},
      {line(14400, LineConfig::None), {14390, 14390, LineConfig::None}, ""},  // within a UART's 2 %
      {line(230400, LineConfig::None),
       {115200, 115200, LineConfig::None},
       notTaken + "115200 bit/s, parity None, not at the 230400 bit/s, parity None asked for"},
      {line(19200, LineConfig::None),
       {19200, 9600, LineConfig::None},
       notTaken + "9600 bit/s, parity None, not at the 19200 bit/s, parity None asked for"},
      {line(9600, LineConfig::Mark),
       {9600, 9600, LineConfig::Odd},
       notTaken + "9600 bit/s, parity Odd, not at the 9600 bit/s, parity Mark asked for"},
      // A pseudo-terminal keeps no parity bit, and needs none.
      {line(9600, LineConfig::Space), {9600, 9600, LineConfig::None, true}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LineNotTaken("/dev/ttyS1", c.asked, c.taken), c.text);
}

TEST_F(PortConnectionTest, ASpeedThatIsNoNumberReachesTheCaller) {
  settings.speed = "fast";
  EXPECT_THROW(connection.EnsurePortOpen(), std::invalid_argument);
  EXPECT_FALSE(connection.PortOpen());
  EXPECT_FALSE(comm.IsOpen());
}

TEST_F(PortConnectionTest, EnsurePortOpenOpensOnceAndPurgesEachTime) {
  ASSERT_TRUE(connection.EnsurePortOpen());
  ASSERT_EQ(view.log.size(), 1u);
  pty.Send("stale");
  ASSERT_TRUE(WaitUntil([&] { return comm.InQueueCount() == 5; }));
  ASSERT_TRUE(connection.EnsurePortOpen());
  EXPECT_EQ(comm.InQueueCount(), 0);
  EXPECT_EQ(view.log.size(), 1u);  // no second open
}

TEST_F(PortConnectionTest, ADeviceThatGoesAwayClosesThePortUntilTheNextConnect) {
  ASSERT_TRUE(connection.EnsurePortOpen());
  const std::string name = settings.name;
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return !connection.PortOpen(); }));
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(view.status, name + " is closed");
  EXPECT_EQ(view.log.back(), "The serial port (" + name + ") was disconnected!");
  EXPECT_TRUE(view.controlsEnabled);
  EXPECT_EQ(view.caption, "Connect to port");

  // The device is back (here under a new pty): the next command reopens.
  PtyPair back;
  settings.name = back.SlavePath();
  ASSERT_TRUE(connection.EnsurePortOpen());
  EXPECT_TRUE(comm.WriteString("again"));
  EXPECT_EQ(back.Receive(5), "again");
}

}  // namespace
