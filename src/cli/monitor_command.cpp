// velrpt-cli monitor: the live receive path on a real port. Bytes come the
// way the window gets them: event thread, hand-over, OnRxChar, ReadData.

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <string>

#include "cli_commands.h"
#include "decode_session.h"
#include "port_connection.h"
#include "serial_port.h"

namespace {

// Ctrl+C and SIGTERM arrive through a pipe, so the event loop ends between
// two receive events, never inside one.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// Log lines to standard output; the status panel and the controls have no
// place on a terminal.
class MonitorView : public PortView {
 public:
  explicit MonitorView(LogSink& log) : m_log(log) {}
  void AppendLog(const std::string& line) override { m_log.AppendLine(line); }
  void SetStatusText(const std::string&) override {}
  void SetPortControlsEnabled(bool) override {}
  void SetConnectCaption(const std::string&) override {}

 private:
  LogSink& m_log;
};

}  // namespace

const char* MonitorHelp() {
  static const std::string text =
      std::string(
          "usage: velrpt-cli monitor --port NAME [--speed TEXT] [--parity TEXT] [--seconds S] [OPTIONS]\n"
          "Opens the serial port as \"Connect to port\" does and prints every log line as it\n"
          "happens, until Ctrl+C, SIGTERM or S seconds.\n\n"
          "  --port NAME          COM1..COM50, a device path, or a name under /dev\n"
          "  --speed TEXT         the speed box's text (default 19200)\n"
          "  --parity TEXT        the parity box's text (default None)\n"
          "  --seconds S          stop after S seconds\n") +
      kDecodeOptionsHelp + "\nExit status: 0 done, 1 the port could not be opened, 2 bad input.\n";
  return text.c_str();
}

int RunMonitor(const CliArgs& args) {
  DecodeSessionOptions options;
  PortSettings settings{"", "19200", "None"};
  bool havePort = false;
  double seconds = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string error;
    if (ParseDecodeOption(args, i, options, error)) {
      if (!error.empty()) return CliError(error);
      continue;
    }
    const std::string& a = args[i];
    if (a != "--port" && a != "--speed" && a != "--parity" && a != "--seconds")
      return CliError("unknown option '" + a + "'");
    if (i + 1 >= args.size()) return CliError("option " + a + " needs a value");
    const std::string& value = args[++i];
    if (a == "--port") {
      settings.name = value;
      havePort = true;
    } else if (a == "--speed") {
      settings.speed = value;
    } else if (a == "--parity") {
      settings.parity = value;
    } else {
      char* end = nullptr;
      seconds = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(seconds >= 0))
        return CliError("--seconds needs a number, not '" + value + "'");
    }
  }
  if (!havePort) return CliError("monitor needs --port NAME");

  static int argc = 1;
  static char name[] = "velrpt-cli";
  static char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);

  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return CliError("cannot create a pipe");
  QSocketNotifier stopper(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&stopper, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);

  StreamLogSink out(stdout, true);
  DecodeSession session(options, out);
  MonitorView view(out);
  TSerialPort comm;
  comm.SetDirectWrite(true);
  comm.OnRxChar = [&](TCustomSerialPort* sender, int count) {
    session.Handler().ReceiveEvent(
        count, [sender](char* dest, int max) { return sender->ReadData(dest, max); }, session.Options());
  };
  comm.OnHandlerException = [](const std::exception& e) {
    std::fprintf(stderr, "velrpt-cli: %s\n", e.what());
  };
  PortConnection connection(
      comm, [&] { return settings; }, view);

  try {
    connection.TogglePortConnection();
  } catch (const std::exception& e) {
    return CliError(e.what());
  }
  if (!connection.PortOpen()) {
    std::fflush(stdout);
    return 1;
  }
  if (seconds >= 0) QTimer::singleShot(static_cast<int>(seconds * 1000), &app, &QCoreApplication::quit);
  app.exec();

  comm.Close();
  std::fflush(stdout);
  return session.Finish();
}
