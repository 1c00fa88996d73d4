#include "cli_port.h"

#include <QTimer>
#include <cstdio>

#include "decode_session.h"
#include "platform_system.h"
#include "in_process_korvex.h"

const char* const kPortOptionsHelp =
    "  --port NAME          COM1..COM50, a device path, or a name under /dev\n"
    "  --simulate           instead of --port: a simulated Korvex with its repeater and\n"
#ifdef _WIN32
    "                       meters, started inside this process\n"
#else
    "                       meters, started in this process on a pseudo-terminal\n"
#endif
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

int& CliArgc() {
  static int argc = 1;
  return argc;
}

char** CliArgv() {
  static char name[] = "velrpt-cli";
  static char* argv[] = {name, nullptr};
  return argv;
}

LivePort::LivePort(const PortOptions& options)
    : m_app(CliArgc(), CliArgv()),
      m_settings(options.settings),
      m_view(m_settings),
      m_simulate(options.simulate),
      m_connection(
          m_comm, [this] { return m_settings; }, m_view) {
  // Writes in the calling thread, as everywhere: no write thread.
  m_comm.SetDirectWrite(true);
  m_comm.OnHandlerException = [](const std::exception& e) {
    std::fprintf(stderr, "velrpt-cli: %s\n", e.what());
  };
  m_connection.AfterDeviceLost = [this] {
    if (m_session) m_session->Handler().DropPending();
    if (m_settings.reconnect) return;
    m_lost = true;
    m_app.quit();
  };
}

LivePort::~LivePort() {
  Close();
  if (m_stopRouted) platform::SetStopHandler({});
}

std::string LivePort::Start(const std::vector<std::string>& repeaterIds) {
  // Called on the platform's thread, and never after the destructor: a
  // queued call reaches the event loop between two receive events.
  QCoreApplication* target = &m_app;
  platform::SetStopHandler(
      [target] { QMetaObject::invokeMethod(target, &QCoreApplication::quit, Qt::QueuedConnection); });
  m_stopRouted = true;
  if (!m_simulate) return {};
  sim::SimOptions simOptions;
  if (!repeaterIds.empty()) {
    simOptions.repeaterId = repeaterIds.front();
    simOptions.moreRepeaterIds.assign(repeaterIds.begin() + 1, repeaterIds.end());
  }
  m_simulator = sim::MakeSimulator(simOptions);
  std::string error;
  if (!m_simulator->Start(&error)) return "cannot start the simulator: " + error;
  m_settings.name = m_simulator->SlavePath();
  return {};
}

std::string LivePort::SimulatedRepeaterId() {
  return m_simulator ? m_simulator->RepeaterId() : std::string();
}

void LivePort::Receive(DecodeSession& session, std::function<void(DecodeOptions&)> adjust) {
  m_session = &session;
  m_comm.OnRxChar = [&session, adjust = std::move(adjust)](TCustomSerialPort* sender, int count) {
    const ReceiveHandler::ReadFn read = [sender](char* dest, int max) { return sender->ReadData(dest, max); };
    if (!adjust) return session.ReceiveEvent(count, read);
    DecodeOptions options = session.Options();
    adjust(options);
    session.ReceiveEvent(count, read, options);
  };
}

int LivePort::Connect() {
  try {
    m_connection.TogglePortConnection();
  } catch (const std::exception& e) {
    return CliError(e.what());
  }
  if (m_connection.PortOpen()) return 0;
  std::fflush(stdout);
  return 1;
}

bool LivePort::Run(double seconds) {
  if (seconds >= 0) QTimer::singleShot(static_cast<int>(seconds * 1000), &m_app, &QCoreApplication::quit);
  m_app.exec();
  return m_lost;
}

void LivePort::Close() {
  m_comm.OnRxChar = nullptr;
  m_comm.Close();
  m_session = nullptr;
  std::fflush(stdout);
}
