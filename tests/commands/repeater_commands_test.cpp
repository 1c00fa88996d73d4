// The button logic over a scripted CommandPort: checks, texts, and the byte
// order and waits of the Korvex exchange. Transmission through the real port
// is tested on a pseudo-terminal in command_port_pty_test.cpp.
#include "repeater_commands.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "scripted_prompts.h"

namespace {

using Lines = std::vector<std::string>;

// Records every call, and the waits between them, as one event list.
class ScriptedPort : public CommandPort {
 public:
  std::vector<std::string> events;
  std::deque<std::string> replies;  // what each ReadData returns ("" = nothing within the time-out)
  bool writesFail = false;          // the port takes no byte
  std::string throwOnWrite;         // a port error with this message

  bool WriteString(std::string_view bytes) override {
    Check();
    events.push_back("write " + HexText(bytes));
    return !writesFail;
  }
  bool WriteByte(std::uint8_t byte) override {
    Check();
    events.push_back("byte " + HexByte(byte));
    return !writesFail;
  }
  int ReadData(char* dest, int count) override {
    events.push_back("read");
    if (replies.empty() || replies.front().empty()) return 0;
    std::string r = replies.front();
    replies.pop_front();
    const int n = std::min<int>(count, static_cast<int>(r.size()));
    std::copy_n(r.data(), n, dest);
    return n;
  }
  void PurgeAll() override { events.push_back("purge"); }
  void Drain() override { events.push_back("drain"); }
  // A scripted reply waits at once; "" (or none) means the time-out ran out.
  bool WaitForInput(int timeoutMs) override {
    events.push_back("wait " + std::to_string(timeoutMs > 0));
    if (replies.empty()) return false;
    if (!replies.front().empty()) return true;
    replies.pop_front();
    return false;
  }

 private:
  void Check() {
    if (!throwOnWrite.empty()) throw std::runtime_error(throwOnWrite);
  }
};

struct Fixture {
  CommandState state;
  CommandControls controls;
  VectorLogSink log;
  std::vector<std::string> status;
  FixedClock clock{LocalTime{2026, 12, 7, 9, 7, 0}};
  ScriptedPort port;
  ScriptedPrompts prompts;
  bool portOpens = true;
  int ensureCalls = 0;
  RepeaterCommands commands{state,
                            CommandEnvironment{
                                log,
                                [this](const std::string& s) { status.push_back(s); },
                                clock,
                                [this] {
                                  ++ensureCalls;
                                  return portOpens;
                                },
                                port,
                                prompts,
                                [this](int ms) { port.events.push_back("sleep " + std::to_string(ms)); },
                            }};

