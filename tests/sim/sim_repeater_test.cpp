// Every command of the program, built byte by byte as the program sends it,
// changes the simulated repeater as intended, and its answer decodes with the
// program's own DecodeRepeaterAnswer to the expected lines.

#include <gtest/gtest.h>

#include <functional>

#include "korvex.h"
#include "repeater.h"
#include "sim_test_support.h"

using namespace simtest;

namespace {

const sim::CivilTime kStart{2026, 12, 7, 9, 7, 30};

sim::RepeaterState InitialState() {
  sim::RepeaterState s;
  s.id = "12345678";
  s.flags[0] = true;  // auto mode, as the simulator starts
  return s;
}

struct Exchange {
  bool answered = false;
  std::vector<std::string> lines;  // the answer decoder's lines from "Repeater " on
};

// Command bytes -> Korvex -> repeater -> answer frame -> the program's receive path.
Exchange Send(sim::SimRepeater& repeater, const std::string& commandBytes, std::int64_t now) {
  sim::KorvexTransceiver korvex;
  const auto in = korvex.Feed(commandBytes);
  EXPECT_TRUE(in.prompts.empty());
  EXPECT_EQ(in.commandFrames.size(), 1u);
  Exchange ex;
  if (in.commandFrames.empty()) return ex;
  const auto result = repeater.HandleFrame(in.commandFrames[0], now);
  if (!result.answer) return ex;
  ex.answered = true;
  ProgramSide program;
  program.options.repeaterId = "12345678";
  program.options.newId = "87654321";
  program.Feed(sim::WrapFrame(*result.answer, 0x90));
  ex.lines = LinesFrom(program.log.lines, "Repeater ");
  return ex;
}

// True when `want` appear in `lines` in this order (other lines may stand between).
bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& want) {
  size_t at = 0;
  for (const auto& l : lines)
    if (at < want.size() && l == want[at]) ++at;
  return at == want.size();
}

}  // namespace

TEST(SimRepeater, StatusAnswerCarriesEveryRecordAtItsOffset) {
  const std::int64_t now = sim::ToSeconds(kStart);
  sim::SimRepeater repeater(InitialState(), now);
  const Exchange ex = Send(repeater, CommandFrame(kRepeater, B({0x01, 0x26, 0x04})), now);
  ASSERT_TRUE(ex.answered);
  const std::vector<std::string> want = {
      "START HOUR = 6",
      "WORK HOURS RX = 4",
      "Wireless mode: T1+C",
      "Flags (32 total): 00000001",
      "Current repeater time in HEX: 0x0709473C",
      "Current repeater time decoded: 9:07, 7.12.26",
      "Clock calibration in HEX: 0x32020000",
      "Clock calibration: 0, without Flag",
      "Work time left: 3150 s",  // 06:00 + 4 h window, 52 min 30 s to go
      "Battery status: 3.600 V",
      "",
  };
  ASSERT_EQ(ex.lines.size(), want.size() + 1);
  EXPECT_EQ(ex.lines[0].rfind("Repeater 12345678, VLM: 68 ", 0), 0u) << ex.lines[0];
  EXPECT_EQ(std::vector<std::string>(ex.lines.begin() + 1, ex.lines.end()), want);
}

