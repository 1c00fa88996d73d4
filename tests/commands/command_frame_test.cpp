#include "command_frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

Bytes Hex(std::string_view text) { return HexTextToBytes(text); }

struct Builder {
  CommandState state;
  CommandControls controls;
  FixedClock clock{LocalTime{2026, 12, 7, 9, 7, 0}};
  VectorLogSink log;

  Builder() {
    controls.repeaterId = "12345678";
    IdToBcd(controls.repeaterId, state.repeaterAddress);
  }
  Bytes Build(CommandKind kind, std::string_view data = {}) {
    return BuildCommandFrame(kind, data, FrameInputs{controls, clock, log}, state);
  }
};

// The data records of a frame, checked against the fixed header on the way.
Bytes Records(const Bytes& frame, bool framed, int n) {
  const size_t base = framed ? 1 : 0;
  EXPECT_EQ(frame.size(), static_cast<size_t>(n) + (framed ? 13 : 11));
  if (frame.size() < base + 16) return Bytes();
  if (framed) {
    EXPECT_EQ(ByteAt(frame, 0), 0x68);
    EXPECT_EQ(ByteAt(frame, frame.size() - 1), 0x16);
  }
  EXPECT_EQ(ByteAt(frame, base), n + 10);
  EXPECT_EQ(frame.substr(base + 1, 3), Hex("06 8D 59"));
  EXPECT_EQ(ByteAt(frame, base + 10), n);
  EXPECT_EQ(ByteAt(frame, base + 11), 0x7A);
  EXPECT_EQ(frame.substr(base + 13, 3), Hex("00 00 00"));
  return frame.substr(base + 16, frame.size() - base - 16 - (framed ? 1 : 0));
}

TEST(CommandFrame, WorkedExampleFramedAndBare) {
  Builder b;
  b.controls.rxStartHour = 5;
  EXPECT_EQ(HexText(b.Build(CommandKind::RxStartHour)),
            "68 12 06 8D 59 78 56 34 12 03 00 08 7A 01 00 00 00 01 22 05 16 ");
  b.controls.bmt = true;
  EXPECT_EQ(HexText(b.Build(CommandKind::RxStartHour)),
            "12 06 8D 59 78 56 34 12 03 00 08 7A 02 00 00 00 01 22 05 ");
}