  Fixture() { controls.repeaterId = "12345678"; }
  // Frames written so far, as hex text.
  Lines Written() const {
    Lines out;
    for (const auto& e : port.events)
      if (e.rfind("write ", 0) == 0) out.push_back(e.substr(6));
    return out;
  }
};

TEST(RepeaterCommands, ParameterCommandsSendAndLogTheFrame) {
  const struct {
    CommandKind kind;
    const char* records;
  } cases[] = {
      {CommandKind::RxStartHour, "01 22 05 "},         {CommandKind::RxHours, "01 26 03 "},
      {CommandKind::RxWindow, "0F FF 6D 02 05 03 "},   {CommandKind::DateTime, "04 6D 07 09 47 3C "},
      {CommandKind::Flag, "0F FF 05 04 21 01 00 00 "}, {CommandKind::ClockCalibration, "0F FF 32 02 2C 81 "},
      {CommandKind::WirelessMode, "0F FF 20 01 03 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.records);
    Fixture f;
    f.controls.rxStartHour = 5, f.controls.rxHours = 3;
    f.controls.flag = "33", f.controls.flagSet = true;
    f.controls.calibration = "300", f.controls.calibrationOn = true;
    f.controls.wirelessMode = "Mode S";
    f.commands.Run(c.kind, f.controls);
    ASSERT_EQ(f.log.lines.size(), 1u);
    const std::string& line = f.log.lines[0];
    EXPECT_EQ(f.port.events, Lines{"write " + line});
    EXPECT_EQ(line.substr(0, 3 * 17), "68 " + line.substr(3, 3) + "06 8D 59 78 56 34 12 03 00 " +
                                          line.substr(33, 3) + "7A 01 00 00 00 ");
    EXPECT_EQ(line.substr(3 * 17), std::string(c.records) + "16 ");
    EXPECT_EQ(f.ensureCalls, 1);
  }
}

// Every frame command refuses an ID that is not 8 characters before anything
// else: no port, no access number.
TEST(RepeaterCommands, FrameCommandsCheckTheSelectedRepeaterFirst) {
  for (const CommandKind kind :
       {CommandKind::RxStartHour, CommandKind::RxHours, CommandKind::RxWindow, CommandKind::DateTime,
        CommandKind::Flag, CommandKind::ClockCalibration, CommandKind::WirelessMode, CommandKind::NewId}) {
    Fixture f;
    f.controls.repeaterId = "1234567";
    f.controls.newId = "87654321";
    f.commands.Run(kind, f.controls);
    EXPECT_EQ(f.log.lines, Lines{kNoRepeaterSelected});
    EXPECT_EQ(f.ensureCalls, 0);
    EXPECT_TRUE(f.port.events.empty());
    EXPECT_EQ(f.state.accessNumber, 0);
  }
}

TEST(RepeaterCommands, NothingHappensWhenThePortStaysClosed) {
  for (const CommandKind kind : {CommandKind::RxHours, CommandKind::NewId, CommandKind::CustomData}) {
    Fixture f;
    f.portOpens = false;
    f.controls.newId = "1";  // the length check comes after the port
    f.controls.customCommand = "01";
    f.commands.Run(kind, f.controls);
    EXPECT_TRUE(f.log.lines.empty());
    EXPECT_TRUE(f.port.events.empty());
    EXPECT_EQ(f.state.accessNumber, 0);
    EXPECT_EQ(f.state.repeaterAddress, BcdId{});
  }
  Fixture f;
  f.portOpens = false;
  f.commands.SetInKorvex(f.controls);
  EXPECT_TRUE(f.port.events.empty());
  EXPECT_TRUE(f.status.empty());
}

// Bit 15 of the calibration word is the on/off switch: a value the other 15
// bits cannot hold is refused with the range before the port is touched,
// whatever "On/Off" says.
TEST(RepeaterCommands, CalibrationOutsideItsFifteenBitsIsRefused) {
  const struct {
    const char* value;
    bool on;
    const char* records;  // nullptr: refused
  } cases[] = {
      {"0", false, "0F FF 32 02 00 00 "},
      {"0", true, "0F FF 32 02 00 80 "},
      {"32767", false, "0F FF 32 02 FF 7F "},
      {"32767", true, "0F FF 32 02 FF FF "},
      {"32768", false, nullptr},
      {"40000", false, nullptr},
      {"65535", true, nullptr},
      {"-1", false, nullptr},
      {"99999999999", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    Fixture f;
    f.controls.calibration = c.value, f.controls.calibrationOn = c.on;
    f.commands.Run(CommandKind::ClockCalibration, f.controls);
    ASSERT_EQ(f.log.lines.size(), 1u);
    if (c.records) {
      EXPECT_EQ(f.log.lines[0].substr(3 * 17), std::string(c.records) + "16 ");
      continue;
    }
    EXPECT_EQ(f.log.lines[0],
              std::string("Not sent: the clock calibration is 0 to 32767, not '") + c.value + "'");
    EXPECT_TRUE(f.port.events.empty());
    EXPECT_EQ(f.ensureCalls, 0);
  }
}

TEST(RepeaterCommands, RefusedValuesLogAndConsumeAnAccessNumber) {
  const struct {
    const char* name;
    CommandKind kind;
    void (*set)(CommandControls&);
    Lines log;
  } cases[] = {
      {"flag 0", CommandKind::Flag, [](CommandControls& c) { c.flag = "0"; }, {kNotCorrectCommand}},
      {"flag 70", CommandKind::Flag, [](CommandControls& c) { c.flag = "70"; }, {kNotCorrectCommand}},
      {"flag empty", CommandKind::Flag, [](CommandControls& c) { c.flag = ""; }, {kNotCorrectCommand}},
      {"calibration empty",
       CommandKind::ClockCalibration,
       [](CommandControls& c) { c.calibration = ""; },
       {kNotCorrectCommand}},
      {"year 1850", CommandKind::DateTime, [](CommandControls&) {}, {kIncorrectYear, kNotCorrectCommand}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.clock.Set(LocalTime{1850, 6, 1, 12, 0, 0});
    c.set(f.controls);
    f.commands.Run(c.kind, f.controls);
    EXPECT_EQ(f.log.lines, c.log);
    EXPECT_TRUE(f.Written().empty());
    // The next frame carries the number after the one used up.
    f.log.lines.clear();
    f.commands.Run(CommandKind::RxHours, f.controls);
    ASSERT_EQ(f.log.lines.size(), 1u);
    EXPECT_EQ(f.log.lines[0].substr(39, 3), "02 ");
  }
}

TEST(RepeaterCommands, WriteErrorsAreLoggedInsteadOfTheFrame) {
  Fixture f;
  f.port.throwOnWrite = "Write error (5), Input/output error";
  f.commands.Run(CommandKind::RxHours, f.controls);
  EXPECT_EQ(f.log.lines, Lines{"Exception - Write error (5), Input/output error"});

  // A write the port did not complete is not logged as sent.
  Fixture g;
  g.port.writesFail = true;
  g.commands.Run(CommandKind::RxHours, g.controls);
  EXPECT_EQ(g.log.lines, Lines{std::string("Exception - ") + kFrameNotWritten});
}

TEST(RepeaterCommands, WirelessModeOutsideTheListDoesNothing) {
  Fixture f;
  f.controls.wirelessMode = "mode s";
  f.controls.bmt = true;
  f.commands.SendWirelessMode(f.controls);
  EXPECT_TRUE(f.log.lines.empty());
  EXPECT_TRUE(f.port.events.empty());
  EXPECT_EQ(f.state.accessNumber, 0);
  EXPECT_EQ(f.state.repeaterAddress, (BcdId{0x12, 0x34, 0x56, 0x78}));

  f.controls.wirelessMode = "Mode C";  // framed although BMT is ticked
  f.commands.SendWirelessMode(f.controls);
  EXPECT_EQ(f.Written(), Lines{"68 14 06 8D 59 78 56 34 12 03 00 0A 7A 01 00 00 00 0F FF 20 01 05 16 "});
}

TEST(RepeaterCommands, NewIdGoesToThePresentId) {
  Fixture f;
  f.controls.newId = "8765432";
  f.commands.SendNewId(f.controls);
  EXPECT_EQ(f.log.lines, Lines{kNewIdLength});
  EXPECT_EQ(f.ensureCalls, 1);
  EXPECT_EQ(f.state.accessNumber, 0);

  f.log.lines.clear();
  f.controls.newId = "87654321";
  f.commands.SendNewId(f.controls);
  EXPECT_EQ(f.log.lines,
            Lines{"68 19 06 8D 59 78 56 34 12 03 00 0F 7A 01 00 00 00 07 79 21 43 65 87 8D 59 03 00 16 "});
  EXPECT_EQ(f.Written(), f.log.lines);
}

TEST(RepeaterCommands, CustomData) {
  Fixture f;
  f.controls.repeaterId = "";  // no ID used before: address 00 00 00 00, no check
  f.controls.customCommand = "0A";
  f.commands.SendCustomData(f.controls);
  EXPECT_EQ(f.log.lines, Lines{"68 10 06 8D 59 00 00 00 00 03 00 06 7A 01 00 00 00 0A 16 "});

  f.log.lines.clear();
  f.controls.repeaterId = "12345678";
  f.controls.customCommand = "01 FD 17";
  f.controls.bmt = true;
  f.commands.SendCustomData(f.controls);
  EXPECT_EQ(f.log.lines, Lines{"12 06 8D 59 78 56 34 12 03 00 08 7A 02 00 00 00 01 FD 17 "});

  // A 7-character ID keeps the last 8-character one; a bad pair sends nothing.
  f.log.lines.clear();
  f.controls.repeaterId = "1111111";
  f.controls.customCommand = "01 ZZ 17";
  f.commands.SendCustomData(f.controls);
  f.controls.customCommand = "";
  f.commands.SendCustomData(f.controls);
  f.controls.customCommand = "5";
  f.commands.SendCustomData(f.controls);
  EXPECT_TRUE(f.log.lines.empty());
  EXPECT_EQ(f.Written().size(), 2u);
  EXPECT_EQ(f.state.accessNumber, 2);
  f.controls.customCommand = "FF";
  f.commands.SendCustomData(f.controls);
  EXPECT_EQ(f.log.lines, Lines{"10 06 8D 59 78 56 34 12 03 00 06 7A 03 00 00 00 FF "});

  // Write errors of this command are left to the application's error report.
  f.port.throwOnWrite = "Write error";
  EXPECT_THROW(f.commands.SendCustomData(f.controls), std::runtime_error);
  f.port.throwOnWrite.clear();
  f.port.writesFail = true;
  EXPECT_THROW(f.commands.SendCustomData(f.controls), CommandWriteError);
  EXPECT_EQ(f.log.lines.size(), 1u);
}

Lines Exchange(int address, int value) {
  return {"purge",
          "byte 00",
          "drain",
          "read",
          "byte 4D",
          "drain",
          "read",
          "byte " + HexByte(static_cast<std::uint8_t>(address)),
          "drain",
          "sleep 1",
          "byte " + HexByte(static_cast<std::uint8_t>(value)),
          "drain",
          "byte FF",
          "drain",
          "sleep 5",
          "byte 58",
          "drain"};
}
// No byte, and the read time-out runs out.
const Lines kFailedExchange = {"purge",   "byte 00", "drain",   "read",    "wait 1",
                               "byte FF", "drain",   "sleep 5", "byte 58", "drain"};

TEST(RepeaterCommands, SetInKorvexWithAnAnsweringTransceiver) {
  Fixture f;
  f.controls.repeaterId = "12345678";
  for (int i = 0; i < 16; ++i) f.port.replies.push_back(">");
  EXPECT_TRUE(f.commands.SetInKorvex(f.controls));

  Lines expected;
  const int values[8] = {0x59, 0x8D, 0x12, 0x34, 0x56, 0x78, 0x00, 0x00};
  for (int i = 0; i < 8; ++i) {
    const Lines one = Exchange(25 + i, values[i]);
    expected.insert(expected.end(), one.begin(), one.end());
    if (i < 7) expected.push_back("sleep 50");
  }
  EXPECT_EQ(f.port.events, expected);
  EXPECT_EQ(f.status, Lines{kParameterSaved});
  EXPECT_TRUE(f.log.lines.empty());
  EXPECT_EQ(f.state.repeaterAddress, BcdId{});  // the address of the frames is not touched
}

TEST(RepeaterCommands, SetInKorvexWithASilentTransceiver) {
  Fixture f;
  EXPECT_FALSE(f.commands.SetInKorvex(f.controls));
  Lines expected;
  for (int i = 0; i < 8; ++i) {
    expected.insert(expected.end(), kFailedExchange.begin(), kFailedExchange.end());
    if (i < 7) expected.push_back("sleep 50");
  }
  EXPECT_EQ(f.port.events, expected);
  EXPECT_EQ(f.status, Lines{kParameterError});
  EXPECT_EQ(f.log.lines, Lines{std::string(kKorvexFailedAddresses) + "25, 26, 27, 28, 29, 30, 31, 32"});
}

// Bytes ahead of the prompt are not the prompt; a failure anywhere but the
// last exchange still shows on the panel, naming the address.
TEST(RepeaterCommands, SetInKorvexReportsEveryFailedExchange) {
  Fixture f;
  f.port.replies = {"\x16", ">"};  // the end of a telegram, then the prompt
  for (int i = 1; i < 16; ++i) f.port.replies.push_back(i == 4 ? "" : ">");
  EXPECT_FALSE(f.commands.SetInKorvex(f.controls));
  EXPECT_EQ(f.status, Lines{kParameterError});
  EXPECT_EQ(f.log.lines, Lines{std::string(kKorvexFailedAddresses) + "27"});
  const Lines start(f.port.events.begin(), f.port.events.begin() + 6);
  EXPECT_EQ(start, (Lines{"purge", "byte 00", "drain", "read", "read", "byte 4D"}));
}

TEST(RepeaterCommands, SetInKorvexChecksTheIdLength) {
  Fixture f;
  f.controls.repeaterId = "123456789";
  f.commands.SetInKorvex(f.controls);
  EXPECT_EQ(f.log.lines, Lines{kKorvexIdLength});
  EXPECT_EQ(f.ensureCalls, 0);
  EXPECT_TRUE(f.port.events.empty());
}

// Eight characters that are not all digits reach no device, whatever the command.
TEST(RepeaterCommands, IdsThatAreNotEightDigitsAreRefusedAtTheirUse) {
  const struct {
    const char* repeaterId;
    const char* newId;
    CommandKind kind;
    Lines log;
  } cases[] = {
      {"12345xyz", "87654321", CommandKind::DateTime, {kKorvexIdLength}},
      {"1234567O", "87654321", CommandKind::RxHours, {kKorvexIdLength}},
      {"12 45678", "87654321", CommandKind::WirelessMode, {kKorvexIdLength}},
      {"12345678", "ABCDEFGH", CommandKind::NewId, {kNewIdLength}},
      {"12345678", "8765432 ", CommandKind::NewId, {kNewIdLength}},
      {"-1234567", "87654321", CommandKind::CustomData, {kKorvexIdLength}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.repeaterId) + " / " + c.newId);
    Fixture f;
    f.controls.repeaterId = c.repeaterId;
    f.controls.newId = c.newId;
    f.controls.wirelessMode = "Mode C";
    f.controls.customCommand = "01 02";
    f.commands.Run(c.kind, f.controls);
    EXPECT_EQ(f.log.lines, c.log);
    EXPECT_TRUE(f.Written().empty());
    EXPECT_EQ(f.state.accessNumber, 0);
    EXPECT_EQ(f.state.repeaterAddress, BcdId{});
  }
  Fixture f;
  f.controls.repeaterId = "12345xyz";
  EXPECT_FALSE(f.commands.SetInKorvex(f.controls));
  EXPECT_EQ(f.log.lines, Lines{kKorvexIdLength});
  EXPECT_TRUE(f.port.events.empty());
}

// Custom data: a hex digit where a separator belongs, or a lone last digit,
// is refused; any one-character separator is fine.
TEST(RepeaterCommands, CustomDataTextMustBePairsAndSeparators) {
  const struct {
    const char* text;
    const char* sent;  // nullptr: refused with the log line
  } cases[] = {
      {"01FD17", nullptr},       {"01 FD 1", nullptr},       {"01 FD17", nullptr},
      {"01-FD:17", "01 FD 17 "}, {"01 FD 17 ", "01 FD 17 "}, {"0a,fd", "0A FD "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Fixture f;
    f.controls.customCommand = c.text;
    f.commands.SendCustomData(f.controls);
    if (c.sent) {
      ASSERT_EQ(f.Written().size(), 1u);
      EXPECT_TRUE(f.Written()[0].ends_with(std::string(c.sent) + "16 ")) << f.Written()[0];
    } else {
      EXPECT_EQ(f.log.lines, Lines{kNotCorrectCommand});
      EXPECT_TRUE(f.Written().empty());
    }
  }
}

TEST(RepeaterCommands, ConfigurationExchangeFailures) {
  const struct {
    const char* name;
    std::deque<std::string> replies;
    bool writesFail;
    Lines events;
  } cases[] = {
      {"wrong byte, then silence",
       {"<"},
       false,
       {"purge", "byte 00", "drain", "read", "read", "wait 1", "byte FF", "drain", "sleep 5", "byte 58",
        "drain"}},
      {"second prompt missing",
       {">"},
       false,
       {"purge", "byte 00", "drain", "read", "byte 4D", "drain", "read", "wait 1", "byte FF", "drain",
        "sleep 5", "byte 58", "drain"}},
      {"bytes not taken by the port",
       {">", ">"},
       true,
       {"purge", "byte 00", "byte FF", "sleep 5", "byte 58"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.port.replies = c.replies;
    f.port.writesFail = c.writesFail;
    EXPECT_FALSE(f.commands.SetTransceiverParameter(0x1B, 0x12));
    EXPECT_EQ(f.port.events, c.events);
    EXPECT_EQ(f.status, Lines{kParameterError});
  }
}

TEST(RepeaterCommands, LeaveConfigModeShowsAPortErrorAndCarriesOn) {
  Fixture f;
  f.port.throwOnWrite = "Write error (5), Input/output error";
  f.commands.LeaveConfigMode();
  ASSERT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_EQ(f.prompts.shown[0].kind, "message");
  EXPECT_EQ(f.prompts.shown[0].text, "Write error (5), Input/output error");
}

}  // namespace
