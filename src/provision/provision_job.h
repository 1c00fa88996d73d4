#pragma once
// A provisioning job: one repeater and the settings it should end up with,
// its outcome, and the texts and files around it (the batch file, the result
// lines, the report).

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "local_formats.h"

// The settings a job can ask for. The report's names for them ("START
// HOUR", "FLAG 3", ...) are texts of the report alone: ReportLabel.
enum class Setting { kStartHour, kRxHours, kWirelessMode, kFlag, kCalibration, kClock, kId };

// The report's name of a setting; `flag` is the flag's number for kFlag.
std::string ReportLabel(Setting setting, int flag = 0);

// The values a job may ask for, inclusive.
struct SettingRange {
  int lo, hi;
};
SettingRange RangeOf(Setting setting);  // start hour, rx hours, flag or calibration

struct ProvisionJob {
  std::string id;                           // the repeater's present serial ID, 8 digits
  std::optional<int> rxStartHour;           // RangeOf(kStartHour)
  std::optional<int> rxHours;               // RangeOf(kRxHours)
  std::optional<std::string> wirelessMode;  // a Combo_wirelessMode text
  std::map<int, bool> flags;                // flag number (RangeOf(kFlag)) -> set (true) or clear
  std::optional<int> calibration;           // RangeOf(kCalibration)
  bool calibrationOn = false;
  bool setClock = false;  // the PC's date and time
  std::string newId;      // empty: the ID stays

  // True when the job asks for anything at all.
  bool WantsSomething() const;
};

// A value of the job that no repeater can take: which setting, and the text.
struct JobFault {
  Setting setting;
  std::string text;  // "rx hours must be 1..6"
};
// The values of `job` outside their range, in the order of the settings
// (CheckJob's first reason among them); the parsers word a fault with the
// text they were given.
std::vector<JobFault> ValueFaults(const ProvisionJob& job);

// The one judge of a job: an error text when it cannot be run as it stands
// (IDs, ranges, flags of both halves, nothing wanted), else empty. A flags
// answer carries 32 flags without saying which 32, so one job keeps to flags
// 1-32 or to flags 33-64.
std::string CheckJob(const ProvisionJob& job);

// The wanted settings as one short text ("start 5, hours 4, Mode S, flag 33 on").
std::string WantedText(const ProvisionJob& job);

enum class JobState { Waiting, Running, Verified, Mismatch, Silent, Stopped };
const char* JobStateText(JobState state);  // "waiting", ..., "verified", "mismatch", "silent", "stopped"

struct Difference {
  std::string
      field;  // "START HOUR", "WORK HOURS RX", "WIRELESS MODE", "FLAG n", "CLOCK", "CLOCK CALIBRATION", "ID"
  std::string wanted;
  std::string reported;  // "nothing" when the repeater never reported it
  bool operator==(const Difference&) const = default;
};

struct JobOutcome {
  JobState state = JobState::Waiting;
  int attempts = 0;
  std::vector<Difference> differs;  // of the last comparison
  std::optional<LocalTime> lastAnswer;
  std::optional<LocalTime> finished;
};

// "12345678 verified", "12345678 mismatch: WORK HOURS RX wanted 4, reported 2",
// "12345678 silent after 3 attempts".
std::string ResultLine(const std::string& id, const JobOutcome& outcome);

// "NAME wanted X reported Y", joined by ", " (the report's differs column).
std::string DiffersText(const std::vector<Difference>& differs);

// "2026-12-08T21:30:05".
std::string IsoText(const LocalTime& t);

// The report: header "id;result;attempts;differs;finished" and one row per
// finished job (waiting or stopped jobs have no result yet and are left out).
std::string ReportCsv(const std::vector<ProvisionJob>& jobs, const std::vector<JobOutcome>& outcomes);

// A batch file: a header row naming the columns (any order, case ignored),
// then one job per row; ";", "," or a tab between cells, as the header shows.
// Columns: id (required), rx-start-hour, rx-hours, wireless-mode, datetime
// (yes/no), flags ("1 on 33 off"), clock-calibration ("300 on"), new-id.
// An empty cell asks for nothing. On failure an error text naming the line.
std::string ParseJobsText(std::string_view text, std::vector<ProvisionJob>& jobs);

// Parses one on/off word; false for any other text.
bool ParseOnOff(std::string_view text, bool& on);
