#pragma once
// What the commands that talk to a port share: --port/--speed/--parity or
// --simulate, and LivePort, the one live session they all run on.

#include <QCoreApplication>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli_commands.h"
#include "command_port.h"
#include "log_sink.h"
#include "port_connection.h"
#include "serial_command_port.h"
#include "serial_port.h"

class DecodeSession;
struct DecodeOptions;
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

// Walks the options: the port's are taken here, each other one goes to
// `other(i)`, which moves i past its values; the first error text ends it.
template <class Other>
std::string WalkOptions(const CliArgs& args, PortOptions& port, Other other) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string error;
    if (ParsePortOption(args, i, port, error)) {
      if (!error.empty()) return error;
      continue;
    }
    if (std::string refused = other(i); !refused.empty()) return refused;
  }
  return {};
}

// An error text unless exactly one of --port and --simulate was given.
std::string CheckPortChoice(const PortOptions& options);

extern const char* const kPortOptionsHelp;

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

// A command's live session, wired as the window wires Comm1: the event loop,
// Ctrl+C and SIGTERM, the simulator when --simulate asks for it, the port
// with direct writes and its connection (reconnection, the name of a device
// that came back as another ttyUSBn), and a decode session's receive
// handler as the one read loop, which forgets a torn frame at a loss.
class LivePort {
 public:
  explicit LivePort(const PortOptions& options);
  ~LivePort();
  LivePort(const LivePort&) = delete;
  LivePort& operator=(const LivePort&) = delete;

  // Starts the simulator with these repeaters (default: one, 12345678) when
  // asked for; the message of what failed otherwise.
  std::string Start(const std::vector<std::string>& repeaterIds = {});
  // Null without --simulate.
  sim::SimulatorRunner* Simulator() { return m_simulator.get(); }
  // The simulated repeater's ID, "" without --simulate.
  std::string SimulatedRepeaterId();

  // Where the port connection's lines go (before Connect).
  void LogTo(LogSink& log) { m_view.log = &log; }

  // Every receive event goes through `session`; `adjust`, when given,
  // changes the session's options for that event.
  void Receive(DecodeSession& session, std::function<void(DecodeOptions&)> adjust = {});

  // "Connect to port": 0 when open, else the exit status, the reason told.
  int Connect();
  PortConnection& Connection() { return m_connection; }
  CommandPort& Port() { return m_port; }
  QCoreApplication& App() { return m_app; }

  // Runs the event loop until it is told to stop, `seconds` passed (when not
  // negative) or, without reconnection, the device was lost. True for a loss.
  bool Run(double seconds = -1);
  // No more receive events; the port closed, standard output flushed.
  void Close();

 private:
  struct View : PortView {
    explicit View(PortSettings& settings) : settings(settings) {}
    void AppendLog(const std::string& line) override { log->AppendLine(line); }
    void SetStatusText(const std::string&) override {}
    void SetPortControlsEnabled(bool) override {}
    void SetConnectCaption(const std::string&) override {}
    void SetPortName(const std::string& name) override { settings.name = name; }
    PortSettings& settings;
    LogSink* log = nullptr;
  };

  QCoreApplication m_app;
  PortSettings m_settings;
  View m_view;
  bool m_simulate;
  bool m_stopRouted = false;
  bool m_lost = false;
  // Started before the port and so stopped after it.
  std::unique_ptr<sim::SimulatorRunner> m_simulator;
  TSerialPort m_comm;
  SerialCommandPort<TSerialPort> m_port{m_comm};
  PortConnection m_connection;
  DecodeSession* m_session = nullptr;
};
