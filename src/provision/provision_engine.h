#pragma once
// ProvisionEngine: runs provisioning jobs one after another on the event
// loop. Each attempt sends what is still missing through the buttons' own
// commands, then compares what the repeater reports in its answers with what
// was asked, until everything matches or the attempts are used up. Nothing
// here blocks: the answer wait is a timer, the answers come in through
// RepeaterFrame from the receive path.

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_frame.h"
#include "local_formats.h"
#include "provision_job.h"

struct ProvisionSettings {
  int attempts = 3;               // sending rounds per job
  int answerTimeoutMs = 10'000;   // wait for the answers after each round
  int clockToleranceSeconds = 5;  // the repeater's clock against the PC's
  // Between two commands of a round. Each command opens with the buttons'
  // purge of both directions, which would throw away a frame still on its
  // way out (and a half-received answer): a round never sends in one burst.
  int commandGapMs = 250;
};

class ProvisionEngine : public QObject {
  Q_OBJECT

 public:
  // One command as its button sends it (RepeaterCommands::Run on the window's
  // or the command line's commands).
  using SendFn = std::function<void(CommandKind kind, const CommandControls& controls)>;
  // The controls a job does not set (BMT, version), at the moment of sending.
  using BaseFn = std::function<CommandControls()>;

  ProvisionEngine(SendFn send, BaseFn base, const Clock& clock, QObject* parent = nullptr);

  void SetSettings(const ProvisionSettings& settings) { m_settings = settings; }
  const ProvisionSettings& Settings() const { return m_settings; }

  // Runs `jobs` from the next turn of the event loop on. False while a batch
  // runs, or when a job does not pass CheckJob.
  bool Start(std::vector<ProvisionJob> jobs);
  // The running job ends as stopped; the ones after it stay waiting.
  void Stop();
  bool Running() const { return m_running; }

  const std::vector<ProvisionJob>& Jobs() const { return m_jobs; }
  const std::vector<JobOutcome>& Outcomes() const { return m_outcomes; }

  // The IDs whose frames the receive path must treat as repeater answers and
  // hand in: the running job's present ID and its new ID.
  std::vector<std::string> AnswerIds() const;
  // A frame the receive path handed to the answer decoder.
  void RepeaterFrame(std::string_view frame);

 signals:
  void JobChanged(int index);
  void BatchFinished();

 private:
  // What the repeater said last about each setting during the running job.
  struct Reported {
    std::optional<int> rxStartHour, rxHours, wirelessMode;
    std::optional<std::uint32_t> flagWord;  // the 32 flags of the job's half
    std::optional<std::array<std::uint8_t, 4>> clock;
    std::int64_t clockArrivedMs = 0;
    std::optional<std::uint16_t> calibration;
  };
  struct Live {
    std::string currentId;
    bool heard = false;
    bool newIdHeard = false;
    std::string lastId;  // the ID of the last answer
    Reported reported;
    std::vector<std::int64_t> clockSentMs;  // PC time of each date-and-time frame sent
  };

  void NextJob();
  void Attempt();
  // The commands of one round, in their fixed order.
  struct Step {
    CommandKind kind;
    CommandControls controls;
  };
  // A wanted setting the repeater has not reported as wanted (yet).
  struct Missing {
    Setting setting;
    int flag = 0;  // the flag's number for Setting::kFlag
    std::string wanted, reported;
  };
  std::vector<Step> PlanRound(const std::vector<Missing>& missing) const;
  void SendNext();
  // Every wanted setting against what the repeater last reported: a job is
  // verified only when this is empty.
  std::vector<Missing> Compare() const;
  std::optional<Missing> CompareClock() const;
  // The report's form: the settings named by their labels.
  static std::vector<Difference> Report(const std::vector<Missing>& missing);
  void AnswerTimedOut();
  void Finish(JobState state);

  SendFn m_send;
  BaseFn m_base;
  const Clock& m_clock;
  ProvisionSettings m_settings;
  QTimer m_timer;     // the answer wait of a round
  QTimer m_gapTimer;  // the pause before the round's next command
  std::vector<Step> m_round;
  size_t m_nextStep = 0;
  std::vector<ProvisionJob> m_jobs;
  std::vector<JobOutcome> m_outcomes;
  size_t m_current = 0;
  bool m_running = false;
  std::uint64_t m_generation = 0;  // a Stop cancels the pending start of the next job
  Live m_live;
};
