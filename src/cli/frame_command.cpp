// velrpt-cli frame: the frame one Set button would send, built by the same
// handler logic as the window, printed as the log line the window would show
// (the frame's hex text, or the refusal lines). Nothing is sent anywhere.

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli_commands.h"
#include "command_frame.h"
#include "decode_session.h"
#include "repeater_commands.h"

namespace {

// Takes the frame instead of a serial line.
class CapturePort : public CommandPort {
 public:
  bool WriteString(std::string_view bytes) override {
    frames.emplace_back(bytes);
    return true;
  }
  bool WriteByte(std::uint8_t) override { return true; }
  int ReadData(char*, int) override { return 0; }
  void PurgeAll() override {}
  std::vector<Bytes> frames;
};

// The frame command shows no dialog; should one come, it goes to standard error.
class StderrPrompts : public Prompts {
 public:
  bool Confirm(const std::string&, const std::string& text, Icon) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    return false;
  }
  void Message(const std::string&, const std::string& text, Icon) override {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  std::optional<std::string> SaveFile(const FileDialog&) override { return std::nullopt; }
  std::optional<std::string> OpenFile(const FileDialog&) override { return std::nullopt; }
};

struct KindSpec {
  CommandKind kind;
  size_t argCount;
};

const std::map<std::string, KindSpec>& Kinds() {
  static const std::map<std::string, KindSpec> kinds = {
      {"rx-start-hour", {CommandKind::RxStartHour, 1}},
      {"rx-hours", {CommandKind::RxHours, 1}},
      {"rx-window", {CommandKind::RxWindow, 2}},
      {"datetime", {CommandKind::DateTime, 0}},
      {"flag", {CommandKind::Flag, 2}},
      {"clock-calibration", {CommandKind::ClockCalibration, 2}},
      {"wireless-mode", {CommandKind::WirelessMode, 1}},
      {"new-id", {CommandKind::NewId, 1}},
      {"custom", {CommandKind::CustomData, 1}},
  };
  return kinds;
}

// A spinner position: a whole number within the spinner's range.
bool SpinnerValue(const std::string& text, int low, int high, int& out) {
  const std::optional<int> v = ParseDecimal(text);
  if (!v || *v < low || *v > high) return false;
  out = *v;
  return true;
}

bool OnOff(const std::string& text, bool& out) {
  if (text != "on" && text != "off") return false;
  out = text == "on";
  return true;
}

// Fills the controls a kind reads from its arguments; an error text on bad input.
std::string ApplyArguments(CommandKind kind, const std::vector<std::string>& a, CommandControls& c) {
  switch (kind) {
    case CommandKind::RxStartHour:
      if (!SpinnerValue(a[0], 0, 23, c.rxStartHour)) return "the start hour is 0 to 23, not '" + a[0] + "'";
      break;
    case CommandKind::RxHours:
      if (!SpinnerValue(a[0], 1, 6, c.rxHours)) return "the receive hours are 1 to 6, not '" + a[0] + "'";
      break;
    case CommandKind::RxWindow:
      if (!SpinnerValue(a[0], 0, 23, c.rxStartHour)) return "the start hour is 0 to 23, not '" + a[0] + "'";
      if (!SpinnerValue(a[1], 1, 6, c.rxHours)) return "the receive hours are 1 to 6, not '" + a[1] + "'";
      break;
    case CommandKind::DateTime:
      break;
    case CommandKind::Flag:
      c.flag = a[0];
      if (!OnOff(a[1], c.flagSet)) return "flag state is on or off, not '" + a[1] + "'";
      break;
    case CommandKind::ClockCalibration:
      c.calibration = a[0];
      if (!OnOff(a[1], c.calibrationOn)) return "calibration state is on or off, not '" + a[1] + "'";
      break;
    case CommandKind::WirelessMode:
      c.wirelessMode = a[0];
      break;
    case CommandKind::NewId:
      c.newId = a[0];
      break;
    case CommandKind::CustomData:
      c.customCommand = a[0];
      break;
  }
  return {};
}

}  // namespace

