// velrpt-cli provision: applies wanted settings to one repeater or a batch
// through the buttons' own commands and confirms them from the repeaters'
// answers, printing the log lines, one result line per job and, if asked,
// the report file.

#include <QCoreApplication>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_commands.h"
#include "cli_port.h"
#include "command_args.h"
#include "decode_session.h"
#include "option_range.h"
#include "provision_engine.h"
#include "repeater_answer.h"
#include "repeater_commands.h"
#include "text_files.h"

namespace {

constexpr std::size_t kJobsFileCap = 1 << 20;

struct ProvisionOptions {
  PortOptions port;
  ProvisionJob job;
  bool haveId = false;
  bool haveSetting = false;
  std::string jobsFile;
  std::string reportFile;
  ProvisionSettings settings;
  bool bare = false;
  std::string version = "3";
};

// A whole number within lo..hi; otherwise the line naming the option and its range.
std::string Ranged(const std::string& option, const std::string& text, long lo, long hi, int& out) {
  std::string error;
  if (const std::optional<long long> v = ParseIntOption(option, text, lo, hi, error))
    out = static_cast<int>(*v);
  return error;
}

// A setting's value as typed: converted here and put into the job by `put`,
// judged by the job's own checks (ValueFaults), refused in the options' words.
template <typename Put>
std::string SettingOption(const std::string& option, const std::string& text, Setting setting,
                          ProvisionJob& job, Put put) {
  std::string error;
  const std::optional<long long> v = ParseIntOption(option, text, INT_MIN, INT_MAX, error);
  if (v) put(static_cast<int>(*v));
  const std::vector<JobFault> faults = ValueFaults(job);
  if (v &&
      std::none_of(faults.begin(), faults.end(), [&](const JobFault& f) { return f.setting == setting; }))
    return {};
  const SettingRange range = RangeOf(setting);
  ParseIntOption(option, text, range.lo, range.hi, error);  // only for the refusal's words
  return error;
}

// --flag N on|off and --clock-calibration V on|off at args[i]; `i` moves past them.
std::string SwitchedOption(const CliArgs& args, size_t& i, ProvisionJob& job) {
  const std::string& a = args[i];
  if (i + 2 >= args.size()) return "option " + a + " needs a value and on|off";
  int v = 0;
  const bool flag = a == "--flag";
  const auto put = [&](int n) {
    v = n;
    if (flag)
      job.flags[n] = false;
    else
      job.calibration = n;
  };
  const Setting setting = flag ? Setting::kFlag : Setting::kCalibration;
  if (std::string e = SettingOption(a, args[i + 1], setting, job, put); !e.empty()) return e;
  bool on = false;
  if (!ParseOnOff(args[i + 2], on)) return a + " needs on or off after the value, not '" + args[i + 2] + "'";
  if (flag) {
    job.flags[v] = on;
  } else {
    job.calibration = v;
    job.calibrationOn = on;
  }
  i += 2;
  return {};
}

// The options of `provision` into `o`; an error text for bad input.
std::string ParseProvisionOptions(const CliArgs& args, ProvisionOptions& o) {
  const std::string walked = WalkOptions(args, o.port, [&](size_t& i) -> std::string {
    const std::string& a = args[i];
    const auto need = [&](size_t n) { return i + n < args.size(); };
    const bool setting = a == "--rx-start-hour" || a == "--rx-hours" || a == "--wireless-mode" ||
                         a == "--datetime" || a == "--flag" || a == "--clock-calibration" || a == "--new-id";
    o.haveSetting |= setting;
    if (a == "--datetime") {
      o.job.setClock = true;
    } else if (a == "--bare") {
      o.bare = true;
    } else if (a == "--flag" || a == "--clock-calibration") {
      if (std::string e = SwitchedOption(args, i, o.job); !e.empty()) return e;
    } else if (a == "--id" || a == "--rx-start-hour" || a == "--rx-hours" || a == "--wireless-mode" ||
               a == "--new-id" || a == "--attempts" || a == "--answer-timeout" || a == "--jobs" ||
               a == "--report" || a == "--version") {
      if (!need(1)) return "option " + a + " needs a value";
      const std::string& v = args[++i];
      int n = 0;
      if (a == "--id") {
        o.job.id = v;
        o.haveId = true;
      } else if (a == "--rx-start-hour") {
        if (std::string e =
                SettingOption(a, v, Setting::kStartHour, o.job, [&](int h) { o.job.rxStartHour = h; });
            !e.empty())
          return e;
      } else if (a == "--rx-hours") {
        if (std::string e = SettingOption(a, v, Setting::kRxHours, o.job, [&](int h) { o.job.rxHours = h; });
            !e.empty())
          return e;
      } else if (a == "--wireless-mode") {
        o.job.wirelessMode = v;
      } else if (a == "--new-id") {
        o.job.newId = v;
      } else if (a == "--attempts") {
        if (std::string e = Ranged(a, v, 1, 100, n); !e.empty()) return e;
        o.settings.attempts = n;
      } else if (a == "--answer-timeout") {
        std::string error;
        const std::optional<double> s = ParseRealOption(a, v, 0.1, 3600, error);
        if (!s) return error;
        o.settings.answerTimeoutMs = static_cast<int>(std::lround(*s * 1000));
      } else if (a == "--jobs") {
        o.jobsFile = v;
      } else if (a == "--report") {
        o.reportFile = v;
      } else {
        o.version = v;
      }
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      return "unknown option '" + a + "'";
    } else {
      return "unexpected argument '" + a + "'";
    }
    return {};
  });
  if (!walked.empty()) return walked;
  if (std::string error = CheckPortChoice(o.port); !error.empty()) return error;
  if (o.haveSetting && !o.haveId) return "the settings options need --id";
  if (!o.haveId && o.jobsFile.empty()) return "--id or --jobs is required";
  return {};
}

}  // namespace

