// A lost device coming back: the identity lookup on a scratch /dev and /sys
// tree, and the port connection's watch on real pseudo-terminals standing in
// for the devices (the scratch tree's ttyUSBn are links to them).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "device_tree.h"
#include "port_connection.h"
#include "pty_pair.h"

namespace fs = std::filesystem;

namespace {

// A scratch root with dev/ and sys/ laid out as udev and the kernel do.
class ScratchTree {
 public:
  ScratchTree() : root(dir.path().toStdString()), tree(DeviceTree::AtRoot(root)) {
    fs::create_directories(root + "/dev");
    fs::create_directories(root + "/sys/class/tty");
  }

  struct Usb {
    std::string vendor, product, serial, usbPath = "1-1", interface = "00";
  };

  // A USB serial adapter as tty `name`, its node a link to `target`; with
  // `byId`, the udev link too.
  void Plug(const std::string& name, const std::string& target, const Usb& usb,
            const std::string& byId = "") {
    const fs::path usbDir = fs::path(root) / "sys/devices/pci0/usb1" / usb.usbPath;
    const fs::path ifDir = usbDir / (usb.usbPath + ":1." + usb.interface);
    fs::create_directories(ifDir / name);
    Write(usbDir / "idVendor", usb.vendor);
    Write(usbDir / "idProduct", usb.product);
    if (!usb.serial.empty()) Write(usbDir / "serial", usb.serial);
    Write(ifDir / "bInterfaceNumber", usb.interface);
    const fs::path classDir = fs::path(root) / "sys/class/tty" / name;
    fs::create_directories(classDir);
    fs::create_symlink(fs::relative(ifDir / name, classDir), classDir / "device");
    fs::create_symlink(target, fs::path(root) / "dev" / name);
    if (!byId.empty()) {
      fs::create_directories(root + "/dev/serial/by-id");
      fs::create_symlink("../../" + name, fs::path(root) / "dev/serial/by-id" / byId);
    }
  }

  // Pulled out: the node, its by-id link and its sysfs entries go.
  void Unplug(const std::string& name) {
    std::error_code ec;
    fs::remove(fs::path(root) / "dev" / name, ec);
    for (fs::directory_iterator it(root + "/dev/serial/by-id", ec), end; !ec && it != end; it.increment(ec))
      if (KernelName(it->path().string()) == name) fs::remove(it->path(), ec);
    fs::remove_all(fs::path(root) / "sys/class/tty" / name, ec);
    fs::remove_all(fs::path(root) / "sys/devices", ec);
  }

  std::string Dev(const std::string& name) const { return root + "/dev/" + name; }

  QTemporaryDir dir;
  std::string root;
  DeviceTree tree;

