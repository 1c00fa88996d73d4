#include "provision_engine.h"

#include <cstdio>

#include "repeater_answer.h"

namespace {

constexpr std::int64_t kMinuteMs = 60'000;

std::string MinuteText(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
  return buf;
}

int FlagBank(const ProvisionJob& job) { return !job.flags.empty() && job.flags.begin()->first > 32 ? 1 : 0; }

const char kNothing[] = "nothing";

}  // namespace

ProvisionEngine::ProvisionEngine(SendFn send, BaseFn base, const Clock& clock, QObject* parent)
    : QObject(parent), m_send(std::move(send)), m_base(std::move(base)), m_clock(clock) {
  m_timer.setSingleShot(true);
  connect(&m_timer, &QTimer::timeout, this, &ProvisionEngine::AnswerTimedOut);
  m_gapTimer.setSingleShot(true);
  connect(&m_gapTimer, &QTimer::timeout, this, &ProvisionEngine::SendNext);
}

bool ProvisionEngine::Start(std::vector<ProvisionJob> jobs) {
  if (m_running) return false;
  for (const ProvisionJob& job : jobs)
    if (!CheckJob(job).empty()) return false;
  m_jobs = std::move(jobs);
  m_outcomes.assign(m_jobs.size(), JobOutcome{});
  m_current = 0;
  m_running = true;
  const std::uint64_t generation = ++m_generation;
  QTimer::singleShot(0, this, [this, generation] {
    if (generation == m_generation) NextJob();
  });
  return true;
}

void ProvisionEngine::Stop() {
  if (!m_running) return;
  ++m_generation;
  m_timer.stop();
  m_gapTimer.stop();
  m_round.clear();
  if (m_current < m_jobs.size() && m_outcomes[m_current].state == JobState::Running) {
    m_outcomes[m_current].state = JobState::Stopped;
    m_outcomes[m_current].finished = m_clock.Now();
    emit JobChanged(static_cast<int>(m_current));
  }
  m_running = false;
  emit BatchFinished();
}

std::vector<std::string> ProvisionEngine::AnswerIds() const {
  if (!m_running || m_current >= m_jobs.size()) return {};
  std::vector<std::string> ids{m_jobs[m_current].id};
  if (!m_jobs[m_current].newId.empty()) ids.push_back(m_jobs[m_current].newId);
  return ids;
}

void ProvisionEngine::NextJob() {
  if (m_current >= m_jobs.size()) {
    m_running = false;
    emit BatchFinished();
    return;
  }
  m_live = Live{};
  m_live.currentId = m_jobs[m_current].id;
  m_outcomes[m_current].state = JobState::Running;
  Attempt();
}

void ProvisionEngine::Attempt() {
  JobOutcome& outcome = m_outcomes[m_current];
  ++outcome.attempts;
  emit JobChanged(static_cast<int>(m_current));
  m_round = PlanRound(Compare());
  m_nextStep = 0;
  SendNext();
}

void ProvisionEngine::SendNext() {
  if (!m_running || m_current >= m_jobs.size() || m_nextStep >= m_round.size()) return;
  const std::uint64_t generation = m_generation;
  const size_t job = m_current;
  const Step step = m_round[m_nextStep++];
  if (step.kind == CommandKind::DateTime) m_live.clockSentMs.push_back(LocalMs(m_clock.Now()));
  m_send(step.kind, step.controls);
  // A send may have ended the job (an answer handed in meanwhile) or the
  // batch (Stop from a handler it reached): nothing is left to do then.
  if (generation != m_generation || !m_running || m_current != job) return;
  if (m_nextStep < m_round.size())
    m_gapTimer.start(m_settings.commandGapMs);
  else
    m_timer.start(m_settings.answerTimeoutMs);
}

