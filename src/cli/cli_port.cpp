#include "cli_port.h"

#include <QCoreApplication>

#include "platform_system.h"
#include "sim_runner.h"

const char* const kPortOptionsHelp =
    "  --port NAME          COM1..COM50, a device path, or a name under /dev\n"
    "  --simulate           instead of --port: a simulated Korvex with its repeater and\n"
    "                       meters, started in this process on a pseudo-terminal\n"
    "  --speed TEXT         the speed box's text (default 19200)\n"
    "  --parity TEXT        the parity box's text (default None)\n";

bool ParsePortOption(const CliArgs& args, size_t& i, PortOptions& options, std::string& error) {
  const std::string& a = args[i];
  if (a == "--simulate") return options.simulate = true;
  if (a != "--port" && a != "--speed" && a != "--parity") return false;
  if (i + 1 >= args.size()) {
    error = "option " + a + " needs a value";
    return true;
  }
  const std::string& value = args[++i];
  if (a == "--port") {
    options.settings.name = value;
    options.havePort = true;
  } else if (a == "--speed") {
    options.settings.speed = value;
  } else {
    options.settings.parity = value;
  }
  return true;
}

std::string CheckPortChoice(const PortOptions& options) {
  if (options.havePort && options.simulate) return "--port and --simulate exclude each other";
  if (!options.havePort && !options.simulate) return "which port? (--port NAME or --simulate)";
  return {};
}

std::unique_ptr<sim::SimulatorRunner> StartSimulator(PortOptions& options, std::string& error,
                                                     const std::vector<std::string>& repeaterIds) {
  sim::SimOptions simOptions;
  if (!repeaterIds.empty()) {
    simOptions.repeaterId = repeaterIds.front();
    simOptions.moreRepeaterIds.assign(repeaterIds.begin() + 1, repeaterIds.end());
  }
  auto runner = std::make_unique<sim::SimulatorRunner>(simOptions);
  if (!runner->Start(&error)) return nullptr;
  options.settings.name = runner->SlavePath();
  return runner;
}

StopRoute::StopRoute(QCoreApplication& app) {
  // Called on the platform's thread, and never after the destructor: a
  // queued call reaches the event loop.
  QCoreApplication* target = &app;
  platform::SetStopHandler(
      [target] { QMetaObject::invokeMethod(target, &QCoreApplication::quit, Qt::QueuedConnection); });
}

StopRoute::~StopRoute() { platform::SetStopHandler({}); }

std::unique_ptr<StopRoute> RouteStopSignals(QCoreApplication& app) {
  return std::make_unique<StopRoute>(app);
}

int& CliArgc() {
  static int argc = 1;
  return argc;
}

char** CliArgv() {
  static char name[] = "velrpt-cli";
  static char* argv[] = {name, nullptr};
  return argv;
}
