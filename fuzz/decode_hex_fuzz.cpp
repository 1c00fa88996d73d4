// The reader of `velrpt-cli decode --hex`: the same text cut into pieces
// anywhere (as reads cut it) gives the same bytes and the same verdict as
// in one piece. The first byte chooses the piece length.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hex_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = 1 + data[0] % 17;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  HexReader whole;
  std::string wholeBytes;
  const bool wholeOk = whole.Convert(text, wholeBytes) && whole.Complete();

  HexReader cut;
  std::string cutBytes;
  bool cutOk = true;
  for (size_t at = 0; at < text.size() && cutOk; at += piece)
    cutOk = cut.Convert(text.substr(at, piece), cutBytes);
  cutOk = cutOk && cut.Complete();

  if (wholeOk != cutOk) std::abort();
  if (wholeOk && wholeBytes != cutBytes) std::abort();
  // Two digits per byte, at most.
  if (wholeOk && wholeBytes.size() * 2 > text.size()) std::abort();
  return 0;
}