std::vector<ProvisionEngine::Step> ProvisionEngine::PlanRound(const std::vector<Missing>& missing) const {
  const ProvisionJob& job = m_jobs[m_current];
  const auto wanted = [&](Setting setting, int flag = 0) {
    for (const Missing& m : missing)
      if (m.setting == setting && m.flag == flag) return true;
    return false;
  };
  std::vector<Step> round;
  CommandControls c = m_base ? m_base() : CommandControls{};
  c.repeaterId = m_live.currentId;
  const auto add = [&](CommandKind kind) { round.push_back({kind, c}); };

  // Flags first: the repeater answers them with a flags answer, the other
  // settings with a status answer that carries the flags 1-32 as well.
  for (const auto& [n, on] : job.flags) {
    if (!wanted(Setting::kFlag, n)) continue;
    c.flag = std::to_string(n);
    c.flagSet = on;
    add(CommandKind::Flag);
  }
  const bool start = job.rxStartHour && wanted(Setting::kStartHour);
  const bool hours = job.rxHours && wanted(Setting::kRxHours);
  if (start) c.rxStartHour = *job.rxStartHour;
  if (hours) c.rxHours = *job.rxHours;
  if (start && hours)
    add(CommandKind::RxWindow);
  else if (start)
    add(CommandKind::RxStartHour);
  else if (hours)
    add(CommandKind::RxHours);
  if (job.wirelessMode && wanted(Setting::kWirelessMode)) {
    c.wirelessMode = *job.wirelessMode;
    add(CommandKind::WirelessMode);
  }
  if (job.calibration && wanted(Setting::kCalibration)) {
    c.calibration = std::to_string(*job.calibration);
    c.calibrationOn = job.calibrationOn;
    add(CommandKind::ClockCalibration);
  }
  if (job.setClock && wanted(Setting::kClock)) add(CommandKind::DateTime);
  // The new ID last: everything before it went to the ID the repeater still has.
  if (!job.newId.empty() && !m_live.newIdHeard) {
    c.newId = job.newId;
    add(CommandKind::NewId);
  }
  return round;
}

std::vector<ProvisionEngine::Missing> ProvisionEngine::Compare() const {
  const ProvisionJob& job = m_jobs[m_current];
  const Reported& r = m_live.reported;
  std::vector<Missing> out;
  const auto number = [&](Setting setting, const std::optional<int>& want, const std::optional<int>& got) {
    if (want && got != want)
      out.push_back({setting, 0, std::to_string(*want), got ? std::to_string(*got) : kNothing});
  };
  number(Setting::kStartHour, job.rxStartHour, r.rxStartHour);
  number(Setting::kRxHours, job.rxHours, r.rxHours);
  if (job.wirelessMode && r.wirelessMode != WirelessModeCode(*job.wirelessMode))
    out.push_back({Setting::kWirelessMode, 0, *job.wirelessMode,
                   r.wirelessMode ? WirelessModeText(*r.wirelessMode) : kNothing});
  for (const auto& [n, on] : job.flags) {
    const std::optional<bool> got =
        r.flagWord ? std::optional<bool>((*r.flagWord >> ((n - 1) % 32)) & 1u) : std::nullopt;
    if (got != on)
      out.push_back({Setting::kFlag, n, on ? "on" : "off", got ? (*got ? "on" : "off") : kNothing});
  }
  if (job.calibration) {
    // CheckJob let only values the word can hold into the batch.
    const std::uint16_t want = CalibrationWord(*job.calibration, job.calibrationOn).value_or(0);
    if (r.calibration != want)
      out.push_back({Setting::kCalibration, 0, CalibrationWordText(want),
                     r.calibration ? CalibrationWordText(*r.calibration) : kNothing});
  }
  if (job.setClock)
    if (std::optional<Missing> clock = CompareClock()) out.push_back(std::move(*clock));
  if (!job.newId.empty() && !m_live.newIdHeard)
    out.push_back({Setting::kId, 0, job.newId, m_live.heard ? m_live.lastId : kNothing});
  return out;
}

