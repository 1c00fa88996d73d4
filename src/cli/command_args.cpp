#include "command_args.h"

#include <cstdio>
#include <map>

namespace {

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
      if (std::string error = CalibrationRangeError(a[0]); !error.empty()) return error;
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

const char* const kCommandKindsHelp =
    "KIND and ARGS, each ARG as typed into its control:\n"
    "  rx-start-hour H              receive start hour, 0 to 23\n"
    "  rx-hours N                   receive hours, 1 to 6\n"
    "  rx-window H N                both together\n"
    "  datetime                     the PC clock\n"
    "  flag TEXT on|off             flag number (1 to 64), set or clear\n"
    "  clock-calibration TEXT on|off  calibration value (0 to 32767), calibration on or off\n"
    "  wireless-mode TEXT           \"Mode T+C\", \"Mode T\", \"Mode S\" or \"Mode C\"\n"
    "  new-id TEXT                  the repeater's new 8-digit serial ID\n"
    "  custom TEXT                  data bytes in hex, e.g. \"01 FD 17\"\n";

std::string ParseCommandKind(const std::vector<std::string>& positional, CommandKind& kind,
                             CommandControls& controls) {
  if (positional.empty()) return "which command? (see --help)";
  const auto entry = Kinds().find(positional[0]);
  if (entry == Kinds().end()) return "unknown command kind '" + positional[0] + "'";
  const std::vector<std::string> kindArgs(positional.begin() + 1, positional.end());
  if (kindArgs.size() != entry->second.argCount)
    return positional[0] + " takes " + std::to_string(entry->second.argCount) + " argument(s)";
  kind = entry->second.kind;
  return ApplyArguments(kind, kindArgs, controls);
}

bool StderrPrompts::Confirm(const std::string&, const std::string& text, Icon) {
  std::fprintf(stderr, "%s\n", text.c_str());
  return false;
}

void StderrPrompts::Message(const std::string&, const std::string& text, Icon) {
  std::fprintf(stderr, "%s\n", text.c_str());
}
