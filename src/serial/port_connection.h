#pragma once
// Opening and closing the main window's serial port with the name, speed and
// parity the settings window shows, and telling the user how it went.

#include <functional>
#include <string>
#include <vector>

#include "port_watcher.h"
#include "serial_port.h"

// The speed text as an integer, as the settings' conversion does it: blanks
// around and a leading + are allowed; anything else throws
// std::invalid_argument with the text the caller reports.
int SpeedValue(const std::string& text);

// The settings controls' texts, read at the moment of use.
struct PortSettings {
  std::string name;
  std::string speed;
  std::string parity;
  bool reconnect = true;  // "Reconnect when the port returns"
};

// What the port connection shows; the main window implements it.
class PortView {
 public:
  virtual ~PortView() = default;
  virtual void AppendLog(const std::string& line) = 0;  // one line in Memo_log
  // A line about the device going away or coming back: the window starts
  // it with the date and time, as a telegram's line.
  virtual void AppendEventLog(const std::string& line) { AppendLog(line); }
  virtual void SetStatusText(const std::string& text) = 0;  // StatusBar1 panel 0
  // Combo_com_name, Combo_com_speed and Combo_com_parity.
  virtual void SetPortControlsEnabled(bool enabled) = 0;
  virtual void SetConnectCaption(const std::string& caption) = 0;  // Butt_open_port
  // A lost device came back under another name (ttyUSB1 for ttyUSB0): the
  // port name box shows the name it is opened under now.
  virtual void SetPortName(const std::string& name) { (void)name; }
};

// Why a probe could not open the device, from the system's error code
// (port_probe_unix.cpp, port_probe_win.cpp).
enum class ProbeResult { Ok, Busy, Missing, NoPermission, Failed };
ProbeResult ClassifyProbeError(int error);
// True for the codes of a device that is still going away or not there yet:
// a lost device whose open fails so has not come back.
bool NotBackYet(int error);

// Who may open a device: its owner group's name and id and its mode bits.
struct DeviceAccess {
  std::string group;  // empty when the group has no name
  unsigned gid = 0;
  unsigned mode = 0;
};
// Reads the owner group and mode of `path`; false when it cannot be looked at
// (always on systems without them).
bool ReadDeviceAccess(const std::string& path, DeviceAccess& out);
// The second line of the permission failure: join the owning group only
// when that group may read and write the device and is not root's own;
// otherwise what the device itself needs. Without `access` (the device
// cannot be looked at) the usual group is named.
std::string PermissionHint(const std::string& path, const DeviceAccess* access);

// The log lines for a failed probe of port `name` at `path`.
std::vector<std::string> ProbeFailureLines(ProbeResult result, const std::string& name,
                                           const std::string& path, int error);

class PortConnection {
 public:
  using SettingsSnapshot = std::function<PortSettings()>;

  // Takes over comm's OnDeviceLost.
  PortConnection(TSerialPort& comm, SettingsSnapshot settings, PortView& view);
  ~PortConnection();
  PortConnection(const PortConnection&) = delete;
  PortConnection& operator=(const PortConnection&) = delete;

  void TogglePortConnection();
  bool EnsurePortOpen();
  bool PortOpen() const { return m_portOpen; }

  // After a loss, while the device is watched for.
  bool Watching() const { return m_watcher.Watching(); }
  // Called after a loss has been reported (and the watch started, if it is).
  std::function<void()> AfterDeviceLost;
  // Where devices and their USB identities are looked up; tests use a
  // scratch tree, and short times.
  PortWatcher& Watcher() { return m_watcher; }

 private:
  struct OpenMode {
    bool byOperator = true;  // connect, command: the stable-name tip
    bool quiet = false;      // failures are told once per return only
    std::string backName;    // reconnecting: announces the return
  };
  enum class OpenResult { Opened, Failed, Gone };
  void ClosePort();
  // Sets speed, parity and the fixed line settings from `settings`.
  void SetLine(const PortSettings& settings);
  // `settings`: the one reading of the settings this open goes by.
  OpenResult OpenPort(const OpenMode& mode, const PortSettings& settings);
  void DeviceLost();
  void DeviceBack(const std::string& name);
  void OtherDevice(const std::string& kernelName);

  TSerialPort& m_comm;
  SettingsSnapshot m_settings;
  PortView& m_view;
  bool m_portOpen = false;
  std::string m_openName;  // the name the port was opened under
  DeviceRecord m_openDevice;
  PortWatcher m_watcher;
  bool m_failureTold = false;  // for the device now back, failing to open
};
