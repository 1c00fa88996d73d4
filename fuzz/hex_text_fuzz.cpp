// HexTextToBytes and HexToInt on any text; the bytes read back as the same text.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "hex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Bytes bytes = HexTextToBytes(text);
  if (!bytes.empty()) {
    // Every byte came from a pair at positions 1-2, 4-5, ...: writing them
    // out again must give the same digits, case aside.
    const std::string back = HexText(bytes);
    for (size_t i = 0; i < bytes.size(); ++i)
      for (size_t k = 0; k < 2; ++k)
        if (std::toupper(static_cast<unsigned char>(text[3 * i + k])) != back[3 * i + k]) std::abort();
  }
  try {
    (void)HexToInt(text);
  } catch (const ConversionError&) {
  }
  return 0;
}