 private:
  static void Write(const fs::path& p, const std::string& text) { std::ofstream(p) << text << "\n"; }
};

const ScratchTree::Usb kKorvex{"0403", "6001", "KX0042"};

TEST(DeviceTree, IdentityKernelNameAndStableName) {
  ScratchTree t;
  PtyPair a, b, c;
  t.Plug("ttyUSB0", a.SlavePath(), kKorvex, "usb-Velmora_Korvex_KX0042-if00-port0");
  // No serial number: told apart by the USB port it sits in.
  t.Plug("ttyACM3", b.SlavePath(), {"1a86", "7523", "", "1-2", "00"});
  const std::string byId = t.root + "/dev/serial/by-id/usb-Velmora_Korvex_KX0042-if00-port0";

  EXPECT_EQ(KernelName(byId), "ttyUSB0");
  EXPECT_EQ(KernelName(t.Dev("ttyUSB0")), "ttyUSB0");
  EXPECT_EQ(ByIdPathFor(t.tree, "ttyUSB0"), byId);
  EXPECT_EQ(ByIdPathFor(t.tree, "ttyACM3"), "");

  const UsbIdentity korvex = IdentityOf(t.tree, "ttyUSB0");
  ASSERT_TRUE(korvex.Valid());
  EXPECT_EQ(korvex.vendor, "0403");
  EXPECT_EQ(korvex.serial, "KX0042");
  EXPECT_EQ(korvex.interface, "00");
  EXPECT_FALSE(IdentityOf(t.tree, "ttyUSB7").Valid());  // not there
  EXPECT_FALSE(IdentityOf(t.tree, "../ttyUSB0").Valid());

  const struct {
    UsbIdentity other;
    bool same;
  } cases[] = {
      {korvex, true},
      {{"0403", "6001", "KX0042", "00", "3-4"}, true},   // another USB port, same serial
      {{"0403", "6001", "KX0043", "00", "1-1"}, false},  // another adapter of the make
      {{"0403", "6001", "KX0042", "01", "1-1"}, false},  // its second port
      {{"0403", "6015", "KX0042", "00", "1-1"}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.other == korvex, c.same) << c.other.serial << c.other.usbPath;
  const UsbIdentity cheap = IdentityOf(t.tree, "ttyACM3");
  EXPECT_TRUE((cheap == UsbIdentity{"1a86", "7523", "", "00", "1-2"}));
  EXPECT_FALSE((cheap == UsbIdentity{"1a86", "7523", "", "00", "1-3"}));

  for (const auto& [name, usb] : std::vector<std::pair<std::string, bool>>{
           {"ttyUSB0", true}, {"ttyACM12", true}, {"ttyS0", false}, {"ttyUSB", false}, {"ttyUSBx", false}})
    EXPECT_EQ(IsUsbTtyName(name), usb) << name;

  // Pulled out and back as ttyUSB1, while another adapter took ttyUSB0:
  // found by identity, in the form the port was named.
  const DeviceRecord bare = DescribeDevice(t.tree, "ttyUSB0", t.Dev("ttyUSB0"));
  const DeviceRecord full = DescribeDevice(t.tree, t.Dev("ttyUSB0"), t.Dev("ttyUSB0"));
  const DeviceRecord stable = DescribeDevice(t.tree, byId, byId);
  EXPECT_EQ(stable.identity, korvex);
  t.Unplug("ttyUSB0");
  EXPECT_EQ(FindDevice(t.tree, full), std::nullopt);
  EXPECT_EQ(FindDevice(t.tree, stable), std::nullopt);
  t.Plug("ttyUSB0", c.SlavePath(), {"0403", "6001", "OTHER1"});
  EXPECT_EQ(FindDevice(t.tree, full), std::nullopt) << "another adapter under the old name";
  t.Plug("ttyUSB1", a.SlavePath(), {"0403", "6001", "KX0042", "1-4"}, "usb-Velmora_Korvex_KX0042-if00-port0");
  EXPECT_EQ(FindDevice(t.tree, full), t.Dev("ttyUSB1"));
  EXPECT_EQ(FindDevice(t.tree, bare), "ttyUSB1");
  EXPECT_EQ(FindDevice(t.tree, stable), byId);
}

// As the window does: the port name box is what the connection reads.
class RecordingView : public PortView {
 public:
  explicit RecordingView(PortSettings& settings) : settings(settings) {}
  void AppendLog(const std::string& line) override { log.push_back(line); }
  void SetStatusText(const std::string& text) override { status = text; }
  void SetPortControlsEnabled(bool) override {}
  void SetConnectCaption(const std::string& text) override { caption = text; }
  void SetPortName(const std::string& name) override { settings.name = name; }

  size_t Count(const std::string& line) const { return std::count(log.begin(), log.end(), line); }
  PortSettings& settings;
  std::vector<std::string> log;
  std::string status, caption;
};

class Reconnect : public ::testing::Test {
 protected:
  Reconnect()
      : connection(
            comm, [this] { return settings; }, view) {
    comm.SetDirectWrite(true);
    settings.name = t.Dev("ttyUSB0");
    connection.Watcher().SetDeviceTree(t.tree);
    // Short times; the fallback still comes round well within a wait.
    connection.Watcher().SetTimes(20, 300);
  }
  std::string Back(const std::string& name) const {
    return "The serial port (" + name + ") is back, reconnected.";
  }
  std::string Lost(const std::string& name) const {
    return "The serial port (" + name + ") was disconnected!";
  }
  std::string Open(const std::string& name) const { return name + " - 19200,8,None"; }

  ScratchTree t;
  std::unique_ptr<PtyPair> device = std::make_unique<PtyPair>();
  TSerialPort comm;
  PortSettings settings{"", "19200", "None"};
  RecordingView view{settings};
  PortConnection connection;
};

TEST_F(Reconnect, SamePathAndNewNameByIdentityEachOpenAsConnectWould) {
  t.Plug("ttyUSB0", device->SlavePath(), kKorvex, "usb-Velmora_Korvex_KX0042-if00-port0");
  ASSERT_TRUE(connection.EnsurePortOpen());
  const std::string first = t.Dev("ttyUSB0");
  // Connected by its changing name: the stable one is pointed out, once.
  EXPECT_EQ(view.log, (std::vector<std::string>{
                          Open(first), "Tip: this device is also " + t.root +
                                           "/dev/serial/by-id/usb-Velmora_Korvex_KX0042-if00-port0, which "
                                           "keeps its name when re-plugged"}));

  // Back at the same path.
  t.Unplug("ttyUSB0");
  device->CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return connection.Watching(); }));
  EXPECT_EQ(view.status, first + " is closed");
  EXPECT_EQ(view.caption, "Connect to port");
  device = std::make_unique<PtyPair>();
  t.Plug("ttyUSB0", device->SlavePath(), kKorvex);
  ASSERT_TRUE(WaitUntil([&] { return connection.PortOpen(); }, 10000));
  EXPECT_FALSE(connection.Watching());
  EXPECT_EQ(view.status, Open(first));
  EXPECT_EQ(view.caption, "Disconnect");
  const std::vector<std::string> once{Lost(first), Back(first), Open(first)};
  EXPECT_EQ(std::vector<std::string>(view.log.end() - 3, view.log.end()), once) << "no tip when reconnecting";
  device->Send("abc");
  ASSERT_TRUE(WaitUntil([&] { return comm.InQueueCount() == 3; }));

  // Back as ttyUSB1 after another adapter took ttyUSB0 in between.
  t.Unplug("ttyUSB0");
  device->CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return connection.Watching(); }));
  PtyPair stranger;
  t.Plug("ttyUSB0", stranger.SlavePath(), {"0403", "6001", "OTHER1"});
  device = std::make_unique<PtyPair>();
  t.Plug("ttyUSB1", device->SlavePath(), {"0403", "6001", "KX0042", "1-3"});
  const std::string second = t.Dev("ttyUSB1");
  ASSERT_TRUE(WaitUntil([&] { return connection.PortOpen(); }, 10000));
  EXPECT_EQ(settings.name, second);
  EXPECT_EQ(view.log.back(), Open(second));
  EXPECT_EQ(view.Count(Back(second)), 1u);
  EXPECT_TRUE(comm.WriteString("hi"));
  EXPECT_EQ(device->Receive(2), "hi");
  EXPECT_EQ(stranger.ReadAvailable(), "");
}

