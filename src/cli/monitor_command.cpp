// velrpt-cli monitor: the live receive path on a real port. Bytes come the
// way the window gets them: event thread, hand-over, OnRxChar, ReadData.

#include <cstdlib>
#include <optional>
#include <string>

#include "cli_commands.h"
#include "cli_port.h"
#include "decode_session.h"
#include "option_range.h"

const char* MonitorHelp() {
  static const std::string text =
      std::string(
          "usage: velrpt-cli monitor --port NAME|--simulate [--speed TEXT] [--parity TEXT] [--seconds S]\n"
          "                          [--no-reconnect] [OPTIONS]\n"
          "Opens the serial port as \"Connect to port\" does and prints every log line as it\n"
          "happens, until Ctrl+C, SIGTERM or S seconds. With --simulate the simulated\n"
          "repeater is the selected one unless --repeater-id names another.\n"
          "When the device is pulled out, the port is opened again as soon as the same\n"
          "device is back (at its path, or as another ttyUSBn/ttyACMn with the same USB\n"
          "identity).\n\n") +
      kPortOptionsHelp + "  --seconds S          stop after S seconds\n" +
      "  --no-reconnect       end at the first loss of the device (exit status 1)\n" + kDecodeOptionsHelp +
      "\nExit status: 0 done, 1 the port could not be opened or (with --no-reconnect) was\n"
      "lost, 2 bad input.\n";
  return text.c_str();
}

namespace {

// The most whole seconds a QTimer takes in milliseconds.
constexpr double kMaxSeconds = 2'147'483;

}  // namespace

int RunMonitor(const CliArgs& args) {
  DecodeSessionOptions options;
  PortOptions port;
  double seconds = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string error;
    if (ParseDecodeOption(args, i, options, error) || ParsePortOption(args, i, port, error)) {
      if (!error.empty()) return CliError(error);
      continue;
    }
    const std::string& a = args[i];
    if (a == "--no-reconnect") {
      port.settings.reconnect = false;
      continue;
    }
    if (a != "--seconds") return CliError("unknown option '" + a + "'");
    if (i + 1 >= args.size()) return CliError("option " + a + " needs a value");
    // The timer below counts milliseconds in an int.
    const std::optional<double> s = ParseRealOption(a, args[++i], 0, kMaxSeconds, error);
    if (!s) return CliError(error);
    seconds = *s;
  }
  if (const std::string error = CheckPortChoice(port); !error.empty()) return CliError(error);

  LivePort live(port);
  if (const std::string error = live.Start(); !error.empty()) return CliError(error);
  if (options.decode.repeaterId.empty()) options.decode.repeaterId = live.SimulatedRepeaterId();
  StreamLogSink out(stdout, true);
  DecodeSession session(options, out, true);
  live.LogTo(session.PortLog());
  live.Receive(session);
  if (const int status = live.Connect()) return status;
  const bool lost = live.Run(seconds);
  live.Close();
  const int status = session.Finish();
  return lost ? 1 : status;
}
