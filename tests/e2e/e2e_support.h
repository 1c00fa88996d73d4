#pragma once
// What the whole-program tests share: every repeater command with what the
// simulated repeater must make of it, and small text helpers.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <cstdint>
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

// The frames of a recorded line that a receive path must decode: whole
// (0x68, L, L bytes, 0x16) and overlapping no damaged start. A damaged start
// is a 0x68 outside the frames taken (noise, a frame whose end byte is
// wrong): a receiver that meets it may hold it as a frame start up to its
// end position. A taken frame that such a span reaches is left out, and so
// are the start bytes inside it, which a receiver might meet as well.
// Linear in the line's length per round, so a run of many thousand frames
// is checked in moments.
struct FrameSpan {
  size_t first, last;  // offsets of the start and the end byte
};

// Every frame of a recorded line that went out whole, damaged neighbours or not.
inline std::vector<FrameSpan> WholeFrameSpans(const std::string& line) {
  const auto at = [&](size_t i) { return static_cast<std::uint8_t>(line[i]); };
  std::vector<FrameSpan> frames;
  for (size_t i = 0; i < line.size();) {
    if (at(i) == 0x68 && i + 1 < line.size()) {
      const size_t end = i + at(i + 1) + 2;
      // A telegram of ours carries its C-field 0x44 and more than a header;
      // the rare 0x68 .. 0x16 made of noise does not count as sent whole.
      if (end < line.size() && at(end) == 0x16 && at(i + 1) >= 10 && at(i + 2) == 0x44) {
        frames.push_back({i, end});
        i = end + 1;
        continue;
      }
    }
    ++i;
  }
  return frames;
}

inline std::vector<std::string> CleanFrames(const std::string& line) {
  using Span = FrameSpan;
  const auto at = [&](size_t i) { return static_cast<std::uint8_t>(line[i]); };
  const std::vector<Span> frames = WholeFrameSpans(line);
  std::vector<bool> keep(frames.size(), true);
  for (bool changed = true; changed;) {
    changed = false;
    std::vector<bool> trusted(line.size(), false);
    for (size_t k = 0; k < frames.size(); ++k)
      if (keep[k])
        for (size_t i = frames[k].first; i <= frames[k].last; ++i) trusted[i] = true;
    std::vector<Span> damage;  // in the order of their first byte
    for (size_t i = 0; i + 1 < line.size(); ++i)
      if (at(i) == 0x68 && !trusted[i]) damage.push_back({i, std::min(line.size() - 1, i + at(i + 1) + 2)});
    // A frame is reached when a span starting at or before its last byte
    // ends at or after its first: the furthest end of those spans tells.
    size_t d = 0, reach = 0;
    bool any = false;
    for (size_t k = 0; k < frames.size(); ++k) {
      for (; d < damage.size() && damage[d].first <= frames[k].last; ++d) {
        reach = any ? std::max(reach, damage[d].last) : damage[d].last;
        any = true;
      }
      if (keep[k] && any && reach >= frames[k].first) {
        keep[k] = false;
        changed = true;
      }
    }
  }
  std::vector<std::string> clean;
  for (size_t k = 0; k < frames.size(); ++k)
    if (keep[k]) clean.push_back(line.substr(frames[k].first, frames[k].last - frames[k].first + 1));
  return clean;
}

}  // namespace e2e