TEST(CommandFrame, EveryKindInBothForms) {
  struct Case {
    const char* name;
    CommandKind kind;
    void (*set)(CommandControls&);
    std::string data;
    int n;
    const char* records;  // nullptr: refused
  };
  const Case cases[] = {
      {"start hour 23", CommandKind::RxStartHour, [](CommandControls& c) { c.rxStartHour = 23; }, "", 8,
       "01 22 17"},
      {"rx hours 6", CommandKind::RxHours, [](CommandControls& c) { c.rxHours = 6; }, "", 8, "01 26 06"},
      {"window 22 + 4", CommandKind::RxWindow, [](CommandControls& c) { c.rxStartHour = 22, c.rxHours = 4; },
       "", 11, "0F FF 6D 02 16 04"},
      {"datetime", CommandKind::DateTime, [](CommandControls&) {}, "", 11, "04 6D 07 09 47 3C"},
      {"flag 33 set", CommandKind::Flag, [](CommandControls& c) { c.flag = "33", c.flagSet = true; }, "", 13,
       "0F FF 05 04 21 01 00 00"},
      {"flag 1 clear", CommandKind::Flag, [](CommandControls& c) { c.flag = "1", c.flagSet = false; }, "", 13,
       "0F FF 05 04 01 00 00 00"},
      {"flag 64", CommandKind::Flag, [](CommandControls& c) { c.flag = "64"; }, "", 13,
       "0F FF 05 04 40 00 00 00"},
      {"flag 257 is flag 1", CommandKind::Flag, [](CommandControls& c) { c.flag = "257"; }, "", 13,
       "0F FF 05 04 01 00 00 00"},
      {"flag 0", CommandKind::Flag, [](CommandControls& c) { c.flag = "0"; }, "", 13, nullptr},
      {"flag 65", CommandKind::Flag, [](CommandControls& c) { c.flag = "65"; }, "", 13, nullptr},
      {"flag 70", CommandKind::Flag, [](CommandControls& c) { c.flag = "70"; }, "", 13, nullptr},
      {"flag empty", CommandKind::Flag, [](CommandControls& c) { c.flag = ""; }, "", 13, nullptr},
      {"flag not a number", CommandKind::Flag, [](CommandControls& c) { c.flag = "3a"; }, "", 13, nullptr},
      {"calibration 300 on", CommandKind::ClockCalibration,
       [](CommandControls& c) { c.calibration = "300", c.calibrationOn = true; }, "", 11,
       "0F FF 32 02 2C 81"},
      {"calibration 300 off", CommandKind::ClockCalibration,
       [](CommandControls& c) { c.calibration = "300"; }, "", 11, "0F FF 32 02 2C 01"},
      // Beyond the 15 bits the value would run into the on/off bit and wrap.
      {"calibration 70000", CommandKind::ClockCalibration,
       [](CommandControls& c) { c.calibration = "70000"; }, "", 11, nullptr},
      {"calibration 32768", CommandKind::ClockCalibration,
       [](CommandControls& c) { c.calibration = "32768"; }, "", 11, nullptr},
      {"calibration empty", CommandKind::ClockCalibration, [](CommandControls& c) { c.calibration = ""; }, "",
       11, nullptr},
      {"calibration text", CommandKind::ClockCalibration, [](CommandControls& c) { c.calibration = "12 "; },
       "", 11, nullptr},
      {"new id", CommandKind::NewId, [](CommandControls&) {}, "87654321", 15,
       "07 79 21 43 65 87 8D 59 03 00"},
      {"new id, version 16", CommandKind::NewId, [](CommandControls& c) { c.version = "16"; }, "00000001", 15,
       "07 79 01 00 00 00 8D 59 10 00"},
      {"new id of 7 digits", CommandKind::NewId, [](CommandControls&) {}, "8765432", 15, nullptr},
      {"custom 01 FD 17", CommandKind::CustomData, [](CommandControls&) {}, Hex("01 FD 17"), 8, "01 FD 17"},
      {"custom one byte", CommandKind::CustomData, [](CommandControls&) {}, Hex("0A"), 6, "0A"},
      {"custom nothing", CommandKind::CustomData, [](CommandControls&) {}, "", 5, nullptr},
  };
  for (const bool bmt : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (bmt ? ", bare" : ", framed"));
      Builder b;
      b.controls.bmt = bmt;
      c.set(b.controls);
      const Bytes frame = b.Build(c.kind, c.data);
      EXPECT_EQ(b.state.accessNumber, 1);
      if (!c.records) {
        EXPECT_EQ(frame, Bytes());
        continue;
      }
      EXPECT_EQ(HexText(Records(frame, !bmt, c.n)), HexText(Hex(c.records)));
      const size_t base = bmt ? 0 : 1;
      EXPECT_EQ(frame.substr(base + 4, 4), Hex("78 56 34 12"));
      EXPECT_EQ(ByteAt(frame, base + 12), 1);  // access number
      EXPECT_EQ(ByteAt(frame, base + 8), VersionByte(b.controls.version));
    }
  }
}

TEST(CommandFrame, WirelessModeIsAlwaysFramed) {
  const struct {
    const char* text;
    int code;  // -1: refused
  } cases[] = {{"Mode T+C", 0}, {"Mode T", 1},   {"Mode S", 3}, {"Mode C", 5},
               {"mode s", -1},  {"Mode S ", -1}, {"", -1}};
  for (const bool bmt : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.text);
      Builder b;
      b.controls.bmt = bmt;
      b.controls.wirelessMode = c.text;
      const Bytes frame = b.Build(CommandKind::WirelessMode);
      if (c.code < 0) {
        EXPECT_EQ(frame, Bytes());
        EXPECT_FALSE(WirelessModeCode(c.text).has_value());
        continue;
      }
      Bytes expected = Hex("0F FF 20 01");
      expected.push_back(static_cast<char>(c.code));
      EXPECT_EQ(Records(frame, true, 10), expected);
    }
  }
}

