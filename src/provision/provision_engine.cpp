#include "provision_engine.h"

#include <cstdio>

#include "repeater_answer.h"

namespace {

constexpr std::int64_t kMinuteMs = 60'000;

std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return std::int64_t{era} * 146097 + doe - 719468;
}

LocalTime FromMs(std::int64_t ms) {
  std::int64_t days = ms / 86'400'000;
  std::int64_t rest = ms % 86'400'000;
  if (rest < 0) rest += 86'400'000, --days;
  // civil_from_days
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  LocalTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2));
  t.hour = static_cast<int>(rest / 3'600'000);
  t.minute = static_cast<int>(rest / 60'000 % 60);
  t.second = static_cast<int>(rest / 1000 % 60);
  t.msec = static_cast<int>(rest % 1000);
  return t;
}

// The repeater's type F date and time (minutes, no seconds).
std::optional<LocalTime> TypeF(const std::array<std::uint8_t, 4>& b) {
  LocalTime t;
  t.minute = b[0] & 0x3F;
  t.hour = b[1] & 0x1F;
  t.day = b[2] & 0x1F;
  t.month = b[3] & 0x0F;
  const int y = ((b[2] & 0xE0) >> 5) | ((b[3] & 0xF0) >> 1);
  // The way EncodeDateTimeRecord folds the year: 2001.. -> 1.., 1901..2000 -> 1..100.
  t.year = y < 100 ? 2000 + y : 1900 + y;
  if (t.minute > 59 || t.hour > 23 || t.day < 1 || t.month < 1 || t.month > 12) return std::nullopt;
  return t;
}

std::string MinuteText(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
  return buf;
}

std::string ModeText(int code) {
  for (const char* text : {"Mode T+C", "Mode T", "Mode S", "Mode C"})
    if (WirelessModeCode(text) == code) return text;
  return "code " + std::to_string(code);
}

std::string CalibrationText(unsigned v) {
  return std::to_string(v & 0x7FFF) + ((v & 0x8000) ? " on" : " off");
}

// The 16-bit value a calibration frame carries, as BuildCommandFrame packs it.
unsigned CalibrationWord(int value, bool on) {
  const unsigned low = static_cast<unsigned>(value) % 256;
  const unsigned high = (static_cast<unsigned>(value) / 256) % 256 | (on ? 0x80u : 0u);
  return low + 256 * high;
}

int FlagBank(const ProvisionJob& job) { return !job.flags.empty() && job.flags.begin()->first > 32 ? 1 : 0; }

const char kStartHour[] = "START HOUR";
const char kRxHours[] = "WORK HOURS RX";
const char kMode[] = "WIRELESS MODE";
const char kClock[] = "CLOCK";
const char kCalibration[] = "CLOCK CALIBRATION";
const char kId[] = "ID";
const char kNothing[] = "nothing";

}  // namespace

std::int64_t LocalMs(const LocalTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86'400'000 + std::int64_t{t.hour} * 3'600'000 +
         std::int64_t{t.minute} * 60'000 + std::int64_t{t.second} * 1000 + t.msec;
}

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

std::vector<ProvisionEngine::Step> ProvisionEngine::PlanRound(const std::vector<Difference>& missing) const {
  const ProvisionJob& job = m_jobs[m_current];
  const auto wanted = [&](const std::string& field) {
    for (const Difference& d : missing)
      if (d.field == field) return true;
    return false;
  };
  std::vector<Step> round;
  CommandControls c = m_base ? m_base() : CommandControls{};
  c.repeaterId = m_live.currentId;
  const auto add = [&](CommandKind kind) { round.push_back({kind, c}); };

  // Flags first: the repeater answers them with a flags answer, the other
  // settings with a status answer that carries the flags 1-32 as well.
  for (const auto& [n, on] : job.flags) {
    if (!wanted("FLAG " + std::to_string(n))) continue;
    c.flag = std::to_string(n);
    c.flagSet = on;
    add(CommandKind::Flag);
  }
  const bool start = job.rxStartHour && wanted(kStartHour);
  const bool hours = job.rxHours && wanted(kRxHours);
  if (start) c.rxStartHour = *job.rxStartHour;
  if (hours) c.rxHours = *job.rxHours;
  if (start && hours)
    add(CommandKind::RxWindow);
  else if (start)
    add(CommandKind::RxStartHour);
  else if (hours)
    add(CommandKind::RxHours);
  if (job.wirelessMode && wanted(kMode)) {
    c.wirelessMode = *job.wirelessMode;
    add(CommandKind::WirelessMode);
  }
  if (job.calibration && wanted(kCalibration)) {
    c.calibration = std::to_string(*job.calibration);
    c.calibrationOn = job.calibrationOn;
    add(CommandKind::ClockCalibration);
  }
  if (job.setClock && wanted(kClock)) add(CommandKind::DateTime);
  // The new ID last: everything before it went to the ID the repeater still has.
  if (!job.newId.empty() && !m_live.newIdHeard) {
    c.newId = job.newId;
    add(CommandKind::NewId);
  }
  return round;
}

