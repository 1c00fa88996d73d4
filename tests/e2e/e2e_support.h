#pragma once
// What the whole-program tests share: every repeater command with what the
// simulated repeater must make of it, and small text helpers.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "repeater.h"

namespace e2e {

inline const std::string kRepeater = "12345678";

struct CommandCase {
  const char* name;
  std::vector<std::string> args;                           // KIND and ARGS as velrpt-cli takes them
  bool bare = false;                                       // "BMT" ticked
  std::vector<std::string> answer;                         // lines the decoded answer must hold
  std::string answerFrom = kRepeater;                      // the ID the answer comes under
  std::function<bool(const sim::RepeaterState&)> applied;  // the repeater's state afterwards
};

// The simulated repeater as it starts: hour 6 for 4 hours, mode T1+C, only
// flag 1 (auto mode) set, calibration 0.
inline sim::RepeaterState Initial() {
  sim::RepeaterState s;
  s.flags[0] = true;
  return s;
}

inline bool Unchanged(const sim::RepeaterState& s) { return s == Initial(); }

// Every command kind but datetime (whose answer depends on the clock).
inline const std::vector<CommandCase>& CommandCases() {
  static const std::vector<CommandCase> cases = {
      {"rx-start-hour",
       {"rx-start-hour", "5"},
       false,
       {"START HOUR = 5", "WORK HOURS RX = 4"},
       kRepeater,
       [](const sim::RepeaterState& s) { return s.rxStartHour == 5 && s.rxHours == 4; }},
      {"rx-hours bare",
       {"rx-hours", "2"},
       true,
       {"START HOUR = 6", "WORK HOURS RX = 2"},
       kRepeater,
       [](const sim::RepeaterState& s) { return s.rxStartHour == 6 && s.rxHours == 2; }},
      {"rx-window",
       {"rx-window", "22", "3"},
       false,
       {"START HOUR = 22", "WORK HOURS RX = 3"},
       kRepeater,
       [](const sim::RepeaterState& s) { return s.rxStartHour == 22 && s.rxHours == 3; }},
      {"flag set",
       {"flag", "5", "on"},
       false,
       {"Flags (32 total): 00000011"},
       kRepeater,
       [](const sim::RepeaterState& s) { return s.flags[4] && s.flags[0]; }},
      {"flag in the upper bank",
       {"flag", "40", "on"},
       true,
       {"Flags (32 total): 00000080"},
       kRepeater,
       [](const sim::RepeaterState& s) { return s.flags[39]; }},
      {"flag clear",
       {"flag", "1", "off"},
       false,
       {"Flags (32 total): 00000000"},
       kRepeater,
       [](const sim::RepeaterState& s) { return !s.flags[0]; }},
      {"clock-calibration on",
       {"clock-calibration", "300", "on"},
       false,
       {"Clock calibration in HEX: 0x32022C81", "Clock calibration: 300, with Flag"},
       kRepeater,
       [](const sim::RepeaterState& s) { return s.calibration == 0x812C; }},
      {"clock-calibration off",
       {"clock-calibration", "300", "off"},
       true,
       {"Clock calibration: 300, without Flag"},
       kRepeater,
       [](const sim::RepeaterState& s) { return s.calibration == 300; }},
      {"clock-calibration out of range",
       {"clock-calibration", "600", "off"},
       false,
       {"Error telegram - Invalid input data"},
       kRepeater,
       Unchanged},
      {"wireless-mode S",
       {"wireless-mode", "Mode S"},
       false,
       {"Wireless mode: S1"},
       kRepeater,
       [](const sim::RepeaterState& s) { return s.wirelessMode == 3; }},
      {"wireless-mode C",
       {"wireless-mode", "Mode C"},
       true,
       {"Wireless mode: C"},
       kRepeater,
       [](const sim::RepeaterState& s) { return s.wirelessMode == 5; }},
      {"new-id",
       {"new-id", "87654321"},
       false,
       {"START HOUR = 6"},
       "87654321",
       [](const sim::RepeaterState& s) { return s.id == "87654321" && s.version == 3; }},
      {"new-id already in use",
       {"new-id", kRepeater},
       false,
       {"Error telegram - ID not found or already active"},
       kRepeater,
       Unchanged},
      {"custom",
       {"custom", "01 22 09"},
       false,
       {"START HOUR = 9"},
       kRepeater,
       [](const sim::RepeaterState& s) { return s.rxStartHour == 9; }},
      {"custom hour out of range",
       {"custom", "01 22 18"},
       true,
       {"Error telegram - Invalid input data"},
       kRepeater,
       Unchanged},
      {"custom unknown mode",
       {"custom", "0F FF 20 01 02"},
       false,
       {"Error telegram - Invalid input data"},
       kRepeater,
       Unchanged},
  };
  return cases;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) lines.push_back(l);
  return lines;
}

inline bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline bool HasPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

inline QStringList Q(const std::vector<std::string>& args) {
  QStringList out;
  for (const auto& a : args) out << QString::fromStdString(a);
  return out;
}

}  // namespace e2e