TEST_F(Reconnect, BusyReturnIsToldOnceAndTheWatchGoesOn) {
  t.Plug("ttyUSB0", device->SlavePath(), kKorvex);
  ASSERT_TRUE(connection.EnsurePortOpen());
  t.Unplug("ttyUSB0");
  device->CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return connection.Watching(); }));

  device = std::make_unique<PtyPair>();
  int error = 0;
  UniqueFd other = OpenSerialDevice(device->SlavePath(), error);  // another program holds it
  ASSERT_TRUE(other.Valid()) << error;
  t.Plug("ttyUSB0", device->SlavePath(), kKorvex);
  const std::string busy = "The selected serial port (" + settings.name + ") is in use by another program!";
  ASSERT_TRUE(WaitUntil([&] { return view.Count(busy) == 1; }, 10000));
  // Several more looks (fallback ticks) tell nothing new.
  const size_t lines = view.log.size();
  ASSERT_FALSE(WaitUntil([&] { return view.log.size() != lines || connection.PortOpen(); }, 1000));
  EXPECT_TRUE(connection.Watching());

  ReleaseSerialDevice(other.Get());
  other.Reset();
  ASSERT_TRUE(WaitUntil([&] { return connection.PortOpen(); }, 10000));
  EXPECT_EQ(view.Count(busy), 1u);
  EXPECT_EQ(view.log.back(), Open(settings.name));
}