std::optional<ProvisionEngine::Missing> ProvisionEngine::CompareClock() const {
  // The date-and-time record has no seconds: the repeater's clock was set
  // to the minute the frame carried, so it runs behind the PC by the
  // seconds of that moment, and it reports whole minutes. What it should
  // show is that minute plus the time since the frame was sent.
  const Reported& r = m_live.reported;
  const std::int64_t tolerance = std::int64_t{m_settings.clockToleranceSeconds} * 1000;
  const std::optional<LocalTime> got = r.clock ? DecodeDateTimeBytes(*r.clock) : std::nullopt;
  bool ok = false;
  std::int64_t expected = 0;
  for (const std::int64_t sent : m_live.clockSentMs) {
    expected = sent - (sent % kMinuteMs + kMinuteMs) % kMinuteMs + (r.clockArrivedMs - sent);
    if (got) {
      const std::int64_t reported = LocalMs(*got);
      ok |= expected >= reported - tolerance && expected < reported + kMinuteMs + tolerance;
    }
  }
  if (ok) return std::nullopt;
  const std::int64_t shown = m_live.clockSentMs.empty() ? LocalMs(m_clock.Now()) : expected;
  return Missing{Setting::kClock, 0, MinuteText(FromLocalMs(shown)), got ? MinuteText(*got) : kNothing};
}

std::vector<Difference> ProvisionEngine::Report(const std::vector<Missing>& missing) {
  std::vector<Difference> out;
  out.reserve(missing.size());
  for (const Missing& m : missing) out.push_back({ReportLabel(m.setting, m.flag), m.wanted, m.reported});
  return out;
}

void ProvisionEngine::RepeaterFrame(std::string_view frame) {
  if (!m_running || m_current >= m_jobs.size() || m_outcomes[m_current].state != JobState::Running) return;
  const ProvisionJob& job = m_jobs[m_current];
  const RepeaterReport report = ParseRepeaterAnswer(frame);
  if (report.id != job.id && (job.newId.empty() || report.id != job.newId)) return;
  if (report.kind == RepeaterReport::Kind::None) return;

  JobOutcome& outcome = m_outcomes[m_current];
  const LocalTime now = m_clock.Now();
  outcome.lastAnswer = now;
  m_live.heard = true;
  m_live.lastId = report.id;
  if (!job.newId.empty() && report.id == job.newId) {
    // From here on the repeater goes by its new ID.
    m_live.newIdHeard = true;
    m_live.currentId = job.newId;
  }
  Reported& r = m_live.reported;
  const int bank = FlagBank(job);
  if (report.kind == RepeaterReport::Kind::Status) {
    if (report.rxStartHour) r.rxStartHour = *report.rxStartHour;
    if (report.rxHours) r.rxHours = *report.rxHours;
    if (report.wirelessMode) r.wirelessMode = *report.wirelessMode;
    // The status answer's flags record holds the flags 1-32.
    if (report.flags && bank == 0) r.flagWord = *report.flags;
    if (report.clock) {
      r.clock = *report.clock;
      r.clockArrivedMs = LocalMs(now);
    }
    if (report.calibration) r.calibration = *report.calibration;
  } else if (report.kind == RepeaterReport::Kind::Flags && !job.flags.empty()) {
    // The answer to this job's flag frames: the half those flags lie in.
    r.flagWord = *report.flags;
  }
  const std::vector<Missing> missing = Compare();
  outcome.differs = Report(missing);
  if (missing.empty())
    Finish(JobState::Verified);
  else
    emit JobChanged(static_cast<int>(m_current));
}

void ProvisionEngine::AnswerTimedOut() {
  if (!m_running) return;
  JobOutcome& outcome = m_outcomes[m_current];
  outcome.differs = Report(Compare());
  if (outcome.attempts < m_settings.attempts) {
    Attempt();
    return;
  }
  Finish(m_live.heard ? JobState::Mismatch : JobState::Silent);
}

void ProvisionEngine::Finish(JobState state) {
  m_timer.stop();
  m_gapTimer.stop();
  m_round.clear();
  JobOutcome& outcome = m_outcomes[m_current];
  outcome.state = state;
  if (state == JobState::Verified || state == JobState::Silent) outcome.differs.clear();
  outcome.finished = m_clock.Now();
  emit JobChanged(static_cast<int>(m_current));
  ++m_current;
  const std::uint64_t generation = m_generation;
  // The next job starts from the event loop, not inside this answer's receive event.
  QTimer::singleShot(0, this, [this, generation] {
    if (generation == m_generation && m_running) NextJob();
  });
}