const char* ProvisionHelp() {
  static const std::string text =
      std::string(
          "usage: velrpt-cli provision --port NAME|--simulate [--speed TEXT] [--parity TEXT]\n"
          "                       --id ID [--rx-start-hour H] [--rx-hours N] [--wireless-mode TEXT]\n"
          "                       [--datetime] [--flag N on|off]... [--clock-calibration V on|off]\n"
          "                       [--new-id ID] [--attempts N] [--answer-timeout S]\n"
          "                       [--jobs FILE] [--report FILE] [--bare] [--version TEXT]\n"
          "Sends the wanted settings to each repeater with the Set buttons' frames (the\n"
          "new ID last), waits for its answers and compares what it reports; what is\n"
          "still missing is sent again. Prints the log lines (every frame sent, every\n"
          "answer of the repeaters in the job), then one result line per repeater:\n"
          "\"ID verified\", \"ID mismatch: NAME wanted X, reported Y\", \"ID silent after N "
          "attempts\".\n\n") +
      kPortOptionsHelp +
      "  --id ID              the repeater's serial ID; the settings options below\n"
      "                       make up its job\n"
      "  --rx-start-hour H    receive start hour, 0..23\n"
      "  --rx-hours N         receive hours, 1..6\n"
      "  --wireless-mode TEXT \"Mode T+C\", \"Mode T\", \"Mode S\" or \"Mode C\"\n"
      "  --datetime           set the repeater's clock from the PC (checked within 5 s)\n"
      "  --flag N on|off      set or clear flag N (1..64); repeat for more flags, all\n"
      "                       within 1-32 or all within 33-64\n"
      "  --clock-calibration V on|off   calibration value 0..32767 and its switch\n"
      "  --new-id ID          give the repeater this ID (sent last; then followed)\n"
      "  --attempts N         sending rounds per repeater, 1..100 (default 3)\n"
      "  --answer-timeout S   seconds to wait for the answers per round, 0.1..3600 (default 10)\n"
      "  --jobs FILE          more jobs from a delimited file with a header row (see the\n"
      "                       man page); they run after the --id job\n"
      "  --report FILE        write the results as CSV: id;result;attempts;differs;finished\n"
      "  --bare               \"BMT\" ticked: no start and end byte\n"
      "  --version TEXT       the protocol version setting (default \"3\")\n\n"
      "With --simulate the simulated Korvex has one repeater for each ID of the jobs.\n\n"
      "Exit status: 0 every repeater verified, 1 any mismatch or silence (or the port\n"
      "failed), 2 bad input.\n";
  return text.c_str();
}

