// velrpt-cli frame: the frame one Set button would send, built by the same
// handler logic as the window, printed as the log line the window would show
// (the frame's hex text, or the refusal lines). Nothing is sent anywhere.

#include <cstdio>
#include <string>
#include <vector>

#include "capture_port.h"
#include "cli_commands.h"
#include "command_args.h"
#include "command_frame.h"
#include "decode_session.h"
#include "option_range.h"
#include "repeater_commands.h"

const char* FrameHelp() {
  static const std::string text =
      std::string(
          "usage: velrpt-cli frame KIND [ARGS] --id TEXT [--bare] [--version TEXT] [--access N]\n"
          "                        [--now \"YYYY-MM-DD hh:mm\"]\n"
          "Prints the log line the program writes for one repeater command: the hex\n"
          "text of the frame it sends, or the line(s) refusing it. Nothing is sent.\n\n") +
      kCommandKindsHelp +
      "\n"
      "  --id TEXT          the selected repeater's serial ID (required)\n"
      "  --bare             \"BMT\" ticked: no start and end byte (wireless mode\n"
      "                     frames keep them)\n"
      "  --version TEXT     the protocol version setting (default \"3\")\n"
      "  --access N         the access number the frame carries, 0 to 255 (default 1,\n"
      "                     the first frame after start)\n"
      "  --now \"YYYY-MM-DD hh:mm\"  the PC clock for datetime (default: the real clock)\n\n"
      "Exit status: 0 a frame was built, 1 the command was refused (a wireless mode\n"
      "text outside the list prints nothing), 2 bad input.\n";
  return text.c_str();
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
      if (!value(text)) return CliError("option --access needs a value");
      std::string error;
      const std::optional<long long> n = ParseIntOption(a, text, 0, 255, error);
      if (!n) return CliError(error);
      access = static_cast<int>(*n);
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
  CommandKind kind{};
  if (const std::string error = ParseCommandKind(positional, kind, controls); !error.empty())
    return CliError(error);
  if (!haveId) return CliError("--id is required");

  CommandState state;
  state.accessNumber = static_cast<std::uint8_t>(access - 1);  // the build takes the next one
  SystemClock systemClock;
  FixedClock fixedClock(now.value_or(LocalTime{}));
  const Clock& clock = now ? static_cast<const Clock&>(fixedClock) : systemClock;
  StreamLogSink out(stdout, false);
  CapturePort port;
  StderrPrompts prompts;
  RepeaterCommands commands(state, CommandEnvironment{out, {}, clock, [] { return true; }, port, prompts});
  commands.Run(kind, controls);
  std::fflush(stdout);
  return port.frames.empty() ? 1 : 0;
}
