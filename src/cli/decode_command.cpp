// velrpt-cli decode: a recorded serial byte stream through exactly the
// receive path of the window. Each read() of the input is one receive event.

#include <cstdio>
#include <string>

#include "capture_input.h"
#include "cli_commands.h"
#include "decode_session.h"
#include "platform_system.h"

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
  CaptureInput input;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string error;
    if (ParseDecodeOption(args, i, options, error)) {
      if (!error.empty()) return CliError(error);
      continue;
    }
    const std::string& a = args[i];
    if (a == "--hex") {
      input.hex = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return CliError("unknown option '" + a + "'");
    } else if (!input.haveFile) {
      input.file = a;
      input.haveFile = true;
    } else {
      return CliError("only one input file, not '" + a + "'");
    }
  }

  // Output for a file or a pipe in large writes rather than one per 4 KiB:
  // the system calls cost more than the decoding. A terminal keeps its lines.
  if (!platform::StdoutIsTerminal()) {
    static char outBuffer[64 << 10];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
  }
  StreamLogSink out(stdout, false);
  DecodeSession session(options, out);
  const int status = ReadCapture(input, [&](std::string_view bytes) { session.Receive(bytes); });
  std::fflush(stdout);
  const int finish = session.Finish();
  return status ? status : finish;
}