TEST(SimRepeater, EveryCommandChangesTheStateAndIsAnswered) {
  using State = sim::RepeaterState;
  struct Case {
    const char* name;
    std::string records;
    bool bare;
    std::function<void(State&)> change;  // nullptr: the state stays as it was
    std::vector<std::string> lines;
  };
  const std::string invalid = "Error telegram - Invalid input data";
  const std::string inUse = "Error telegram - ID not found or already active";
  const std::vector<Case> cases = {
      {"rx start hour",
       B({0x01, 0x22, 0x05}),
       false,
       [](State& s) { s.rxStartHour = 5; },
       {"START HOUR = 5"}},
      {"rx start hour, bare",
       B({0x01, 0x22, 0x17}),
       true,
       [](State& s) { s.rxStartHour = 23; },
       {"START HOUR = 23"}},
      {"rx start hour 24", B({0x01, 0x22, 0x18}), false, nullptr, {invalid}},
      {"rx hours", B({0x01, 0x26, 0x06}), false, [](State& s) { s.rxHours = 6; }, {"WORK HOURS RX = 6"}},
      {"rx hours 0", B({0x01, 0x26, 0x00}), false, nullptr, {invalid}},
      {"rx hours 7", B({0x01, 0x26, 0x07}), true, nullptr, {invalid}},
      {"rx window",
       B({0x0F, 0xFF, 0x6D, 0x02, 0x16, 0x04}),
       false,
       [](State& s) { s.rxStartHour = 22, s.rxHours = 4; },
       {"START HOUR = 22", "WORK HOURS RX = 4"}},
      {"rx window, hours out of range", B({0x0F, 0xFF, 0x6D, 0x02, 0x16, 0x09}), false, nullptr, {invalid}},
      {"date and time 2027-03-15 18:45",
       B({0x04, 0x6D, 0x2D, 0x12, 0x6F, 0x33}),
       false,
       [](State&) {},
       {"Current repeater time in HEX: 0x2D126F33", "Current repeater time decoded: 18:45, 15.3.27",
        "Work time left: 0 s"}},
      {"date and time, month 13", B({0x04, 0x6D, 0x2D, 0x12, 0x6F, 0x3D}), false, nullptr, {invalid}},
      {"date and time, 31 February", B({0x04, 0x6D, 0x00, 0x0C, 0x5F, 0x32}), false, nullptr, {invalid}},
      {"flag 33 set",
       B({0x0F, 0xFF, 0x05, 0x04, 0x21, 0x01, 0x00, 0x00}),
       false,
       [](State& s) { s.flags[32] = true; },
       {"Flags (32 total): 00000001"}},
      {"flag 2 set, bare",
       B({0x0F, 0xFF, 0x05, 0x04, 0x02, 0x01, 0x00, 0x00}),
       true,
       [](State& s) { s.flags[1] = true; },
       {"Flags (32 total): 00000003"}},
      {"flag 1 clear",
       B({0x0F, 0xFF, 0x05, 0x04, 0x01, 0x00, 0x00, 0x00}),
       false,
       [](State& s) { s.flags[0] = false; },
       {"Flags (32 total): 00000000"}},
      {"flag 0", B({0x0F, 0xFF, 0x05, 0x04, 0x00, 0x01, 0x00, 0x00}), false, nullptr, {invalid}},
      {"flag 65", B({0x0F, 0xFF, 0x05, 0x04, 0x41, 0x01, 0x00, 0x00}), false, nullptr, {invalid}},
      {"calibration 300 on",
       B({0x0F, 0xFF, 0x32, 0x02, 0x2C, 0x81}),
       false,
       [](State& s) { s.calibration = 0x812C; },
       {"Clock calibration in HEX: 0x32022C81", "Clock calibration: 300, with Flag"}},
      {"calibration 300 off",
       B({0x0F, 0xFF, 0x32, 0x02, 0x2C, 0x01}),
       true,
       [](State& s) { s.calibration = 300; },
       {"Clock calibration: 300, without Flag"}},
      {"calibration 513", B({0x0F, 0xFF, 0x32, 0x02, 0x01, 0x02}), false, nullptr, {invalid}},
      {"wireless mode S",
       B({0x0F, 0xFF, 0x20, 0x01, 0x03}),
       false,
       [](State& s) { s.wirelessMode = 3; },
       {"Wireless mode: S1"}},
      {"wireless mode C",
       B({0x0F, 0xFF, 0x20, 0x01, 0x05}),
       false,
       [](State& s) { s.wirelessMode = 5; },
       {"Wireless mode: C"}},
      {"wireless mode 2", B({0x0F, 0xFF, 0x20, 0x01, 0x02}), false, nullptr, {invalid}},
      {"new ID",
       B({0x07, 0x79, 0x21, 0x43, 0x65, 0x87, 0x8D, 0x59, 0x03, 0x00}),
       false,
       [](State& s) { s.id = "87654321", s.version = 3; },
       {"START HOUR = 6"}},
      {"new ID of a meter",
       B({0x07, 0x79, 0x22, 0x22, 0x11, 0x11, 0x8D, 0x59, 0x03, 0x00}),
       false,
       nullptr,
       {inUse}},
      {"new ID equal to its own",
       B({0x07, 0x79, 0x78, 0x56, 0x34, 0x12, 0x8D, 0x59, 0x03, 0x00}),
       false,
       nullptr,
       {inUse}},
      {"new ID not decimal",
       B({0x07, 0x79, 0x2A, 0x43, 0x65, 0x87, 0x8D, 0x59, 0x03, 0x00}),
       false,
       nullptr,
       {invalid}},
      {"unknown record", B({0x01, 0xFD, 0x17}), false, nullptr, {invalid}},
      {"two records",
       B({0x01, 0x22, 0x03, 0x01, 0x26, 0x02}),
       false,
       [](State& s) { s.rxStartHour = 3, s.rxHours = 2; },
       {"START HOUR = 3", "WORK HOURS RX = 2"}},
      {"two records, the second refused: neither applied",
       B({0x01, 0x22, 0x03, 0x01, 0x26, 0x09}),
       false,
       nullptr,
       {invalid}},
  };
  const std::int64_t now = sim::ToSeconds(kStart);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimRepeater repeater(InitialState(), now);
    repeater.SetIdInUse([](const std::string& id) { return id == "11112222"; });
    State want = InitialState();
    if (c.change) c.change(want);
    const Exchange ex = Send(repeater, CommandFrame(kRepeater, c.records, c.bare), now);
    ASSERT_TRUE(ex.answered);
    EXPECT_TRUE(repeater.State() == want);
    ASSERT_FALSE(ex.lines.empty());
    // The answer comes under the ID the repeater has after the command.
    EXPECT_EQ(ex.lines[0].rfind("Repeater " + want.id + ", VLM: ", 0), 0u) << ex.lines[0];
    EXPECT_TRUE(InOrder(ex.lines, c.lines)) << ::testing::PrintToString(ex.lines);
    if (c.lines[0].rfind("Error telegram", 0) == 0) {
      EXPECT_EQ(ex.lines.size(), 2u);
    }
  }
}