TEST(CommandFrame, AccessNumberWrapsAndRejectedBuildsConsumeOne) {
  Builder b;
  for (int i = 1; i <= 255; ++i) ASSERT_EQ(ByteAt(b.Build(CommandKind::RxHours), 13), i);
  EXPECT_EQ(ByteAt(b.Build(CommandKind::RxHours), 13), 0x00);  // the 256th frame
  EXPECT_EQ(ByteAt(b.Build(CommandKind::RxHours), 13), 0x01);

  Builder r;
  r.Build(CommandKind::RxHours);  // 1
  r.controls.flag = "0";
  EXPECT_EQ(r.Build(CommandKind::Flag), Bytes());  // 2, refused
  r.clock.Set(LocalTime{1850, 1, 1, 0, 0, 0});
  EXPECT_EQ(r.Build(CommandKind::DateTime), Bytes());  // 3, refused
  EXPECT_EQ(ByteAt(r.Build(CommandKind::RxHours), 13), 4);
}

TEST(CommandFrame, VersionByte) {
  const struct {
    const char* text;
    int byte;
  } cases[] = {{"3", 3},     {"", 3},       {"abc", 3}, {"1x", 3},         {"259", 3},
               {"16", 0x10}, {"300", 0x2C}, {"0", 0},   {"99999999999", 3}};
  for (const auto& c : cases) EXPECT_EQ(VersionByte(c.text), c.byte) << c.text;
}

TEST(CommandFrame, DateTimeYearRules) {
  const struct {
    int year;
    int y;  // -1: refused
  } cases[] = {{2026, 26}, {2001, 1}, {2000, 100}, {1999, 99}, {1901, 1},  {99, 99},
               {0, 0},     {100, -1}, {1900, -1},  {1500, -1}, {2127, 127}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.year);
    VectorLogSink log;
    const auto record = EncodeDateTimeRecord(LocalTime{c.year, 12, 7, 9, 7, 0}, log);
    if (c.y < 0) {
      EXPECT_FALSE(record.has_value());
      EXPECT_EQ(log.lines, std::vector<std::string>{kIncorrectYear});
      continue;
    }
    ASSERT_TRUE(record.has_value());
    EXPECT_TRUE(log.lines.empty());
    Bytes expected = Hex("04 6D 07 09");
    expected.push_back(static_cast<char>((c.y % 8) * 32 + 7));
    expected.push_back(static_cast<char>(((c.y / 8) % 16) * 16 + 12));
    EXPECT_EQ(*record, expected);
  }
  // The worked example of a PC whose year reads 2000.
  VectorLogSink log;
  EXPECT_EQ(*EncodeDateTimeRecord(LocalTime{2000, 3, 15, 0, 0, 0}, log), Hex("04 6D 00 00 8F C3"));
}

TEST(CommandFrame, IdToBcdKeepsTheOldBytesForAWrongLength) {
  BcdId id{};
  IdToBcd("12345678", id);
  EXPECT_EQ(id, (BcdId{0x12, 0x34, 0x56, 0x78}));
  for (const char* wrong : {"1234567", "123456789", ""}) {
    IdToBcd(wrong, id);
    EXPECT_EQ(id, (BcdId{0x12, 0x34, 0x56, 0x78})) << wrong;
  }
  IdToBcd("00000090", id);
  EXPECT_EQ(id, (BcdId{0x00, 0x00, 0x00, 0x90}));
}

TEST(CommandFrame, CustomDataTooLongForTheLengthByteIsRefused) {
  Builder b;
  EXPECT_EQ(ByteAt(b.Build(CommandKind::CustomData, Bytes(240, '\x11')), 1), 255);
  EXPECT_EQ(b.Build(CommandKind::CustomData, Bytes(241, '\x11')), Bytes());
}

}  // namespace
