#pragma once
// What the commands that talk to a port share: --port/--speed/--parity or
// --simulate, the port connection's texts on standard output, and Ctrl+C.

#include <memory>
#include <string>
#include <vector>

#include "cli_commands.h"
#include "log_sink.h"
#include "port_connection.h"

class QCoreApplication;
namespace sim {
class SimulatorRunner;
}

struct PortOptions {
  PortSettings settings{"", "19200", "None"};
  bool havePort = false;
  bool simulate = false;
};

// Consumes the port option at args[i] (and its value), advancing i. Returns
// false when args[i] is not one of them; sets `error` on a missing value.
bool ParsePortOption(const CliArgs& args, size_t& i, PortOptions& options, std::string& error);

// An error text unless exactly one of --port and --simulate was given.
std::string CheckPortChoice(const PortOptions& options);

extern const char* const kPortOptionsHelp;

// Starts the simulated Korvex with its repeater and meters on a
// pseudo-terminal of this process and points the settings at it.
// `repeaterIds`: the simulated repeaters (default: one, 12345678).
std::unique_ptr<sim::SimulatorRunner> StartSimulator(PortOptions& options, std::string& error,
                                                     const std::vector<std::string>& repeaterIds = {});

// Ctrl+C and SIGTERM (a console's close on Windows) end the event loop of
// `app` between two receive events, never inside one, while this lives.
class StopRoute {
 public:
  explicit StopRoute(QCoreApplication& app);
  ~StopRoute();
  StopRoute(const StopRoute&) = delete;
  StopRoute& operator=(const StopRoute&) = delete;
};
std::unique_ptr<StopRoute> RouteStopSignals(QCoreApplication& app);

// Log lines to standard output; the status panel and the controls have no
// place on a terminal.
class LogPortView : public PortView {
 public:
  explicit LogPortView(LogSink& log) : m_log(log) {}
  void AppendLog(const std::string& line) override { m_log.AppendLine(line); }
  void SetStatusText(const std::string&) override {}
  void SetPortControlsEnabled(bool) override {}
  void SetConnectCaption(const std::string&) override {}

 private:
  LogSink& m_log;
};

// argc and argv for the QCoreApplication a run needs for the serial
// hand-over (it keeps a reference to them for its whole life).
int& CliArgc();
char** CliArgv();