TEST(SimRepeater, FramesOfEveryKindAsTheProgramBuildsThem) {
  using State = sim::RepeaterState;
  struct Case {
    CommandKind kind;
    std::function<void(CommandControls&)> set;
    std::string data;
    std::function<void(State&)> change;
  };
  const std::vector<Case> cases = {
      {CommandKind::RxStartHour, [](CommandControls& c) { c.rxStartHour = 5; }, "",
       [](State& s) { s.rxStartHour = 5; }},
      {CommandKind::RxHours, [](CommandControls& c) { c.rxHours = 3; }, "", [](State& s) { s.rxHours = 3; }},
      {CommandKind::RxWindow, [](CommandControls& c) { c.rxStartHour = 22, c.rxHours = 6; }, "",
       [](State& s) { s.rxStartHour = 22, s.rxHours = 6; }},
      {CommandKind::DateTime, [](CommandControls&) {}, "", [](State&) {}},
      {CommandKind::Flag, [](CommandControls& c) { c.flag = "33", c.flagSet = true; }, "",
       [](State& s) { s.flags[32] = true; }},
      {CommandKind::ClockCalibration,
       [](CommandControls& c) { c.calibration = "300", c.calibrationOn = true; }, "",
       [](State& s) { s.calibration = 0x812C; }},
      {CommandKind::WirelessMode, [](CommandControls& c) { c.wirelessMode = "Mode C"; }, "",
       [](State& s) { s.wirelessMode = 5; }},
      {CommandKind::NewId, [](CommandControls&) {}, "87654321",
       [](State& s) { s.id = "87654321", s.version = 3; }},
  };
  const std::int64_t pcNow = sim::ToSeconds(kStart);
  for (const Case& c : cases) {
    for (bool bmt : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(c.kind)) + (bmt ? " bare" : " framed"));
      CommandControls controls;
      controls.repeaterId = kRepeater;
      controls.bmt = bmt;
      c.set(controls);
      const std::string frame = ProgramFrame(c.kind, controls, c.data);
      ASSERT_FALSE(frame.empty());
      sim::SimRepeater repeater(InitialState(), pcNow);
      repeater.SetClock(sim::CivilTime{2026, 1, 1, 0, 0, 0}, pcNow);  // wrong until the program sets it
      State want = InitialState();
      c.change(want);
      const Exchange ex = Send(repeater, frame, pcNow);
      ASSERT_TRUE(ex.answered);
      EXPECT_TRUE(repeater.State() == want);
      EXPECT_FALSE(HasLine(ex.lines, "Error telegram", true)) << ::testing::PrintToString(ex.lines);
      if (c.kind == CommandKind::DateTime) {
        EXPECT_TRUE(HasLine(ex.lines, "Current repeater time decoded: 9:07, 7.12.26"));
      }
    }
  }
}

