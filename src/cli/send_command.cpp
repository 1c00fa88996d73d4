// velrpt-cli send and set-in-korvex: one Set button, or "Set in Korvex", on
// a real port, through the handler logic of the window. For provisioning
// repeaters from a script.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_commands.h"
#include "cli_port.h"
#include "command_args.h"
#include "decode_session.h"
#include "option_range.h"
#include "repeater_commands.h"

namespace {

// Counts the frames the port took whole: the exit status tells a script
// whether the command went out.
class CountingPort : public CommandPort {
 public:
  explicit CountingPort(CommandPort& inner) : m_inner(inner) {}
  bool WriteString(std::string_view bytes) override {
    const bool ok = m_inner.WriteString(bytes);
    if (ok) ++framesWritten;
    return ok;
  }
  bool WriteByte(std::uint8_t byte) override { return m_inner.WriteByte(byte); }
  int ReadData(char* dest, int count) override { return m_inner.ReadData(dest, count); }
  void PurgeAll() override { m_inner.PurgeAll(); }
  void Drain() override { m_inner.Drain(); }
  bool WaitForInput(int timeoutMs) override { return m_inner.WaitForInput(timeoutMs); }
  int ReadTimeoutMs() const override { return m_inner.ReadTimeoutMs(); }
  int framesWritten = 0;

 private:
  CommandPort& m_inner;
};

// The options both commands take besides the port.
struct SendOptions {
  PortOptions port;
  CommandControls controls;
  bool haveId = false;
  double listenSeconds = 3;
  bool json = false;
  std::vector<std::string> positional;
};

// Parses `args`; an error text on bad input.
std::string ParseSendOptions(const CliArgs& args, bool commandOptions, SendOptions& o) {
  const std::string walked = WalkOptions(args, o.port, [&](size_t& i) -> std::string {
    const std::string& a = args[i];
    const bool takesValue = a == "--id" || (commandOptions && (a == "--version" || a == "--listen"));
    if (takesValue && i + 1 >= args.size()) return "option " + a + " needs a value";
    if (a == "--id") {
      o.controls.repeaterId = args[++i];
      o.haveId = true;
    } else if (commandOptions && a == "--json") {
      o.json = true;
    } else if (commandOptions && a == "--bare") {
      o.controls.bmt = true;
    } else if (commandOptions && a == "--version") {
      o.controls.version = args[++i];
    } else if (commandOptions && a == "--listen") {
      std::string error;
      const std::optional<double> s = ParseRealOption(a, args[++i], 0, 86400, error);
      if (!s) return error;
      o.listenSeconds = *s;
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      return "unknown option '" + a + "'";
    } else if (commandOptions) {
      o.positional.push_back(a);
    } else {
      return "unexpected argument '" + a + "'";
    }
    return {};
  });
  if (!walked.empty()) return walked;
  if (std::string error = CheckPortChoice(o.port); !error.empty()) return error;
  if (!o.haveId && !o.port.simulate) return "--id is required";
  return {};
}

// Passes lines on to the log text, or with --json to the session's "port" objects.
class ForwardSink : public LogSink {
 public:
  explicit ForwardSink(LogSink& target) : m_target(&target) {}
  void AppendLine(std::string_view line) override { m_target->AppendLine(line); }
  void Retarget(LogSink& target) { m_target = &target; }

 private:
  LogSink* m_target;
};

// The live port and the commands over it, wired as the main window wires Comm1.
class CommandRun {
 public:
  explicit CommandRun(SendOptions& o) : m_options(o), m_out(stdout, true), m_log(m_out), m_live(o.port) {
    m_live.LogTo(m_log);
  }

  // Starts the simulator; false with a message on standard error.
  bool Prepare() {
    if (const std::string error = m_live.Start(); !error.empty()) {
      CliError(error);
      return false;
    }
    if (const std::string id = m_live.SimulatedRepeaterId(); !id.empty() && !m_options.haveId)
      m_options.controls.repeaterId = id;
    return true;
  }

  // After Prepare: the receive path decoding what the selected repeater says.
  void Listen(const DecodeSessionOptions& decode) {
    m_session = std::make_unique<DecodeSession>(decode, m_out, true);
    m_log.Retarget(m_session->PortLog());
    m_live.Receive(*m_session);
  }

  // Runs `command`; false when it raised (the message is on standard error).
  template <class Fn>
  bool Run(Fn command) {
    RepeaterCommands commands(m_state, CommandEnvironment{
                                           m_log,
                                           [this](const std::string& text) { m_status.push_back(text); },
                                           m_clock,
                                           [this] { return m_live.Connection().EnsurePortOpen(); },
                                           m_port,
                                           m_prompts,
                                       });
    try {
      command(commands);
      return true;
    } catch (const std::exception& e) {
      // What the window's error report would show.
      std::fprintf(stderr, "velrpt-cli: %s\n", e.what());
      return false;
    }
  }

