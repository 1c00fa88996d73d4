// The command line of `frame` and `send` and the texts of the controls the
// buttons read: KIND and ARGS, decimals, the local time of --now, the
// repeater and new IDs and custom hex data, through the same handler logic
// as the window. Lines of the input: repeater ID, version, --now text, then
// KIND and its ARGS.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture_port.h"
#include "command_args.h"
#include "command_frame.h"
#include "local_formats.h"
#include "log_sink.h"
#include "repeater_commands.h"

namespace {

class SilentPrompts : public Prompts {
 public:
  bool Confirm(const std::string&, const std::string&, Icon) override { return false; }
  void Message(const std::string&, const std::string&, Icon) override {}
  std::optional<std::string> SaveFile(const FileDialog&) override { return std::nullopt; }
  std::optional<std::string> OpenFile(const FileDialog&) override { return std::nullopt; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n')
      lines.emplace_back();
    else
      lines.back() += static_cast<char>(data[i]);
  }
  lines.resize(std::max<size_t>(lines.size(), 3));

  // A decimal that parses is exactly the digits it came from.
  if (const std::optional<int> n = ParseDecimal(lines[0])) {
    std::string digits = lines[0];
    if (!digits.empty() && digits[0] == '+') digits.erase(0, 1);
    if (std::stoll(digits) != *n) std::abort();
  }
  LocalTime now{2026, 12, 7, 9, 5, 3};
  if (ParseLocalTime(lines[2], now) &&
      (now.month < 1 || now.month > 12 || now.day < 1 || now.day > 31 || now.hour > 23 || now.minute > 59))
    std::abort();
  (void)VersionByte(lines[1]);
  (void)WirelessModeCode(lines[1]);

  CommandControls controls;
  controls.repeaterId = lines[0];
  controls.version = lines[1];
  const std::vector<std::string> positional(lines.begin() + 3, lines.end());
  CommandKind kind{};
  if (!ParseCommandKind(positional, kind, controls).empty()) return 0;

  CommandState state;
  FixedClock clock(now);
  VectorLogSink log;
  CapturePort port;
  SilentPrompts prompts;
  CommandEnvironment env{log, {}, clock, [] { return true; }, port, prompts};
  env.sleep = [](int) {};
  RepeaterCommands commands(state, env);
  try {
    commands.Run(kind, controls);
  } catch (const std::exception&) {
    // A refused write reaches the window's error report; nothing else may throw.
  }
  // Every frame written is one whole frame: start byte, length, end byte.
  for (const Bytes& frame : port.frames) {
    if (controls.bmt || frame.size() < 2) continue;
    if (static_cast<std::uint8_t>(frame.front()) != 0x68 || static_cast<std::uint8_t>(frame.back()) != 0x16)
      std::abort();
  }
  return 0;
}