const char* FrameHelp() {
  return "usage: velrpt-cli frame KIND [ARGS] --id TEXT [--bare] [--version TEXT] [--access N]\n"
         "                        [--now \"YYYY-MM-DD hh:mm\"]\n"
         "Prints the log line the program writes for one repeater command: the hex\n"
         "text of the frame it sends, or the line(s) refusing it. Nothing is sent.\n\n"
         "KIND and ARGS, each ARG as typed into its control:\n"
         "  rx-start-hour H              receive start hour, 0 to 23\n"
         "  rx-hours N                   receive hours, 1 to 6\n"
         "  rx-window H N                both together\n"
         "  datetime                     the PC clock (see --now)\n"
         "  flag TEXT on|off             flag number (1 to 64), set or clear\n"
         "  clock-calibration TEXT on|off  calibration value, calibration on or off\n"
         "  wireless-mode TEXT           \"Mode T+C\", \"Mode T\", \"Mode S\" or \"Mode C\"\n"
         "  new-id TEXT                  the repeater's new 8-digit serial ID\n"
         "  custom TEXT                  data bytes in hex, e.g. \"01 FD 17\"\n\n"
         "  --id TEXT          the selected repeater's serial ID (required)\n"
         "  --bare             \"BMT\" ticked: no start and end byte (wireless mode\n"
         "                     frames keep them)\n"
         "  --version TEXT     the protocol version setting (default \"3\")\n"
         "  --access N         the access number the frame carries, 0 to 255 (default 1,\n"
         "                     the first frame after start)\n"
         "  --now \"YYYY-MM-DD hh:mm\"  the PC clock for datetime (default: the real clock)\n\n"
         "Exit status: 0 a frame was built, 1 the command was refused (a wireless mode\n"
         "text outside the list prints nothing), 2 bad input.\n";
}

int RunFrame(const CliArgs& args) {
  CommandControls controls;
  bool haveId = false;
  int access = 1;
  std::optional<LocalTime> now;
  std::vector<std::string> positional;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string text;
    if (a == "--id") {
      if (!value(controls.repeaterId)) return CliError("--id needs the repeater's ID text");
      haveId = true;
    } else if (a == "--bare") {
      controls.bmt = true;
    } else if (a == "--version") {
      if (!value(controls.version)) return CliError("--version needs a text");
    } else if (a == "--access") {
      const std::optional<int> n = value(text) ? ParseDecimal(text) : std::nullopt;
      if (!n || *n < 0 || *n > 255) return CliError("--access needs a number from 0 to 255");
      access = *n;
    } else if (a == "--now") {
      LocalTime t;
      if (!value(text) || !ParseLocalTime(text, t)) return CliError("--now needs \"YYYY-MM-DD hh:mm\"");
      now = t;
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      return CliError("unknown option '" + a + "'");
    } else {
      positional.push_back(a);
    }
  }
  if (positional.empty()) return CliError("which command? (see velrpt-cli frame --help)");
  const auto kind = Kinds().find(positional[0]);
  if (kind == Kinds().end()) return CliError("unknown command kind '" + positional[0] + "'");
  const std::vector<std::string> kindArgs(positional.begin() + 1, positional.end());
  if (kindArgs.size() != kind->second.argCount)
    return CliError(positional[0] + " takes " + std::to_string(kind->second.argCount) + " argument(s)");
  if (!haveId) return CliError("--id is required");
  if (const std::string error = ApplyArguments(kind->second.kind, kindArgs, controls); !error.empty())
    return CliError(error);

  CommandState state;
  state.accessNumber = static_cast<std::uint8_t>(access - 1);  // the build takes the next one
  SystemClock systemClock;
  FixedClock fixedClock(now.value_or(LocalTime{}));
  const Clock& clock = now ? static_cast<const Clock&>(fixedClock) : systemClock;
  StreamLogSink out(stdout, false);
  CapturePort port;
  StderrPrompts prompts;
  RepeaterCommands commands(state, CommandEnvironment{out, {}, clock, [] { return true; }, port, prompts});
  commands.Run(kind->second.kind, controls);
  std::fflush(stdout);
  return port.frames.empty() ? 1 : 0;
}
