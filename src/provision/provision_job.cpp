#include "provision_job.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "command_frame.h"
#include "plain_text.h"

namespace {

bool IsId(const std::string& id) {
  return id.size() == 8 && std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> Split(std::string_view line, char sep) {
  std::vector<std::string> cells;
  size_t start = 0;
  for (;;) {
    const size_t at = line.find(sep, start);
    cells.push_back(
        Trim(line.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start)));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return cells;
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    const size_t start = i;
    while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

// A whole number as written; its range is CheckValues' to judge.
std::optional<int> Number(const std::string& text) { return ParseDecimalText(text); }

bool InRange(int v, Setting s) { return v >= RangeOf(s).lo && v <= RangeOf(s).hi; }

std::string RangeText(Setting s) {
  return std::to_string(RangeOf(s).lo) + ".." + std::to_string(RangeOf(s).hi);
}

}  // namespace

bool ProvisionJob::WantsSomething() const {
  return rxStartHour || rxHours || wirelessMode || !flags.empty() || calibration || setClock ||
         !newId.empty();
}

bool ParseOnOff(std::string_view text, bool& on) {
  const std::string t = Lower(std::string(text));
  if (t == "on") return on = true, true;
  if (t == "off") return on = false, true;
  return false;
}

std::string ReportLabel(Setting setting, int flag) {
  switch (setting) {
    case Setting::kStartHour:
      return "START HOUR";
    case Setting::kRxHours:
      return "WORK HOURS RX";
    case Setting::kWirelessMode:
      return "WIRELESS MODE";
    case Setting::kFlag:
      return "FLAG " + std::to_string(flag);
    case Setting::kCalibration:
      return "CLOCK CALIBRATION";
    case Setting::kClock:
      return "CLOCK";
    case Setting::kId:
      return "ID";
  }
  return {};
}

SettingRange RangeOf(Setting setting) {
  switch (setting) {
    case Setting::kStartHour:
      return {0, 23};
    case Setting::kRxHours:
      return {1, 6};
    case Setting::kFlag:
      return {1, 64};
    case Setting::kCalibration:
      return {0, kMaxCalibration};
    default:
      return {0, 0};
  }
}

std::vector<JobFault> ValueFaults(const ProvisionJob& job) {
  std::vector<JobFault> faults;
  if (job.rxStartHour && !InRange(*job.rxStartHour, Setting::kStartHour))
    faults.push_back({Setting::kStartHour, "rx start hour must be " + RangeText(Setting::kStartHour)});
  if (job.rxHours && !InRange(*job.rxHours, Setting::kRxHours))
    faults.push_back({Setting::kRxHours, "rx hours must be " + RangeText(Setting::kRxHours)});
  if (job.wirelessMode && !WirelessModeCode(*job.wirelessMode))
    faults.push_back({Setting::kWirelessMode,
                      "wireless mode must be one of \"Mode T+C\", \"Mode T\", \"Mode S\", \"Mode C\""});
  if (job.calibration && !InRange(*job.calibration, Setting::kCalibration))
    faults.push_back(
        {Setting::kCalibration, "clock calibration must be " + RangeText(Setting::kCalibration)});
  for (const auto& [n, on] : job.flags)
    if (!InRange(n, Setting::kFlag)) {
      faults.push_back({Setting::kFlag, "flag number must be " + RangeText(Setting::kFlag)});
      break;
    }
  return faults;
}

std::string CheckJob(const ProvisionJob& job) {
  if (!IsId(job.id)) return "repeater ID must be 8 digits: '" + job.id + "'";
  if (!job.newId.empty() && !IsId(job.newId)) return "new ID must be 8 digits: '" + job.newId + "'";
  if (job.newId == job.id) return "new ID " + job.newId + " is the repeater's present ID";
  if (const std::vector<JobFault> faults = ValueFaults(job); !faults.empty()) return faults.front().text;
  bool low = false, high = false;
  for (const auto& [n, on] : job.flags) (n <= 32 ? low : high) = true;
  if (low && high) return "flags 1-32 and 33-64 go in separate jobs of the same repeater";
  if (!job.WantsSomething()) return "nothing to set for repeater " + job.id;
  return {};
}

std::string WantedText(const ProvisionJob& job) {
  std::vector<std::string> parts;
  if (job.rxStartHour) parts.push_back("start " + std::to_string(*job.rxStartHour));
  if (job.rxHours) parts.push_back("hours " + std::to_string(*job.rxHours));
  if (job.wirelessMode) parts.push_back(*job.wirelessMode);
  for (const auto& [n, on] : job.flags) parts.push_back("flag " + std::to_string(n) + (on ? " on" : " off"));
  if (job.calibration)
    parts.push_back("calibration " + std::to_string(*job.calibration) + (job.calibrationOn ? " on" : " off"));
  if (job.setClock) parts.push_back("clock");
  if (!job.newId.empty()) parts.push_back("new ID " + job.newId);
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : ", ") + p;
  return out;
}

const char* JobStateText(JobState state) {
  switch (state) {
    case JobState::Waiting:
      return "waiting";
    case JobState::Running:
      return "running";
    case JobState::Verified:
      return "verified";
    case JobState::Mismatch:
      return "mismatch";
    case JobState::Silent:
      return "silent";
    case JobState::Stopped:
      return "stopped";
  }
  return "";
}

std::string ResultLine(const std::string& id, const JobOutcome& outcome) {
  switch (outcome.state) {
    case JobState::Mismatch: {
      std::string line = id + " mismatch:";
      bool first = true;
      for (const Difference& d : outcome.differs) {
        line += (first ? " " : "; ") + d.field + " wanted " + d.wanted + ", reported " + d.reported;
        first = false;
      }
      return line;
    }
    case JobState::Silent:
      return id + " silent after " + std::to_string(outcome.attempts) + " attempts";
    default:
      return id + " " + JobStateText(outcome.state);
  }
}

std::string DiffersText(const std::vector<Difference>& differs) {
  std::string out;
  for (const Difference& d : differs)
    out += (out.empty() ? "" : ", ") + d.field + " wanted " + d.wanted + " reported " + d.reported;
  return out;
}

std::string IsoText(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return buf;
}

std::string ReportCsv(const std::vector<ProvisionJob>& jobs, const std::vector<JobOutcome>& outcomes) {
  std::string out = "id;result;attempts;differs;finished\n";
  for (size_t i = 0; i < jobs.size() && i < outcomes.size(); ++i) {
    const JobOutcome& o = outcomes[i];
    if (o.state != JobState::Verified && o.state != JobState::Mismatch && o.state != JobState::Silent)
      continue;
    out += jobs[i].id + ";" + JobStateText(o.state) + ";" + std::to_string(o.attempts) + ";" +
           DiffersText(o.differs) + ";" + (o.finished ? IsoText(*o.finished) : std::string()) + "\n";
  }
  return out;
}

namespace {

enum class JobColumn { kId, kStart, kHours, kMode, kDateTime, kFlags, kCalibration, kNewId };

std::vector<std::string> TextLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// The columns the header names, in its order; an error text for a bad header.
std::string HeaderColumns(const std::string& header, char sep, std::vector<JobColumn>& columns) {
  static const std::pair<const char*, JobColumn> kNames[] = {{"id", JobColumn::kId},
                                                             {"rx-start-hour", JobColumn::kStart},
                                                             {"rx-hours", JobColumn::kHours},
                                                             {"wireless-mode", JobColumn::kMode},
                                                             {"datetime", JobColumn::kDateTime},
                                                             {"flags", JobColumn::kFlags},
                                                             {"clock-calibration", JobColumn::kCalibration},
                                                             {"new-id", JobColumn::kNewId}};
  for (const std::string& name : Split(header, sep)) {
    const std::string n = Lower(name);
    const auto it =
        std::find_if(std::begin(kNames), std::end(kNames), [&](const auto& k) { return n == k.first; });
    if (it == std::end(kNames)) return "unknown column '" + name + "'";
    if (std::find(columns.begin(), columns.end(), it->second) != columns.end())
      return "column '" + name + "' twice";
    columns.push_back(it->second);
  }
  if (std::find(columns.begin(), columns.end(), JobColumn::kId) == columns.end()) return "no id column";
  return {};
}

// Whether the value just put into `job` passes the judge.
bool Judged(const ProvisionJob& job, Setting setting) {
  const std::vector<JobFault> faults = ValueFaults(job);
  return std::none_of(faults.begin(), faults.end(), [&](const JobFault& f) { return f.setting == setting; });
}

std::string FlagsCell(const std::string& v, ProvisionJob& job) {
  const std::vector<std::string> w = Words(v);
  if (w.size() % 2 != 0) return "flags must be pairs 'N on|off', not '" + v + "'";
  for (size_t i = 0; i < w.size(); i += 2) {
    const std::optional<int> n = Number(w[i]);
    bool on = false;
    if (n) job.flags[*n] = on;
    if (!n || !Judged(job, Setting::kFlag) || !ParseOnOff(w[i + 1], on))
      return "flags must be pairs 'N on|off' with N " + RangeText(Setting::kFlag) + ", not '" + v + "'";
    job.flags[*n] = on;
  }
  return {};
}

// One cell's value into `job`; an error text naming the column.
std::string ApplyCell(JobColumn column, const std::string& v, ProvisionJob& job) {
  switch (column) {
    case JobColumn::kId:
      job.id = v;
      break;
    case JobColumn::kStart:
      if (!(job.rxStartHour = Number(v)) || !Judged(job, Setting::kStartHour))
        return "rx-start-hour must be " + RangeText(Setting::kStartHour) + ", not '" + v + "'";
      break;
    case JobColumn::kHours:
      if (!(job.rxHours = Number(v)) || !Judged(job, Setting::kRxHours))
        return "rx-hours must be " + RangeText(Setting::kRxHours) + ", not '" + v + "'";
      break;
    case JobColumn::kMode:
      job.wirelessMode = v;
      break;
    case JobColumn::kDateTime: {
      const std::string y = Lower(v);
      if (y != "yes" && y != "no") return "datetime must be yes or no, not '" + v + "'";
      job.setClock = y == "yes";
      break;
    }
    case JobColumn::kFlags:
      return FlagsCell(v, job);
    case JobColumn::kCalibration: {
      const std::vector<std::string> w = Words(v);
      bool on = false;
      if (w.size() != 2 || !(job.calibration = Number(w[0])) || !Judged(job, Setting::kCalibration) ||
          !ParseOnOff(w[1], on))
        return "clock-calibration must be 'V on|off' with V " + RangeText(Setting::kCalibration) + ", not '" +
               v + "'";
      job.calibrationOn = on;
      break;
    }
    case JobColumn::kNewId:
      job.newId = v;
      break;
  }
  return {};
}

}  // namespace

std::string ParseJobsText(std::string_view text, std::vector<ProvisionJob>& jobs) {
  const std::vector<std::string> lines = TextLines(text);
  size_t headerAt = 0;
  while (headerAt < lines.size() && Trim(lines[headerAt]).empty()) ++headerAt;
  if (headerAt == lines.size()) return "no header row";
  const std::string& header = lines[headerAt];
  const char sep = header.find(';') != std::string::npos    ? ';'
                   : header.find('\t') != std::string::npos ? '\t'
                                                            : ',';
  std::vector<JobColumn> columns;
  if (const std::string error = HeaderColumns(header, sep, columns); !error.empty())
    return "line " + std::to_string(headerAt + 1) + ": " + error;

  std::vector<ProvisionJob> parsed;
  for (size_t l = headerAt + 1; l < lines.size(); ++l) {
    if (Trim(lines[l]).empty()) continue;
    const std::string where = "line " + std::to_string(l + 1) + ": ";
    const std::vector<std::string> cells = Split(lines[l], sep);
    if (cells.size() > columns.size()) return where + "more cells than the header has columns";
    ProvisionJob job;
    for (size_t c = 0; c < cells.size(); ++c) {
      if (cells[c].empty()) continue;
      if (const std::string error = ApplyCell(columns[c], cells[c], job); !error.empty())
        return where + error;
    }
    if (const std::string error = CheckJob(job); !error.empty()) return where + error;
    parsed.push_back(std::move(job));
  }
  if (parsed.empty()) return "no jobs below the header row";
  jobs.insert(jobs.end(), parsed.begin(), parsed.end());
  return {};
}
