// The provisioning engine on the event loop, against simulated repeaters fed
// straight from the frames the real commands build: which frames go out in
// which round, and how each job ends.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <memory>

#include "capture_port.h"
#include "hex.h"
#include "provision_engine.h"
#include "repeater.h"
#include "repeater_answer.h"
#include "repeater_commands.h"
#include "scripted_prompts.h"
#include "wmbus_codec.h"

namespace {

const LocalTime kNow{2026, 12, 8, 10, 20, 37};

sim::CivilTime Civil(const LocalTime& t) { return {t.year, t.month, t.day, t.hour, t.minute, t.second}; }

// The Korvex and the repeaters in reach: every frame the commands write goes
// to the repeater it is addressed to, unless `hears` says it is lost; the
// answer comes back from the event loop, as the receive path would hand it in.
struct Bench {
  FixedClock clock{kNow};
  VectorLogSink log;
  CapturePort port;
  ScriptedPrompts prompts;
  CommandState state;
  RepeaterCommands commands{state, CommandEnvironment{log, {}, clock, [] { return true; }, port, prompts}};
  std::vector<sim::SimRepeater> repeaters;
  std::function<bool(size_t frameIndex, const Bytes& frame)> hears = [](size_t, const Bytes&) {
    return true;
  };
  // What reaches the program of each answer telegram (from its C-field on).
  std::function<Bytes(const Bytes& telegram)> answers = [](const Bytes& t) { return t; };
  std::vector<CommandKind> kinds;  // every command the engine asked for
  std::vector<std::string> sentTo;
  std::unique_ptr<ProvisionEngine> engine;

  explicit Bench(std::vector<std::string> ids) {
    for (const std::string& id : ids) {
      sim::RepeaterState s;
      s.id = id;
      repeaters.emplace_back(s, sim::ToSeconds(Civil(kNow)));
    }
    engine = std::make_unique<ProvisionEngine>(
        [this](CommandKind kind, const CommandControls& c) { Send(kind, c); },
        [] { return CommandControls{}; }, clock);
    ProvisionSettings settings;
    settings.answerTimeoutMs = 200;
    settings.commandGapMs = 1;  // no port here to purge
    engine->SetSettings(settings);
  }

  void Send(CommandKind kind, const CommandControls& c) {
    const size_t before = port.frames.size();
    commands.Run(kind, c);
    kinds.push_back(kind);
    sentTo.push_back(c.repeaterId);
    for (size_t i = before; i < port.frames.size(); ++i) {
      const Bytes frame = port.frames[i];
      if (!hears(i, frame)) continue;
      for (sim::SimRepeater& r : repeaters) {
        const auto result = r.HandleFrame(frame, sim::ToSeconds(Civil(clock.Now())));
        if (!result.forUs || !result.answer) continue;
        const Bytes answer = sim::WrapFrame(answers(*result.answer), 150);
        QTimer::singleShot(0, engine.get(), [this, answer] { engine->RepeaterFrame(answer); });
      }
    }
  }