// While the lost adapter is away: silence while nothing comes, one line for
// a device that is not it (an adapter without a serial number in another
// USB socket), and it is not taken.
TEST_F(Reconnect, ADeviceThatIsNotTheLostOneIsToldOnceNamingBoth) {
  t.Plug("ttyUSB0", device->SlavePath(), kKorvex);
  ASSERT_TRUE(connection.EnsurePortOpen());
  t.Unplug("ttyUSB0");
  device->CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return connection.Watching(); }));
  const size_t lines = view.log.size();
  ASSERT_FALSE(WaitUntil([&] { return view.log.size() != lines; }, 700));

  PtyPair stranger;
  t.Plug("ttyUSB1", stranger.SlavePath(), {"1a86", "7523", "", "1-2"});
  const std::string told =
      "A serial device appeared (ttyUSB1, USB 1a86:7523 at USB port 1-2) that is not the one that was "
      "disconnected (ttyUSB0, USB 0403:6001 serial KX0042): still waiting for it.";
  ASSERT_TRUE(WaitUntil([&] { return view.Count(told) == 1; }, 10000));
  ASSERT_FALSE(WaitUntil([&] { return view.log.size() != lines + 1; }, 700));
  EXPECT_FALSE(connection.PortOpen());
  EXPECT_TRUE(connection.Watching());
  EXPECT_EQ(stranger.ReadAvailable(), "");
}

TEST_F(Reconnect, NoWatchAfterDisconnectFailedOpenOrWithTheBoxOff) {
  const std::string link = t.root + "/korvex";
  const auto plugLink = [&](const std::string& target) {
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(target, link);
  };
  settings.name = link;
  int afterLost = 0;
  connection.AfterDeviceLost = [&] { ++afterLost; };

  struct Case {
    const char* what;
    std::function<void()> act;  // leaves the port closed, with no watch
  };
  const Case cases[] = {
      {"operator's Disconnect",
       [&] {
         connection.TogglePortConnection();
         ASSERT_TRUE(connection.PortOpen());
         connection.TogglePortConnection();
       }},
      {"the box off",
       [&] {
         ASSERT_TRUE(connection.EnsurePortOpen());
         settings.reconnect = false;
         device->CloseMaster();
         ASSERT_TRUE(WaitUntil([&] { return !connection.PortOpen(); }));
       }},
      {"another port chosen during the watch",
       [&] {
         ASSERT_TRUE(connection.EnsurePortOpen());
         device->CloseMaster();
         ASSERT_TRUE(WaitUntil([&] { return connection.Watching(); }));
         settings.name = "ttyUSB77";
         device = std::make_unique<PtyPair>();
         plugLink(device->SlavePath());
         ASSERT_TRUE(WaitUntil([&] { return !connection.Watching(); }, 10000));
         settings.name = link;
       }},
      {"a port that failed to open",
       [&] {
         std::error_code ec;
         fs::remove(link, ec);
         connection.TogglePortConnection();
       }},
      {"Connect to port pressed during the watch, the device still away",
       [&] {
         ASSERT_TRUE(connection.EnsurePortOpen());
         device->CloseMaster();
         ASSERT_TRUE(WaitUntil([&] { return connection.Watching(); }));
         connection.TogglePortConnection();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device = std::make_unique<PtyPair>();
    plugLink(device->SlavePath());
    settings.reconnect = true;
    c.act();
    ASSERT_FALSE(connection.PortOpen());
    EXPECT_FALSE(connection.Watching());
    // A device at the path now is left alone.
    device = std::make_unique<PtyPair>();
    plugLink(device->SlavePath());
    EXPECT_FALSE(WaitUntil([&] { return connection.PortOpen(); }, 700));
    EXPECT_EQ(view.Count(Back(link)), 0u);
  }
  EXPECT_EQ(afterLost, 3);  // told for each loss seen while open
}

}  // namespace
