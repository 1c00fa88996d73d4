// The parts of the device layer every system shares: error texts and the
// mapping of port names onto device paths.
#include "serial_device.h"

#include <cctype>

#include "escape_text.h"
#include "serial_backend.h"

std::string OsErrorText(int error) { return EscapeControls(SerialErrorText(error)); }

std::string FormatOsError(const std::string& templ, int error) {
  std::string result = templ;
  std::string::size_type pos = result.find("%d");
  if (pos != std::string::npos) result.replace(pos, 2, std::to_string(error));
  pos = result.find("%s");
  if (pos != std::string::npos) result.replace(pos, 2, OsErrorText(error));
  return result;
}

#ifndef _WIN32
namespace {

// The number of "COMn" (1 and up), else 0.
long ComNumber(const std::string& name) {
  if (name.size() <= 3 || name.size() > 12 || name.compare(0, 3, "COM") != 0) return 0;
  for (std::size_t i = 3; i < name.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
  return std::stol(name.substr(3));
}

}  // namespace
#endif

std::string DevicePathForPortName(const std::string& name) {
  if (name.empty() || SerialBackendRegistered(name)) return name;
#ifdef _WIN32
  // Every port opens through the device namespace (COM10 and up only so).
  if (name.compare(0, 2, "\\\\") == 0) return name;
  return "\\\\.\\" + name;
#else
  if (name.front() == '/') return name;
  if (long number = ComNumber(name); number >= 1) return "/dev/ttyS" + std::to_string(number - 1);
  return "/dev/" + name;
#endif
}