std::vector<Difference> ProvisionEngine::Compare() const {
  const ProvisionJob& job = m_jobs[m_current];
  const Reported& r = m_live.reported;
  std::vector<Difference> out;
  const auto number = [&](const char* field, const std::optional<int>& want, const std::optional<int>& got) {
    if (want && got != want)
      out.push_back({field, std::to_string(*want), got ? std::to_string(*got) : kNothing});
  };
  number(kStartHour, job.rxStartHour, r.rxStartHour);
  number(kRxHours, job.rxHours, r.rxHours);
  if (job.wirelessMode && r.wirelessMode != WirelessModeCode(*job.wirelessMode))
    out.push_back({kMode, *job.wirelessMode, r.wirelessMode ? ModeText(*r.wirelessMode) : kNothing});
  for (const auto& [n, on] : job.flags) {
    const std::optional<bool> got =
        r.flagWord ? std::optional<bool>((*r.flagWord >> ((n - 1) % 32)) & 1u) : std::nullopt;
    if (got != on)
      out.push_back({"FLAG " + std::to_string(n), on ? "on" : "off", got ? (*got ? "on" : "off") : kNothing});
  }
  if (job.calibration) {
    const unsigned want = CalibrationWord(*job.calibration, job.calibrationOn);
    if (r.calibration != want)
      out.push_back(
          {kCalibration, CalibrationText(want), r.calibration ? CalibrationText(*r.calibration) : kNothing});
  }
  if (job.setClock) {
    // The date-and-time record has no seconds: the repeater's clock was set
    // to the minute the frame carried, so it runs behind the PC by the
    // seconds of that moment, and it reports whole minutes. What it should
    // show is that minute plus the time since the frame was sent.
    const std::int64_t tolerance = std::int64_t{m_settings.clockToleranceSeconds} * 1000;
    const std::optional<LocalTime> got = r.clock ? TypeF(*r.clock) : std::nullopt;
    bool ok = false;
    std::int64_t expected = 0;
    for (const std::int64_t sent : m_live.clockSentMs) {
      expected = sent - (sent % kMinuteMs + kMinuteMs) % kMinuteMs + (r.clockArrivedMs - sent);
      if (got) {
        const std::int64_t reported = LocalMs(*got);
        ok |= expected >= reported - tolerance && expected < reported + kMinuteMs + tolerance;
      }
    }
    if (!ok) {
      const std::int64_t shown = m_live.clockSentMs.empty() ? LocalMs(m_clock.Now()) : expected;
      out.push_back({kClock, MinuteText(FromMs(shown)), got ? MinuteText(*got) : kNothing});
    }
  }
  if (!job.newId.empty() && !m_live.newIdHeard)
    out.push_back({kId, job.newId, m_live.heard ? m_live.lastId : kNothing});
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
  const std::vector<Difference> differs = Compare();
  outcome.differs = differs;
  if (differs.empty())
    Finish(JobState::Verified);
  else
    emit JobChanged(static_cast<int>(m_current));
}

void ProvisionEngine::AnswerTimedOut() {
  if (!m_running) return;
  JobOutcome& outcome = m_outcomes[m_current];
  outcome.differs = Compare();
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
