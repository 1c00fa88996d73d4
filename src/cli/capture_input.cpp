#include "capture_input.h"

#include <cstring>

#include "cli_commands.h"
#include "hex_reader.h"
#include "platform_system.h"
#include "text_files.h"

int ReadCapture(const CaptureInput& input, const std::function<void(std::string_view)>& receive) {
  HexReader hexReader;
  std::string bytes;
  int status = 0;
  const auto piece = [&](std::string_view chunk) {
    if (!input.hex) {
      receive(chunk);
      return true;
    }
    bytes.clear();
    if (!hexReader.Convert(chunk, bytes)) {
      status = CliError("bad hexadecimal text in the input");
      return false;
    }
    if (!bytes.empty()) receive(bytes);
    return true;
  };
  if (input.haveFile && input.file != "-") {
    std::string error;
    if (!ReadFileInPieces(input.file, piece, error) && status == 0) status = CliError(error);
  } else {
    char buffer[65536];
    for (;;) {
      int err = 0;
      const long long n = platform::ReadStandardInput(buffer, sizeof buffer, err);
      if (n < 0) {
        status = CliError(std::string("cannot read 'standard input': ") + std::strerror(err));
        break;
      }
      if (n == 0 || !piece(std::string_view(buffer, static_cast<size_t>(n)))) break;
    }
  }
  if (status == 0 && input.hex && !hexReader.Complete())
    status = CliError("bad hexadecimal text: a lone digit at the end");
  return status;
}
