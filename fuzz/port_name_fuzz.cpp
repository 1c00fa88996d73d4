// The port name of the settings or --port onto a device path, and the speed
// text onto a rate: any text gives a path under / (or nothing for nothing)
// or a clean refusal, never a crash.

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "port_connection.h"
#include "serial_device.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string path = DevicePathForPortName(text);
  if (text.empty() != path.empty()) std::abort();
  if (!path.empty() && path.front() != '/') std::abort();
  // "COM<n>" is the n-th serial line; everything else keeps its own name.
  if (path.compare(0, 9, "/dev/ttyS") != 0 && path != text && path != "/dev/" + text) std::abort();
  return 0;
}
