// velrpt-sim's replay reader on any file content: hex text or raw bytes,
// then cut into the units sent at once. Joined, the units give the capture
// back; each unit that starts with a start byte and has its end byte in
// place is one whole frame.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "traffic.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const sim::Bytes content(reinterpret_cast<const char*>(data), size);
  const sim::Bytes capture = sim::CaptureFromContent(content);
  if (capture.size() > content.size()) std::abort();
  const std::vector<sim::Bytes> units = sim::SplitCapture(capture);
  sim::Bytes joined;
  for (const sim::Bytes& unit : units) {
    if (unit.empty()) std::abort();
    joined += unit;
  }
  if (joined != capture) std::abort();
  return 0;
}
