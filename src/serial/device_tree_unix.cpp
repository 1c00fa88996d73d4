#include "device_tree.h"

#include "serial_backend.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string Basename(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

// The first line of a sysfs attribute, "" when there is none.
std::string Attribute(const fs::path& dir, const char* name) {
  std::ifstream in(dir / name);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(p, ec);
}

// Natural order, so ttyUSB2 comes before ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

}  // namespace

DeviceTree DeviceTree::AtRoot(const std::string& root) { return {root + "/dev", root + "/sys"}; }

bool UsbIdentity::operator==(const UsbIdentity& other) const {
  if (vendor != other.vendor || product != other.product || interface != other.interface) return false;
  // Two adapters of one make without serial numbers differ only in where
  // they are plugged in.
  if (serial.empty() && other.serial.empty()) return usbPath == other.usbPath;
  return serial == other.serial;
}

std::string KernelName(const std::string& path) {
  fs::path p(path);
  std::string found;
  for (int depth = 0; depth < 16; ++depth) {
    const std::string base = Basename(p.string());
    if (base.rfind("tty", 0) == 0) found = base;
    std::error_code ec;
    if (!fs::is_symlink(p, ec)) break;
    const fs::path target = fs::read_symlink(p, ec);
    if (ec) break;
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  return found.empty() ? Basename(path) : found;
}

bool IsUsbTtyName(const std::string& kernelName) {
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    const std::string_view p(prefix);
    if (kernelName.size() > p.size() && kernelName.compare(0, p.size(), p) == 0 &&
        std::all_of(kernelName.begin() + static_cast<long>(p.size()), kernelName.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      return true;
  }
  return false;
}

UsbIdentity IdentityOf(const DeviceTree& tree, const std::string& kernelName) {
  UsbIdentity id;
  if (kernelName.empty() || kernelName.find('/') != std::string::npos) return id;
  std::error_code ec;
  // class/tty/NAME/device leads into the USB interface (ttyACM) or to the
  // usb-serial port below it (ttyUSB); the device with idVendor is above.
  fs::path dir = fs::canonical(fs::path(tree.sys) / "class/tty" / kernelName / "device", ec);
  if (ec) return id;
  for (int depth = 0; depth < 6 && !dir.empty() && dir != dir.root_path(); ++depth, dir = dir.parent_path()) {
    if (id.interface.empty()) id.interface = Attribute(dir, "bInterfaceNumber");
    if (Exists(dir / "idVendor")) {
      id.vendor = Attribute(dir, "idVendor");
      id.product = Attribute(dir, "idProduct");
      id.serial = Attribute(dir, "serial");
      id.usbPath = dir.filename().string();
      return id;
    }
  }
  return {};
}

std::string ByIdPathFor(const DeviceTree& tree, const std::string& kernelName) {
  std::error_code ec;
  std::vector<std::string> matches;
  for (fs::directory_iterator it(tree.ById(), ec), end; !ec && it != end; it.increment(ec))
    if (KernelName(it->path().string()) == kernelName) matches.push_back(it->path().string());
  if (matches.empty()) return {};
  std::sort(matches.begin(), matches.end(), NaturalLess);
  return matches.front();
}

DeviceRecord DescribeDevice(const DeviceTree& tree, const std::string& name, const std::string& path) {
  DeviceRecord record{name, path, KernelName(path), {}};
  if (IsUsbTtyName(record.kernelName)) record.identity = IdentityOf(tree, record.kernelName);
  return record;
}

std::optional<std::string> FindDevice(const DeviceTree& tree, const DeviceRecord& record) {
  if (const auto present = RegisteredDevicePresent(record.path))
    return *present ? std::optional(record.name) : std::nullopt;
  struct stat st {};
  if (::stat(record.path.c_str(), &st) == 0) {
    if (!record.identity.Valid()) return record.name;
    // Another adapter may have been given the name in the meantime.
    const UsbIdentity now = IdentityOf(tree, KernelName(record.path));
    if (!now.Valid() || now == record.identity) return record.name;
  }
  if (!record.identity.Valid()) return std::nullopt;

  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(tree.dev, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string base = it->path().filename().string();
    if (IsUsbTtyName(base) && IdentityOf(tree, base) == record.identity) names.push_back(base);
  }
  if (names.empty()) return std::nullopt;
  std::sort(names.begin(), names.end(), NaturalLess);
  // In the form the operator gave: a bare name stays bare.
  if (record.name.find('/') == std::string::npos) return names.front();
  return (fs::path(tree.dev) / names.front()).string();
}