namespace {

// The jobs of the options and of the batch file; an error text for bad input.
std::string CollectJobs(const ProvisionOptions& o, std::vector<ProvisionJob>& jobs) {
  if (o.haveId) {
    if (std::string error = CheckJob(o.job); !error.empty()) return error;
    jobs.push_back(o.job);
  }
  if (o.jobsFile.empty()) return {};
  std::string text;
  if (std::string error; !ReadWholeFile(o.jobsFile, text, error, kJobsFileCap)) return error;
  if (std::string error = ParseJobsText(text, jobs); !error.empty()) return o.jobsFile + ": " + error;
  return {};
}

// Each job's ID once, in order: the simulated repeaters.
std::vector<std::string> JobIds(const std::vector<ProvisionJob>& jobs) {
  std::vector<std::string> ids;
  for (const ProvisionJob& j : jobs)
    if (std::find(ids.begin(), ids.end(), j.id) == ids.end()) ids.push_back(j.id);
  return ids;
}

// The result lines and the report file; the exit status.
int Report(const ProvisionOptions& o, const std::vector<ProvisionJob>& jobs,
           const std::vector<JobOutcome>& outcomes, LogSink& out) {
  bool allVerified = true;
  for (size_t i = 0; i < jobs.size(); ++i) {
    out.AppendLine(ResultLine(jobs[i].id, outcomes[i]));
    allVerified &= outcomes[i].state == JobState::Verified;
  }
  std::fflush(stdout);
  std::string error;
  if (!o.reportFile.empty() && !ReplaceFile(o.reportFile, ReportCsv(jobs, outcomes), error)) {
    std::fprintf(stderr, "velrpt-cli: %s\n", error.c_str());
    return 1;
  }
  return allVerified ? 0 : 1;
}

}  // namespace

int RunProvision(const CliArgs& args) {
  ProvisionOptions o;
  if (const std::string error = ParseProvisionOptions(args, o); !error.empty()) return CliError(error);
  std::vector<ProvisionJob> jobs;
  if (const std::string error = CollectJobs(o, jobs); !error.empty()) return CliError(error);

  StreamLogSink out(stdout, true);
  LivePort live(o.port);
  if (const std::string error = live.Start(JobIds(jobs)); !error.empty()) {
    CliError(error);
    return 1;
  }
  live.LogTo(out);
  CommandState state;
  SystemClock clock;
  StderrPrompts prompts;
  PortConnection& connection = live.Connection();
  RepeaterCommands commands(
      state, CommandEnvironment{out, [](const std::string&) {}, clock,
                                [&connection] { return connection.EnsurePortOpen(); }, live.Port(), prompts});
  ProvisionEngine engine([&commands](CommandKind kind, const CommandControls& c) { commands.Run(kind, c); },
                         [&o] {
                           CommandControls c;
                           c.bmt = o.bare;
                           c.version = o.version;
                           return c;
                         },
                         clock);
  engine.SetSettings(o.settings);

  // The receive path as `send` runs it ("Show only service data"), with the
  // running job's IDs counted as the selected repeater's.
  DecodeSessionOptions decode;
  decode.decode.onlyRepeater = true;
  DecodeSession session(decode, out);
  session.Handler().Context().repeaterAnswer = [&](std::string_view frame) {
    DecodeRepeaterAnswer(frame, out, session.Time());
    engine.RepeaterFrame(frame);
  };
  live.Receive(session, [&engine](DecodeOptions& options) { options.answerIds = engine.AnswerIds(); });

  if (!connection.EnsurePortOpen()) return 1;
  QObject::connect(&engine, &ProvisionEngine::BatchFinished, &live.App(), &QCoreApplication::quit);
  engine.Start(jobs);
  live.Run();
  engine.Stop();  // Ctrl+C: the running job ends as stopped
  live.Close();
  return Report(o, jobs, engine.Outcomes(), out);
}
