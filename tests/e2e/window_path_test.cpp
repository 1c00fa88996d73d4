// Every repeater command end to end, wired as the main window wires Comm1:
// RepeaterCommands over the real TSerialPort through the port connection,
// and the receive path decoding what comes back, against the simulated
// Korvex and repeater on a real pseudo-terminal.
#include <gtest/gtest.h>

#include "cli_port.h"
#include "command_args.h"
#include "e2e_support.h"
#include "hex.h"
#include "in_process_korvex.h"
#include "local_formats.h"
#include "port_connection.h"
#include "pty_pair.h"
#include "receive_handler.h"
#include "repeater_answer.h"
#include "repeater_commands.h"
#include "scripted_prompts.h"
#include "serial_command_port.h"
#include "serial_port.h"
#include "sim_runner.h"
#include "string_grid.h"

namespace {

using namespace e2e;

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

// The window's Comm1, its port connection, its commands and its receive
// path, with Memo_log as one list of lines.
struct WindowPath {
  WindowPath(const std::string& path, DecodeOptions decode) : portPath(path), options(std::move(decode)) {
    comm.SetDirectWrite(true);
    comm.OnRxChar = [this](TCustomSerialPort* sender, int count) {
      receiver.ReceiveEvent(
          count, [sender](char* dest, int max) { return sender->ReadData(dest, max); }, options);
    };
  }
  ~WindowPath() { comm.Close(); }

  std::string portPath;
  DecodeOptions options;
  VectorLogSink log;
  FixedClock logClock{LocalTime{2026, 12, 7, 9, 7, 30}};
  LocalFormats formats{QString("dd.MM.yyyy"), QString("HH:mm:ss"), QChar('.')};
  TimeTexts time{logClock, formats};
  StringGrid table = MakeTelegramTable();
  ReceiveHandler receiver{TelegramContext{
      log, table, time, [this](std::string_view frame) { DecodeRepeaterAnswer(frame, log, time); },
      [](const std::string&) {}, [](int) {}}};
  TSerialPort comm;
  LogPortView view{log};
  PortConnection connection{comm, [this] { return PortSettings{portPath, "19200", "None"}; }, view};
  SerialCommandPort<TSerialPort> serial{comm};
  CommandState state;
  // The PC clock the datetime command reads: 14 March 2031, 15:09.
  FixedClock pcClock{LocalTime{2031, 3, 14, 15, 9, 0}};
  ScriptedPrompts prompts;
  std::vector<std::string> status;  // StatusBar1 panel 2, each text it showed
  RepeaterCommands commands{state, CommandEnvironment{
                                       log,
                                       [this](const std::string& s) { status.push_back(s); },
                                       pcClock,
                                       [this] { return connection.EnsurePortOpen(); },
                                       serial,
                                       prompts,
                                   }};
};

sim::SimOptions Options() {
  sim::SimOptions o;
  o.seed = 11;
  o.intervalMs = 200;  // meter traffic runs alongside, as it does in the field
  o.startTime = sim::CivilTime{2020, 1, 1, 0, 0, 0};
  return o;
}

DecodeOptions Selected(const std::string& newId = {}) {
  DecodeOptions d;
  d.repeaterId = kRepeater;
  d.newId = newId;
  d.onlyRepeater = true;
  return d;
}

bool HasAll(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& w) { return Has(lines, w); });
}

void EveryCommandChangesTheRepeater(bool inProcess) {
  for (const CommandCase& c : CommandCases()) {
    SCOPED_TRACE(c.name);
    const auto owned = inProcess ? sim::MakeInProcessSimulator(Options())
                                 : std::make_unique<sim::SimulatorRunner>(Options());
    sim::SimulatorRunner& simulator = *owned;
    std::string error;
    ASSERT_TRUE(simulator.Start(&error)) << error;
    WindowPath w(simulator.SlavePath(), Selected(c.args[0] == "new-id" ? c.args[1] : std::string()));

    CommandControls controls;
    controls.repeaterId = kRepeater;
    controls.bmt = c.bare;
    CommandKind kind{};
    ASSERT_EQ(ParseCommandKind(c.args, kind, controls), "");
    w.commands.Run(kind, controls);

    ASSERT_TRUE(WaitUntil([&] { return HasAll(w.log.lines, c.answer); }, 10000)) << Joined(w.log.lines);
    ASSERT_GE(w.log.lines.size(), 2u);
    EXPECT_EQ(w.log.lines[0], simulator.SlavePath() + " - 19200,8,None");
    // The frame's hex text, then the answer under the ID the repeater now has.
    const Bytes sent = HexTextToBytes(w.log.lines[1]);
    EXPECT_EQ(HexText(sent), w.log.lines[1]);
    EXPECT_EQ(sent.front() == '\x68', !c.bare || kind == CommandKind::WirelessMode) << w.log.lines[1];
    EXPECT_TRUE(HasPrefix(w.log.lines, "Repeater " + c.answerFrom + ", VLM: 68 ")) << Joined(w.log.lines);
    EXPECT_EQ(simulator.Stats().commandFrames, 1u);
    EXPECT_TRUE(c.applied(simulator.Repeater()));
    EXPECT_EQ(simulator.RepeaterId(), c.answerFrom);
  }
}

TEST(WindowPath, EveryCommandChangesTheRepeaterAndItsAnswerIsDecoded) {
  EveryCommandChangesTheRepeater(false);
}