  // Receives for `seconds` (or until told to stop).
  void Wait(double seconds) { m_live.Run(seconds); }
  void Close() { m_live.Close(); }

  int FramesWritten() const { return m_port.framesWritten; }
  const std::vector<std::string>& Status() const { return m_status; }
  LogSink& Out() { return m_log; }

 private:
  SendOptions& m_options;
  StreamLogSink m_out;
  ForwardSink m_log;
  std::unique_ptr<DecodeSession> m_session;
  // After the session: the port closes before the session goes.
  LivePort m_live;
  CountingPort m_port{m_live.Port()};
  CommandState m_state;
  SystemClock m_clock;
  StderrPrompts m_prompts;
  std::vector<std::string> m_status;  // StatusBar1 panel index 1, every text it showed
};

}  // namespace

const char* SendHelp() {
  static const std::string text =
      std::string(
          "usage: velrpt-cli send KIND [ARGS] --port NAME|--simulate [--speed TEXT] [--parity TEXT]\n"
          "                       --id TEXT [--bare] [--version TEXT] [--listen S] [--json]\n"
          "Sends one repeater command as its Set button does: opens the port as \"Connect\n"
          "to port\" does, checks and builds the frame, writes it, and prints the log\n"
          "lines (the port connection's too). Then, for S seconds, prints the decoded\n"
          "answers of that repeater (\"Show only service data\" on).\n\n") +
      kCommandKindsHelp + "\n" + kPortOptionsHelp +
      "  --id TEXT            the selected repeater's serial ID (required with --port;\n"
      "                       with --simulate the simulated repeater's by default)\n"
      "  --bare               \"BMT\" ticked: no start and end byte (wireless mode\n"
      "                       frames keep them)\n"
      "  --version TEXT       the protocol version setting (default \"3\")\n"
      "  --listen S           seconds to print the repeater's answers (default 3)\n"
      "  --json               JSON Lines instead of the log text: the sent command's and\n"
      "                       the port's lines as \"port\" objects, every frame heard as\n"
      "                       one object (see velrpt-cli(1))\n\n"
      "Exit status: 0 the frame was sent, 1 the command was refused or the port\n"
      "failed, 2 bad input.\n";
  return text.c_str();
}

int RunSend(const CliArgs& args) {
  SendOptions o;
  if (const std::string error = ParseSendOptions(args, true, o); !error.empty()) return CliError(error);
  CommandKind kind{};
  if (const std::string error = ParseCommandKind(o.positional, kind, o.controls); !error.empty())
    return CliError(error);

  CommandRun run(o);
  if (!run.Prepare()) return 1;

  DecodeSessionOptions decode;
  decode.decode.repeaterId = o.controls.repeaterId;
  // Edit_newID: the answer to a new ID may come under either ID.
  if (kind == CommandKind::NewId) decode.decode.newId = o.controls.newId;
  decode.decode.onlyRepeater = true;
  decode.json = o.json;
  run.Listen(decode);

  const bool ran = run.Run([&](RepeaterCommands& commands) { commands.Run(kind, o.controls); });
  if (!ran || run.FramesWritten() == 0) {
    run.Close();
    return 1;
  }
  run.Wait(o.listenSeconds);
  run.Close();
  return 0;
}

const char* SetInKorvexHelp() {
  static const std::string text =
      std::string(
          "usage: velrpt-cli set-in-korvex --port NAME|--simulate [--speed TEXT] [--parity TEXT] --id TEXT\n"
          "Writes the repeater's ID into the Korvex's parameter memory as \"Set in Korvex\"\n"
          "does (eight configuration-mode exchanges), prints the log lines and then the\n"
          "resulting status text: \"Parameter succesfully saved!\" or \"Error setting parameter\".\n\n") +
      kPortOptionsHelp +
      "  --id TEXT            the repeater's serial ID (required with --port; with\n"
      "                       --simulate the simulated repeater's by default)\n\n"
      "Exit status: 0 all eight parameters saved, 1 refused, a parameter not saved or\n"
      "the port failed, 2 bad input.\n";
  return text.c_str();
}

int RunSetInKorvex(const CliArgs& args) {
  SendOptions o;
  if (const std::string error = ParseSendOptions(args, false, o); !error.empty()) return CliError(error);

  CommandRun run(o);
  if (!run.Prepare()) return 1;
  // No receive path: the prompts are read straight from the port.
  bool saved = false;
  const bool ran = run.Run([&](RepeaterCommands& commands) { saved = commands.SetInKorvex(o.controls); });
  const std::vector<std::string>& status = run.Status();
  if (!status.empty()) run.Out().AppendLine(status.back());
  run.Close();
  return ran && saved ? 0 : 1;
}
