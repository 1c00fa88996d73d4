#pragma once
// Who a serial device is, as the kernel and udev tell it: the tty's kernel
// name, the USB identity behind it (from sysfs) and its stable
// /dev/serial/by-id name. Everything is looked up under a DeviceTree, so the
// tests point it at a scratch tree instead of this machine's /dev and /sys.

#include <optional>
#include <string>
#include <vector>

struct DeviceTree {
  std::string dev = "/dev";
  std::string sys = "/sys";

  // `root`/dev and `root`/sys.
  static DeviceTree AtRoot(const std::string& root);
  std::string ById() const { return dev + "/serial/by-id"; }
};

// A USB serial interface. Adapters without a serial number are told apart
// by the USB port they sit in instead.
struct UsbIdentity {
  std::string vendor, product, serial, interface, usbPath;

  bool Valid() const { return !vendor.empty() && !product.empty(); }
  bool operator==(const UsbIdentity& other) const;
};

// The tty name behind `path`: the last name along its chain of symbolic
// links that starts with "tty" ("/dev/serial/by-id/usb-x" -> "ttyUSB0"),
// otherwise the path's own last name.
std::string KernelName(const std::string& path);

// ttyUSBn and ttyACMn: the names a USB adapter gets in turn of plugging.
bool IsUsbTtyName(const std::string& kernelName);

// The USB identity of tty `kernelName`; invalid when it is no USB device
// or sysfs does not tell.
UsbIdentity IdentityOf(const DeviceTree& tree, const std::string& kernelName);

// The /dev/serial/by-id entry that leads to tty `kernelName`, or "".
std::string ByIdPathFor(const DeviceTree& tree, const std::string& kernelName);

// What is known of an open device, taken while it is there.
struct DeviceRecord {
  std::string name;        // the port name it was opened under
  std::string path;        // the device path that name maps to
  std::string kernelName;  // ttyUSB0, ...
  UsbIdentity identity;
};
DeviceRecord DescribeDevice(const DeviceTree& tree, const std::string& name, const std::string& path);

// Where the recorded device is present now: its own path (unless another
// USB device sits there), or the ttyUSBn/ttyACMn that carries its identity.
// The result is a port name in the recorded name's form ("ttyUSB1" for
// "ttyUSB0", a full path for a full path).
std::optional<std::string> FindDevice(const DeviceTree& tree, const DeviceRecord& record);