// The same through the device inside the process, opened by its name.
TEST(WindowPath, EveryCommandOnTheInProcessDevice) { EveryCommandChangesTheRepeater(true); }

TEST(WindowPath, DateTimeSetsTheRepeatersClock) {
  sim::SimulatorRunner simulator(Options());
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;
  WindowPath w(simulator.SlavePath(), Selected());
  CommandControls controls;
  controls.repeaterId = kRepeater;

  // Before: the repeater's clock stands in 2020.
  w.commands.Run(CommandKind::RxHours, controls);
  ASSERT_TRUE(WaitUntil([&] { return HasPrefix(w.log.lines, "Current repeater time decoded: "); }, 10000))
      << Joined(w.log.lines);
  EXPECT_TRUE(HasPrefix(w.log.lines, "Current repeater time in HEX: 0x0000")) << Joined(w.log.lines);

  w.log.lines.clear();
  w.commands.Run(CommandKind::DateTime, controls);
  // 15:09 on 14.03.2031: minute, hour, (31 mod 8) * 32 + 14, (31 div 8) * 16 + 3.
  ASSERT_TRUE(WaitUntil([&] { return HasPrefix(w.log.lines, "Current repeater time decoded: "); }, 10000))
      << Joined(w.log.lines);
  EXPECT_EQ(w.log.lines[0], "68 15 06 8D 59 78 56 34 12 03 00 0B 7A 02 00 00 00 04 6D 09 0F EE 33 16 ");
  EXPECT_TRUE(Has(w.log.lines, "Current repeater time in HEX: 0x090FEE33")) << Joined(w.log.lines);
  // Nothing but the clock and the receive hours sent first has changed.
  sim::RepeaterState expected = Initial();
  expected.rxHours = 1;
  EXPECT_TRUE(simulator.Repeater() == expected);
}

TEST(WindowPath, SetInKorvexFillsTheTransceiversParameterMemory) {
  sim::SimulatorRunner simulator(Options());
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;
  WindowPath w(simulator.SlavePath(), Selected());
  CommandControls controls;
  controls.repeaterId = "87654321";
  EXPECT_TRUE(w.commands.SetInKorvex(controls));

  EXPECT_EQ(w.status, std::vector<std::string>{kParameterSaved});
  const auto memory = simulator.KorvexMemory();
  const std::vector<int> expected = {0x59, 0x8D, 0x87, 0x65, 0x43, 0x21, 0x00, 0x00};
  EXPECT_EQ(std::vector<int>(memory.begin() + 25, memory.begin() + 33), expected);
  EXPECT_EQ(simulator.Stats().prompts, 16u);
  // The repeater itself is not touched.
  EXPECT_EQ(simulator.Stats().commandFrames, 0u);
  EXPECT_TRUE(Unchanged(simulator.Repeater()));
}

TEST(WindowPath, SetInKorvexWithASilentTransceiver) {
  PtyPair pty;  // nobody answers on the master side
  WindowPath w(pty.SlavePath(), Selected());
  CommandControls controls;
  controls.repeaterId = kRepeater;
  EXPECT_FALSE(w.commands.SetInKorvex(controls));

  // One status for the whole run: the last exchange's alone would hide the others.
  EXPECT_EQ(w.status, std::vector<std::string>{kParameterError});
  // Each exchange: configuration mode asked for, no prompt, left with 0xFF and "X".
  std::string expected;
  for (int i = 0; i < 8; ++i)
    expected += std::string(
        "\x00\xFF"
        "X",
        3);
  EXPECT_EQ(HexText(pty.Receive(expected.size())), HexText(expected));
  EXPECT_EQ(pty.ReadAvailable(), "");
}

// The in-process device pulled out and put back: the port connection tells
// the loss, opens the device again by itself once it is back, and commands
// go through as before; the repeater has kept what it was told.
TEST(WindowPath, InProcessDevicePulledOutAndPutBack) {
  auto simulator = sim::MakeInProcessSimulator(Options());
  std::string error;
  ASSERT_TRUE(simulator->Start(&error)) << error;
  const std::string name = simulator->SlavePath();
  WindowPath w(name, Selected());
  CommandControls controls;
  controls.repeaterId = kRepeater;
  CommandKind kind{};
  ASSERT_EQ(ParseCommandKind({"rx-start-hour", "9"}, kind, controls), "");
  w.commands.Run(kind, controls);
  ASSERT_TRUE(WaitUntil([&] { return Has(w.log.lines, "START HOUR = 9"); }, 10000)) << Joined(w.log.lines);

  simulator->Unplug();
  const std::string lost = "The serial port (" + name + ") was disconnected!";
  ASSERT_TRUE(WaitUntil([&] { return Has(w.log.lines, lost); }, 10000)) << Joined(w.log.lines);
  ASSERT_TRUE(simulator->Replug(&error)) << error;
  const std::string back = "The serial port (" + name + ") is back, reconnected.";
  ASSERT_TRUE(WaitUntil([&] { return Has(w.log.lines, back); }, 10000)) << Joined(w.log.lines);

  w.log.lines.clear();
  ASSERT_EQ(ParseCommandKind({"rx-hours", "3"}, kind, controls), "");
  w.commands.Run(kind, controls);
  ASSERT_TRUE(WaitUntil([&] { return Has(w.log.lines, "WORK HOURS RX = 3"); }, 10000)) << Joined(w.log.lines);
  EXPECT_TRUE(Has(w.log.lines, "START HOUR = 9")) << Joined(w.log.lines);
}

}  // namespace