  // Runs the batch to its end (a generous limit, in case it hangs).
  bool Run(std::vector<ProvisionJob> jobs) {
    QEventLoop loop;
    QObject::connect(engine.get(), &ProvisionEngine::BatchFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
    if (!engine->Start(std::move(jobs))) return false;
    loop.exec();
    return !engine->Running();
  }
};

ProvisionJob FullJob(const std::string& id) {
  ProvisionJob j;
  j.id = id;
  j.rxStartHour = 22;
  j.rxHours = 2;
  j.wirelessMode = "Mode S";
  j.flags = {{3, true}, {1, false}};
  j.calibration = 300;
  j.calibrationOn = true;
  j.setClock = true;
  return j;
}

TEST(ProvisionEngine, EndsEachJobFromTheRepeatersOwnAnswers) {
  struct Case {
    const char* name;
    std::function<void(Bench&)> arrange;
    JobState state;
    int attempts;
    std::vector<Difference> differs;
  };
  const std::vector<Case> cases = {
      {"all heard at once", [](Bench&) {}, JobState::Verified, 1, {}},
      {"deaf repeater",
       [](Bench& b) { b.hears = [](size_t, const Bytes&) { return false; }; },
       JobState::Silent,
       3,
       {}},
      {"rx hours stuck at 5",
       [](Bench& b) {
         b.repeaters[0].Stick({sim::StuckSetting::Field::RxHours, 5});
       },
       JobState::Mismatch,
       3,
       {{"WORK HOURS RX", "2", "5"}}},
      {"wireless mode stuck at T",
       [](Bench& b) {
         b.repeaters[0].Stick({sim::StuckSetting::Field::WirelessMode, 1});
       },
       JobState::Mismatch,
       3,
       {{"WIRELESS MODE", "Mode S", "Mode T"}}},
      {"calibration stuck off",
       [](Bench& b) {
         b.repeaters[0].Stick({sim::StuckSetting::Field::Calibration, 300});
       },
       JobState::Mismatch,
       3,
       {{"CLOCK CALIBRATION", "300 on", "300 off"}}},
      // Every frame of the first round lost: all of them again in the second.
      {"first round lost",
       [](Bench& b) { b.hears = [](size_t i, const Bytes&) { return i >= 6; }; },
       JobState::Verified,
       2,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench b({"12345678"});
    c.arrange(b);
    ASSERT_TRUE(b.Run({FullJob("12345678")}));
    const JobOutcome& o = b.engine->Outcomes().at(0);
    EXPECT_EQ(o.state, c.state) << JobStateText(o.state);
    EXPECT_EQ(o.attempts, c.attempts);
    EXPECT_EQ(o.differs, c.differs);
    ASSERT_TRUE(o.finished.has_value());
    EXPECT_EQ(o.lastAnswer.has_value(), c.state != JobState::Silent);
    // Each round sends what is missing, in the fixed order; a round that
    // finds nothing confirmed sends everything again.
    const std::vector<CommandKind> round = {CommandKind::Flag,
                                            CommandKind::Flag,
                                            CommandKind::RxWindow,
                                            CommandKind::WirelessMode,
                                            CommandKind::ClockCalibration,
                                            CommandKind::DateTime};
    ASSERT_GE(b.kinds.size(), round.size());
    EXPECT_EQ(std::vector<CommandKind>(b.kinds.begin(), b.kinds.begin() + 6), round);
    if (c.state == JobState::Silent) {
      EXPECT_EQ(b.kinds.size(), 3 * round.size());
    }
    if (c.state == JobState::Mismatch) {
      // Only the stuck setting is sent again.
      EXPECT_EQ(b.kinds.size(), round.size() + 2);
    }
    // The log holds each frame's hex line as the buttons write it.
    for (const Bytes& f : b.port.frames)
      EXPECT_NE(std::find(b.log.lines.begin(), b.log.lines.end(), HexText(f)), b.log.lines.end());
  }
}

// A status answer that stops before its calibration record confirms the
// rest but not the calibration: no job is verified on less than every
// wanted setting read back.
TEST(ProvisionEngine, VerifiedOnlyWhenEveryWantedSettingWasReadBack) {
  Bench b({"12345678"});
  b.answers = [](const Bytes& t) { return t.size() > 36 ? t.substr(0, 36) : t; };
  ASSERT_TRUE(b.Run({FullJob("12345678")}));
  const JobOutcome& o = b.engine->Outcomes().at(0);
  EXPECT_EQ(o.state, JobState::Mismatch);
  EXPECT_EQ(o.differs, (std::vector<Difference>{{"CLOCK CALIBRATION", "300 on", "nothing"}}));
  EXPECT_EQ(b.repeaters[0].State().calibration, 300 | 0x8000);  // it was set, only not reported
}

// Each setting the repeater did not confirm goes out again in every later
// round, and only that one, whatever the report calls it.
TEST(ProvisionEngine, EachUnconfirmedSettingIsSentAgain) {
  const struct {
    const char* name;
    std::function<void(Bench&)> arrange;
    CommandKind resent;
  } cases[] = {
      {"start hour",
       [](Bench& b) {
         b.repeaters[0].Stick({sim::StuckSetting::Field::RxStartHour, 7});
       },
       CommandKind::RxStartHour},
      {"rx hours",
       [](Bench& b) {
         b.repeaters[0].Stick({sim::StuckSetting::Field::RxHours, 5});
       },
       CommandKind::RxHours},
      {"wireless mode",
       [](Bench& b) {
         b.repeaters[0].Stick({sim::StuckSetting::Field::WirelessMode, 1});
       },
       CommandKind::WirelessMode},
      {"calibration",
       [](Bench& b) {
         b.repeaters[0].Stick({sim::StuckSetting::Field::Calibration, 300});
       },
       CommandKind::ClockCalibration},
      {"flag 3",
       [](Bench& b) {
         b.hears = [](size_t, const Bytes& f) {
           return f.find(std::string("\x0F\xFF\x05\x04\x03", 5)) == Bytes::npos;
         };
       },
       CommandKind::Flag},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench b({"12345678"});
    c.arrange(b);
    ASSERT_TRUE(b.Run({FullJob("12345678")}));
    EXPECT_EQ(b.engine->Outcomes().at(0).state, JobState::Mismatch);
    ASSERT_EQ(b.kinds.size(), 8u);
    EXPECT_EQ(std::vector<CommandKind>(b.kinds.begin() + 6, b.kinds.end()),
              std::vector<CommandKind>(2, c.resent));
  }
}

TEST(ProvisionEngine, ResendsOnlyWhatIsMissingAndFollowsTheNewId) {
  Bench b({"12345678"});
  // The wireless mode frame of the first round is lost, and so is the new ID.
  b.hears = [](size_t i, const Bytes&) { return i != 1 && i != 2; };
  ProvisionJob j;
  j.id = "12345678";
  j.rxHours = 3;
  j.wirelessMode = "Mode C";
  j.newId = "87654321";
  ASSERT_TRUE(b.Run({j}));
  const JobOutcome& o = b.engine->Outcomes().at(0);
  EXPECT_EQ(o.state, JobState::Verified);
  EXPECT_EQ(o.attempts, 2);
  const std::vector<CommandKind> kinds = {CommandKind::RxHours, CommandKind::WirelessMode, CommandKind::NewId,
                                          CommandKind::WirelessMode, CommandKind::NewId};
  EXPECT_EQ(b.kinds, kinds);
  // Still the old ID until the repeater was heard under the new one.
  EXPECT_EQ(b.sentTo, std::vector<std::string>(5, "12345678"));
  EXPECT_EQ(b.repeaters[0].State().id, "87654321");
  EXPECT_EQ(b.repeaters[0].State().wirelessMode, 5);

  // A job whose new ID was heard in the first round sends the rest to it.
  Bench c({"12345678"});
  c.hears = [](size_t i, const Bytes&) { return i != 0; };  // rx hours lost
  ASSERT_TRUE(c.Run({j}));
  EXPECT_EQ(c.engine->Outcomes().at(0).state, JobState::Verified);
  ASSERT_EQ(c.kinds.size(), 4u);
  EXPECT_EQ(c.kinds[3], CommandKind::RxHours);
  EXPECT_EQ(c.sentTo[3], "87654321");
}

TEST(ProvisionEngine, FlagsOfTheUpperHalfComeFromTheFlagsAnswer) {
  Bench b({"12345678"});
  ProvisionJob j;
  j.id = "12345678";
  j.flags = {{33, true}, {40, false}};
  ASSERT_TRUE(b.Run({j}));
  EXPECT_EQ(b.engine->Outcomes().at(0).state, JobState::Verified);
  EXPECT_TRUE(b.repeaters[0].State().flags[32]);

  // The status answer's flags record holds flags 1-32 and must not confirm
  // flag 33: with the flag frame lost, the status answer to the rx hours
  // (flag 1 set, the same bit position) leaves the job unconfirmed.
  Bench c({"12345678"});
  c.hears = [](size_t, const Bytes& f) { return f.find(std::string("\x0F\xFF\x05\x04", 4)) == Bytes::npos; };
  c.repeaters[0] = sim::SimRepeater(
      [] {
        sim::RepeaterState s;
        s.flags[0] = true;
        return s;
      }(),
      sim::ToSeconds(Civil(kNow)));
  ProvisionJob k;
  k.id = "12345678";
  k.flags = {{33, true}};
  k.rxHours = 2;
  ASSERT_TRUE(c.Run({k}));
  const JobOutcome& o = c.engine->Outcomes().at(0);
  EXPECT_EQ(o.state, JobState::Mismatch);
  EXPECT_EQ(o.differs, (std::vector<Difference>{{"FLAG 33", "on", "nothing"}}));
}

TEST(ProvisionEngine, ClockIsComparedWithTheMinuteSentAndTheTolerance) {
  // The PC sends 10:20 (no seconds) at 10:20:37; the answer comes at 10:21:30,
  // so the repeater should show 10:20:53 then, as the whole minute 10:20.
  // Comparing the answer with the PC's own 10:21:30 would fail a good repeater.
  struct Case {
    int driftSeconds;  // the repeater's clock against what it was set to
    JobState state;
    const char* reported;
  };
  for (const Case& c : {Case{0, JobState::Verified, ""}, Case{4, JobState::Verified, ""},
                        Case{-4, JobState::Verified, ""}, Case{10, JobState::Mismatch, "2026-12-08 10:21"},
                        Case{-60, JobState::Mismatch, "2026-12-08 10:19"}}) {
    SCOPED_TRACE(c.driftSeconds);
    Bench b({"12345678"});
    ProvisionSettings settings;
    settings.attempts = 1;
    settings.answerTimeoutMs = 200;
    settings.commandGapMs = 1;
    b.engine->SetSettings(settings);
    b.hears = [&b, c](size_t, const Bytes& f) {
      const auto sent = sim::DecodeTypeF(std::string_view(f).substr(19, 4));
      if (!sent) return false;
      b.repeaters[0].SetClock(sim::FromSeconds(sim::ToSeconds(*sent) + c.driftSeconds),
                              sim::ToSeconds(Civil(kNow)));
      QTimer::singleShot(0, [&b] {
        const LocalTime later{2026, 12, 8, 10, 21, 30};
        b.clock.Set(later);
        b.engine->RepeaterFrame(
            sim::WrapFrame(b.repeaters[0].StatusAnswer(sim::ToSeconds(Civil(later))), 150));
      });
      return false;
    };
    ProvisionJob j;
    j.id = "12345678";
    j.setClock = true;
    ASSERT_TRUE(b.Run({j}));
    const JobOutcome& o = b.engine->Outcomes().at(0);
    EXPECT_EQ(o.state, c.state);
    if (c.state == JobState::Mismatch) {
      EXPECT_EQ(o.differs, (std::vector<Difference>{{"CLOCK", "2026-12-08 10:20", c.reported}}));
    }
  }
}

TEST(ProvisionEngine, OneFailureDoesNotStopTheBatchAndStopEndsIt) {
  Bench b({"11111111", "22222222", "33333333"});
  b.repeaters[1].Stick({sim::StuckSetting::Field::RxStartHour, 7});
  std::vector<ProvisionJob> jobs;
  for (const char* id : {"11111111", "22222222", "33333333", "44444444"}) {
    ProvisionJob j;
    j.id = id;
    j.rxStartHour = 3;
    jobs.push_back(j);
  }
  ASSERT_TRUE(b.Run(jobs));
  const auto& o = b.engine->Outcomes();
  EXPECT_EQ(o[0].state, JobState::Verified);
  EXPECT_EQ(o[1].state, JobState::Mismatch);
  EXPECT_EQ(o[2].state, JobState::Verified);
  EXPECT_EQ(o[3].state, JobState::Silent);  // no such repeater
  EXPECT_EQ(ResultLine("22222222", o[1]), "22222222 mismatch: START HOUR wanted 3, reported 7");
  EXPECT_EQ(ResultLine("44444444", o[3]), "44444444 silent after 3 attempts");
  const std::string csv = ReportCsv(jobs, o);
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "id;result;attempts;differs;finished");
  EXPECT_NE(csv.find("\n22222222;mismatch;3;START HOUR wanted 3 reported 7;2026-12-08T10:20:37\n"),
            std::string::npos)
      << csv;

  // Stop: the running job ends as stopped, the rest stays waiting, and
  // nothing more is sent.
  Bench s({"11111111"});
  s.hears = [](size_t, const Bytes&) { return false; };
  ASSERT_TRUE(s.engine->Start(jobs));
  QEventLoop loop;
  QObject::connect(s.engine.get(), &ProvisionEngine::JobChanged, &loop, &QEventLoop::quit);
  loop.exec();
  s.engine->Stop();
  const size_t sent = s.kinds.size();
  QEventLoop wait;
  QTimer::singleShot(600, &wait, &QEventLoop::quit);
  wait.exec();
  EXPECT_EQ(s.kinds.size(), sent);
  EXPECT_EQ(s.engine->Outcomes()[0].state, JobState::Stopped);
  EXPECT_EQ(s.engine->Outcomes()[1].state, JobState::Waiting);
  EXPECT_FALSE(s.engine->Running());
  EXPECT_EQ(ReportCsv(jobs, s.engine->Outcomes()), "id;result;attempts;differs;finished\n");
}

}  // namespace
