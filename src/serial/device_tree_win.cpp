// Who a serial device is, on Windows: the port's own name ("COM3"). The
// system lists the ports that are present (SERIALCOMM); a USB adapter that
// was pulled drops out of that list and comes back under its name.
#include <algorithm>
#include <cctype>

#include "device_tree.h"
#include "platform_system.h"
#include "serial_backend.h"

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

}  // namespace

DeviceTree DeviceTree::AtRoot(const std::string& root) { return {root + "/dev", root + "/sys"}; }

bool UsbIdentity::operator==(const UsbIdentity& other) const {
  return vendor == other.vendor && product == other.product && serial == other.serial &&
         interface == other.interface && usbPath == other.usbPath;
}

std::string KernelName(const std::string& path) {
  // "\\.\COM3" -> "COM3"
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsUsbTtyName(const std::string&) { return false; }

UsbIdentity IdentityOf(const DeviceTree&, const std::string&) { return {}; }

std::string ByIdPathFor(const DeviceTree&, const std::string&) { return {}; }

DeviceRecord DescribeDevice(const DeviceTree&, const std::string& name, const std::string& path) {
  return DeviceRecord{name, path, KernelName(path), {}};
}

std::optional<std::string> FindDevice(const DeviceTree&, const DeviceRecord& record) {
  if (const auto present = RegisteredDevicePresent(record.path))
    return *present ? std::optional(record.name) : std::nullopt;
  for (const std::string& port : platform::ListedSerialPorts())
    if (SameName(port, record.kernelName)) return record.name;
  return std::nullopt;
}
