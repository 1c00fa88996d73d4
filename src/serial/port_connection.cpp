#include "port_connection.h"

#include "escape_text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace {

constexpr char kConnectCaption[] = "Connect to port";
constexpr char kDisconnectCaption[] = "Disconnect";

bool EqualsNoCase(const std::string& a, const char* b) {
  const std::string_view bv(b);
  return a.size() == bv.size() && std::equal(a.begin(), a.end(), bv.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string ModeText(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

}  // namespace

int SpeedValue(const std::string& text) {
  std::string_view s(text);
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  int value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size())
    throw std::invalid_argument("'" + EscapeControls(text) + "' is not a valid integer value");
  return value;
}

std::string PermissionHint(const std::string& path, const DeviceAccess* access) {
  const auto join = [&](const std::string& group) {
    return "On Linux the user needs to be a member of the group that owns " + path + " (" + group +
           "): sudo usermod -aG " + group + " $USER, then log out and in again.";
  };
  if (!access) return join("dialout");
  const bool groupReadWrite = (access->mode & 060) == 060;
  if (groupReadWrite && access->gid != 0 && !access->group.empty()) return join(access->group);
  // Joining root's group, or a group that may not read and write, grants nothing.
  const std::string owner = access->group.empty() ? std::to_string(access->gid) : access->group;
  return "On Linux " + path + " (group " + owner + ", mode " + ModeText(access->mode) +
         ") is open to no group of users: the administrator must give it a group with read and write "
         "access (for example a udev rule with GROUP=\"dialout\", MODE=\"0660\"), then the user "
         "joins that group.";
}

std::vector<std::string> ProbeFailureLines(ProbeResult result, const std::string& rawName,
                                           const std::string& rawPath, int error) {
  // The name comes from the settings or the command line and may hold any
  // character; a line break in it must not start a line of its own.
  const std::string name = EscapeControls(rawName);
  const std::string path = EscapeControls(rawPath);
  switch (result) {
    case ProbeResult::Ok:
      return {};
    case ProbeResult::Busy:
      return {"The selected serial port (" + name + ") is in use by another program!"};
    case ProbeResult::Missing:
      return {"The selected serial port (" + name + ") does not exist!"};
    case ProbeResult::NoPermission: {
      DeviceAccess access;
      const bool known = ReadDeviceAccess(rawPath, access);
      return {"No permission to open the selected serial port (" + name + ")!",
              PermissionHint(path, known ? &access : nullptr)};
    }
    case ProbeResult::Failed:
      break;
  }
  return {"The selected serial port (" + name + ") could not be opened (Error " + std::to_string(error) +
          ", " + OsErrorText(error) + ")!"};
}

PortConnection::PortConnection(TSerialPort& comm, SettingsSnapshot settings, PortView& view)
    : m_comm(comm), m_settings(std::move(settings)), m_view(view) {
  m_comm.OnDeviceLost = [this](TCustomSerialPort*) { DeviceLost(); };
  m_watcher.OnOtherDevice = [this](const std::string& kernelName) { OtherDevice(kernelName); };
}

namespace {

std::string IdentityText(const std::string& kernelName, const UsbIdentity& id) {
  if (!id.Valid()) return EscapeControls(kernelName);
  std::string text =
      EscapeControls(kernelName) + ", USB " + EscapeControls(id.vendor) + ":" + EscapeControls(id.product);
  if (!id.serial.empty()) return text + " serial " + EscapeControls(id.serial);
  return text + " at USB port " + EscapeControls(id.usbPath);
}

}  // namespace

void PortConnection::OtherDevice(const std::string& kernelName) {
  // Rightly not taken, but the operator should not wonder why nothing happens.
  const std::string other = IdentityText(kernelName, IdentityOf(m_watcher.Tree(), kernelName));
  const std::string lost = IdentityText(m_openDevice.kernelName, m_openDevice.identity);
  m_view.AppendLog("A serial device appeared (" + other + ") that is not the one that was disconnected (" +
                   lost + "): still waiting for it.");
}

PortConnection::~PortConnection() {
  m_watcher.Stop();
  m_comm.OnDeviceLost = nullptr;
}

void PortConnection::TogglePortConnection() {
  // The operator (or a command) decides now: no return is waited for.
  m_watcher.Stop();
  if (m_portOpen)
    ClosePort();
  else
    OpenPort(OpenMode{}, m_settings());
}

bool PortConnection::EnsurePortOpen() {
  if (!m_portOpen) TogglePortConnection();
  if (!m_portOpen) return false;
  // A purge that finds the device gone reports the loss; the command then
  // fails as its own exchange does on a closed port, and says so.
  m_comm.PurgeAll();
  return true;
}

void PortConnection::ClosePort() {
  try {
    m_view.SetStatusText(EscapeControls(m_settings().name) + " is closed");
    m_portOpen = false;
    // Lets the last bytes of a command leave the line before it is closed.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    m_comm.Close();
    m_view.SetPortControlsEnabled(true);
    m_view.SetConnectCaption(kConnectCaption);
  } catch (...) {
    m_view.AppendLog("Unknown Exception closing serial port, please restart...");
  }
}

void PortConnection::SetLine(const PortSettings& s) {
  // A typed speed that has no member of its own runs at exactly that rate.
  m_comm.SetBaudrate(br2400);
  const int speed = SpeedValue(s.speed);
  static constexpr std::pair<int, TBaudrate> kRates[] = {
      {300, br300},   {600, br600},     {1200, br1200},   {2400, br2400},   {4800, br4800},
      {9600, br9600}, {19200, br19200}, {38400, br38400}, {57600, br57600}, {115200, br115200}};
  const auto known =
      std::find_if(std::begin(kRates), std::end(kRates), [&](auto& r) { return r.first == speed; });
  if (known != std::end(kRates)) {
    m_comm.SetBaudrate(known->second);
  } else {
    m_comm.SetBaudrate(brUser);
    m_comm.SetUserBaudrate(speed);
  }

  m_comm.SetParity(paEven);
  static constexpr std::pair<const char*, TParity> kParities[] = {
      {"None", paNone}, {"Even", paEven}, {"Odd", paOdd}, {"Mark", paMark}, {"Space", paSpace}};
  for (const auto& [text, value] : kParities)
    if (EqualsNoCase(s.parity, text)) m_comm.SetParity(value);

  m_comm.SetStopbits(sb1);
  m_comm.SetDatabits(db8);
}

PortConnection::OpenResult PortConnection::OpenPort(const OpenMode& mode, const PortSettings& now) {
  const std::string path = DevicePathForPortName(now.name);
  m_comm.SetDeviceName(path);
  // Before the open: a speed text that is no number opens nothing.
  SetLine(now);

  // The one open of this connection tells what a probe would: missing,
  // busy, no permission.
  try {
    m_comm.Open();
  } catch (const std::exception& e) {
    m_view.SetStatusText(EscapeControls(now.name) + " is closed");
    m_portOpen = false;
    const auto* serial = dynamic_cast<const ESerialPortError*>(&e);
    if (serial && serial->deviceError != 0) {
      const int error = serial->deviceError;
      // A node that is still going away (the kernel removes it a moment
      // after the hang-up) is no return, and no reason for a message.
      if (!mode.backName.empty() && NotBackYet(error)) return OpenResult::Gone;
      if (!mode.quiet)
        for (const std::string& line : ProbeFailureLines(ClassifyProbeError(error), now.name, path, error))
          m_view.AppendLog(line);
      return OpenResult::Failed;
    }
    if (!mode.quiet) {
      m_view.AppendLog("Unknown Exception on opening serial port...");
      if (serial && !serial->detail.empty()) m_view.AppendLog(serial->detail);
    }
    return OpenResult::Failed;
  }
  const std::string status =
      EscapeControls(now.name) + " - " + EscapeControls(now.speed) + ",8," + EscapeControls(now.parity);
  m_view.SetStatusText(status);
  m_portOpen = true;
  m_openName = now.name;
  if (!mode.backName.empty())
    m_view.AppendEventLog("The serial port (" + EscapeControls(mode.backName) + ") is back, reconnected.");
  m_view.AppendLog(status);
  m_view.SetPortControlsEnabled(false);
  m_view.SetConnectCaption(kDisconnectCaption);

  // Known while the device is there: what to look for if it goes away.
  const DeviceTree& tree = m_watcher.Tree();
  m_openDevice = DescribeDevice(tree, now.name, path);
  if (mode.byOperator && IsUsbTtyName(std::filesystem::path(path).filename().string())) {
    const std::string byId = ByIdPathFor(tree, m_openDevice.kernelName);
    if (!byId.empty())
      m_view.AppendLog("Tip: this device is also " + EscapeControls(byId) +
                       ", which keeps its name when re-plugged");
  }
  return OpenResult::Opened;
}

void PortConnection::DeviceLost() {
  // As "Disconnect" would, so the next command or "Connect to port" opens
  // the device again once it is back.
  if (!m_portOpen) {
    m_comm.Close();
    return;
  }
  m_view.SetStatusText(EscapeControls(m_openName) + " is closed");
  m_portOpen = false;
  m_comm.Close();
  m_view.SetPortControlsEnabled(true);
  m_view.SetConnectCaption(kConnectCaption);
  m_view.AppendEventLog("The serial port (" + m_openName + ") was disconnected!");
  if (m_settings().reconnect) {
    m_failureTold = false;
    m_watcher.Start(m_openDevice, [this](const std::string& name) { DeviceBack(name); });
  }
  if (AfterDeviceLost) AfterDeviceLost();
}

void PortConnection::DeviceBack(const std::string& name) {
  const PortSettings now = m_settings();
  // The operator may have switched the setting off, or chosen another port.
  if (m_portOpen || !now.reconnect || (now.name != m_openDevice.name && now.name != name)) {
    m_watcher.Stop();
    return;
  }
  PortSettings open = now;
  if (name != now.name) {
    m_view.SetPortName(name);
    open = m_settings();
    // A view that keeps the name must not make us open whatever is there.
    if (open.name != name) return;
  }
  OpenResult result = OpenResult::Failed;
  try {
    result = OpenPort(OpenMode{false, m_failureTold, name}, open);
  } catch (...) {
    // Settings edited into something "Connect to port" refuses: that is
    // the operator's to sort out, once.
    m_watcher.Stop();
    throw;
  }
  if (result == OpenResult::Opened)
    m_watcher.Stop();
  else if (result == OpenResult::Failed)
    m_failureTold = true;  // busy or no permission: told once, the watch goes on
}