TEST(SimRepeater, FramesForOtherDevicesAreNotAnswered) {
  const std::int64_t now = sim::ToSeconds(kStart);
  sim::SimRepeater repeater(InitialState(), now);
  const std::string records = B({0x01, 0x22, 0x05});
  // Another repeater's ID, and our ID under a foreign manufacturer code.
  std::string foreign = CommandFrame(kRepeater, records);
  foreign[3] = 0x2C;
  for (const std::string& frame : {CommandFrame("87654321", records), foreign}) {
    const auto r = repeater.HandleFrame(frame, now);
    EXPECT_FALSE(r.forUs);
    EXPECT_FALSE(r.answer.has_value());
  }
  EXPECT_TRUE(repeater.State() == InitialState());
}

TEST(SimRepeater, AfterNewIdOnlyTheNewIdIsAnswered) {
  const std::int64_t now = sim::ToSeconds(kStart);
  sim::SimRepeater repeater(InitialState(), now);
  const std::string setHour = B({0x01, 0x22, 0x05});
  ASSERT_TRUE(
      repeater
          .HandleFrame(
              CommandFrame(kRepeater, B({0x07, 0x79, 0x21, 0x43, 0x65, 0x87, 0x8D, 0x59, 0x03, 0x00})), now)
          .answer);
  EXPECT_FALSE(repeater.HandleFrame(CommandFrame(kRepeater, setHour), now).answer);
  EXPECT_TRUE(repeater.HandleFrame(CommandFrame("87654321", setHour), now).answer);
  EXPECT_EQ(repeater.State().rxStartHour, 5);
}

TEST(SimRepeater, ClockRunsFromTheTimeSet) {
  const std::int64_t now = sim::ToSeconds(kStart);
  sim::SimRepeater repeater(InitialState(), now);
  // Set to 2027-03-15 18:45, then ask 2 h 30 min later.
  ASSERT_TRUE(
      repeater.HandleFrame(CommandFrame(kRepeater, B({0x04, 0x6D, 0x2D, 0x12, 0x6F, 0x33})), now).answer);
  const Exchange ex = Send(repeater, CommandFrame(kRepeater, B({0x01, 0x26, 0x04})), now + 9000);
  EXPECT_TRUE(InOrder(ex.lines, {"Current repeater time decoded: 21:15, 15.3.27"}))
      << ::testing::PrintToString(ex.lines);
  // Past midnight and into the next month.
  EXPECT_EQ(repeater.ClockAt(now + 17 * 86400), (sim::CivilTime{2027, 4, 1, 18, 45, 0}));
}

TEST(SimRepeater, RepeatsUnlessAsleepAndOutsideItsWindowWithoutAutoMode) {
  const std::int64_t now = sim::ToSeconds(kStart);  // 09:07:30, window 06:00-10:00
  sim::SimRepeater repeater(InitialState(), now);
  EXPECT_TRUE(repeater.Repeating(now));
  const auto flag = [&](int n, int state) {
    repeater.HandleFrame(CommandFrame(kRepeater, B({0x0F, 0xFF, 0x05, 0x04, n, state, 0x00, 0x00})), now);
  };
  flag(1, 0);
  EXPECT_TRUE(repeater.Repeating(now));
  EXPECT_FALSE(repeater.Repeating(now + 3600));  // 10:07:30
  flag(1, 1);
  flag(33, 1);
  EXPECT_FALSE(repeater.Repeating(now));
}
