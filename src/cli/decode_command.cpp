// velrpt-cli decode: a recorded serial byte stream through exactly the
// receive path of the window. Each read() of the input is one receive event.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli_commands.h"
#include "decode_session.h"
#include "hex_reader.h"
#include "text_files.h"

const char* DecodeHelp() {
  static const std::string text =
      std::string(
          "usage: velrpt-cli decode [OPTIONS] [FILE]\n"
          "Runs a recorded serial byte stream (raw bytes from FILE, or standard input\n"
          "when FILE is absent or -) through the program's receive path and prints\n"
          "every line the log window would receive. Each read of the input is one\n"
          "receive event.\n\n"
          "  --hex                the input is hexadecimal text (pairs of digits, any\n"
          "                       white space between them)\n") +
      kDecodeOptionsHelp +
      "\nExit status: 0 done, 2 bad input (unreadable file, bad hex text, unknown option).\n";
  return text.c_str();
}

int RunDecode(const CliArgs& args) {
  DecodeSessionOptions options;
  bool hex = false;
  std::string file;
  bool haveFile = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string error;
    if (ParseDecodeOption(args, i, options, error)) {
      if (!error.empty()) return CliError(error);
      continue;
    }
    const std::string& a = args[i];
    if (a == "--hex") {
      hex = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return CliError("unknown option '" + a + "'");
    } else if (!haveFile) {
      file = a;
      haveFile = true;
    } else {
      return CliError("only one input file, not '" + a + "'");
    }
  }

  StreamLogSink out(stdout, false);
  DecodeSession session(options, out);
  HexReader hexReader;
  std::string bytes;
  int status = 0;
  // Each piece read is one receive event.
  const auto receive = [&](std::string_view chunk) {
    if (!hex) {
      session.Receive(chunk);
      return true;
    }
    bytes.clear();
    if (!hexReader.Convert(chunk, bytes)) {
      status = CliError("bad hexadecimal text in the input");
      return false;
    }
    if (!bytes.empty()) session.Receive(bytes);
    return true;
  };
  if (haveFile && file != "-") {
    // A file goes through the programs' one reader: only a regular file,
    // streamed, so a capture of any length needs no cap.
    std::string error;
    if (!ReadFileInPieces(file, receive, error) && status == 0) status = CliError(error);
  } else {
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        status = CliError(std::string("cannot read 'standard input': ") + std::strerror(errno));
        break;
      }
      if (n == 0 || !receive(std::string_view(buffer, static_cast<size_t>(n)))) break;
    }
  }
  if (status == 0 && hex && !hexReader.Complete())
    status = CliError("bad hexadecimal text: a lone digit at the end");
  std::fflush(stdout);
  const int finish = session.Finish();
  return status ? status : finish;
}
