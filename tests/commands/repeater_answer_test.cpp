#include "repeater_answer.h"

#include <gtest/gtest.h>

#include <vector>

#include "hex.h"

namespace {

using Lines = std::vector<std::string>;

// A frame from repeater 12345678 (VLM) whose data records start at offset 16.
Bytes AnswerFrame(const Bytes& records) {
  Bytes f = HexTextToBytes("68 00 44 8D 59 78 56 34 12 03 00 7A 05 00 00 00");
  f += records;
  f += HexTextToBytes("A0 16");
  f[1] = static_cast<char>(f.size() - 3);
  return f;
}

Bytes Hex(const char* text) { return HexTextToBytes(text); }

// Status answer with every record; the bytes at 19, 22, 27, 40 and 41 are not examined.
Bytes FullStatus(const char* battery = "10 0E") {
  return Hex("0F FF 06 99 05 03 99 03") + Hex("0F FF 05 99 01 00 00 80") + Hex("04 6D 05 09 47 3C") +
         Hex("0F FF AB CD 00 02") + Hex("02 24 10 0E") + Hex("02 46 ") + Hex(battery);
}

struct Decoder {
  FixedClock clock{LocalTime{2026, 12, 7, 9, 7, 30}};
  LocalFormats formats{"dd.MM.yyyy", "HH:mm:ss", QChar('.')};
  TimeTexts time{clock, formats};
  VectorLogSink log;

  Lines Body(std::string_view frame) {
    log.lines.clear();
    DecodeRepeaterAnswer(frame, log, time);
    EXPECT_GE(log.lines.size(), 3u);
    return Lines(log.lines.begin() + std::min<size_t>(3, log.lines.size()), log.lines.end());
  }
};

TEST(RepeaterAnswer, HeaderLines) {
  Decoder d;
  const Bytes frame = AnswerFrame(Hex("01 FD 00 17"));
  d.Body(frame);
  ASSERT_EQ(d.log.lines.size(), 4u);
  EXPECT_EQ(d.log.lines[0], "");
  EXPECT_EQ(d.log.lines[1], "07.12.2026, 09:07:30");
  EXPECT_EQ(d.log.lines[2], "Repeater 12345678, VLM: " + HexText(frame));
}

TEST(RepeaterAnswer, AnswerKinds) {
  struct Case {
    const char* name;
    Bytes records;
    Lines body;
  };
  const Lines fullStatus = {"START HOUR = 5",
                            "WORK HOURS RX = 3",
                            "Wireless mode: S1",
                            "Flags (32 total): 80000001",
                            "Current repeater time in HEX: 0x0509473C",
                            "Current repeater time decoded: 9:05, 7.12.26",
                            "Clock calibration in HEX: 0xABCD0002",
                            "Clock calibration: 512, without Flag",
                            "Work time left: 3600 s",
                            "Battery status: 3.600 V",
                            ""};
  Lines battery12346 = fullStatus;
  battery12346[9] = "Battery status: 12.350 V";
  Bytes mode2 = FullStatus();
  mode2[7] = 2;
  Bytes badFlagsMarker = FullStatus();
  badFlagsMarker[10] = 0x04;
  auto withCalibration = [](const char* bytes) {
    return Hex("0F FF 06 00 00 01 00 00") + Hex("00 00 00 00 00 00 00 00") + Hex("00 00 00 00 00 00") +
           Hex("0F FF 00 00 ") + Hex(bytes);
  };
  const Lines calibrationHead = {"START HOUR = 0", "WORK HOURS RX = 1", "Wireless mode: T1+C"};
  auto calibration = [&](const char* hex, const char* line) {
    Lines l = calibrationHead;
    l.push_back(std::string("Clock calibration in HEX: 0x0000") + hex);
    l.push_back(line);
    l.push_back("");
    return l;
  };

  const Case cases[] = {
      {"error 16", Hex("01 FD 00 16"), {"Error telegram - Repeater full, no more IDs allowed"}},
      {"error 17", Hex("01 FD 00 17 55"), {"Error telegram - ID not found or already active"}},
      {"error 18", Hex("01 FD 00 18"), {"Error telegram - Invalid input data"}},
      {"error 20", Hex("01 FD 00 20"), {"Error telegram - Not recognized error"}},
      {"flags", Hex("0F FF 05 00 01 00 00 80"), {"Flags (32 total): 80000001"}},
      {"full status", FullStatus(), fullStatus},
      {"mode 2 gives no mode line", mode2,
       Lines{"START HOUR = 5", "WORK HOURS RX = 3", "Flags (32 total): 80000001",
             "Current repeater time in HEX: 0x0509473C", "Current repeater time decoded: 9:05, 7.12.26",
             "Clock calibration in HEX: 0xABCD0002", "Clock calibration: 512, without Flag",
             "Work time left: 3600 s", "Battery status: 3.600 V", ""}},
      {"wrong flags marker skips that record only", badFlagsMarker,
       Lines{"START HOUR = 5", "WORK HOURS RX = 3", "Wireless mode: S1",
             "Current repeater time in HEX: 0x0509473C", "Current repeater time decoded: 9:05, 7.12.26",
             "Clock calibration in HEX: 0xABCD0002", "Clock calibration: 512, without Flag",
             "Work time left: 3600 s", "Battery status: 3.600 V", ""}},
      {"window and mode only",
       Hex("0F FF 06 00 16 04 00 05"),
       {"START HOUR = 22", "WORK HOURS RX = 4", "Wireless mode: C", ""}},
      {"mode T1",
       Hex("0F FF 06 00 01 02 00 01"),
       {"START HOUR = 1", "WORK HOURS RX = 2", "Wireless mode: T1", ""}},
      {"calibration 513", withCalibration("01 02"),
       calibration("0102", "Clock calibration: -32255, with Flag")},
      {"calibration 32778", withCalibration("0A 80"),
       calibration("0A80", "Clock calibration: 10, with Flag")},
      {"calibration 0", withCalibration("00 00"), calibration("0000", "Clock calibration: 0, without Flag")},
      {"battery 12346 mV", FullStatus("3A 30"), battery12346},
      {"meter telegram under the repeater's ID", Hex("0C 13 48 55 00 00"), {}},
      {"error marker at 16 but not 17", Hex("01 FE 00 17"), {}},
      {"status marker with another third byte", Hex("0F FF 07 00 05 03 00 01"), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoder d;
    EXPECT_EQ(d.Body(AnswerFrame(c.records)), c.body);
  }
}

TEST(RepeaterAnswer, BatteryTextRoundsToFourSignificantDigits) {
  const struct {
    unsigned mv;
    char sep;
    const char* text;
  } cases[] = {
      {3600, '.', "3.600"}, {12346, '.', "12.350"}, {12345, '.', "12.350"}, {12344, '.', "12.340"},
      {9999, '.', "9.999"}, {10004, '.', "10.000"}, {65535, '.', "65.540"}, {0, '.', "0.000"},
      {7, '.', "0.007"},    {3600, ',', "3,600"},   {12346, ',', "12,350"},
  };
  for (const auto& c : cases) EXPECT_EQ(BatteryVoltsText(c.mv, c.sep), c.text) << c.mv;
}

TEST(RepeaterAnswer, BatteryUsesTheLocaleDecimalSeparator) {
  Decoder d;
  LocalFormats comma{"dd.MM.yyyy", "HH:mm:ss", QChar(',')};
  TimeTexts time{d.clock, comma};
  DecodeRepeaterAnswer(AnswerFrame(FullStatus()), d.log, time);
  ASSERT_GE(d.log.lines.size(), 2u);
  EXPECT_EQ(d.log.lines[d.log.lines.size() - 2], "Battery status: 3,600 V");
}

// Cut short at every length from 3 to 60 bytes (each frame still ends with a
// signal byte and 0x16, the way the assembler cuts them): the decoder reads
// nothing beyond the frame, and the lines it writes are the leading lines of
// the complete answer, a record cut short being left out.
TEST(RepeaterAnswer, ShortFramesReadNothingBeyondTheirEnd) {
  const Bytes padded = FullStatus() + Hex("01 02 03 04 05 06");
  const Bytes kinds[] = {Hex("01 FD 00 17"), Hex("0F FF 05 00 01 00 00 80"), padded};
  for (const Bytes& records : kinds) {
    Decoder d;
    const Bytes whole = AnswerFrame(records);
    Lines complete = d.Body(whole);
    if (!complete.empty() && complete.back().empty()) complete.pop_back();

    size_t previous = 0;
    for (size_t n = 3; n <= 60; ++n) {
      SCOPED_TRACE("length " + std::to_string(n));
      // Exactly n bytes on the heap, so a sanitizer build sees any overread.
      std::vector<char> frame(whole.begin(),
                              whole.begin() + static_cast<long>(std::min(n - 2, whole.size())));
      frame.resize(n - 2, 0x33);
      frame.push_back(static_cast<char>(0xA0));
      frame.push_back(0x16);
      frame[1] = static_cast<char>(n - 3);
      frame.shrink_to_fit();
      const std::string_view view(frame.data(), frame.size());

      Lines body = d.Body(view);
      EXPECT_EQ(d.log.lines[2].substr(d.log.lines[2].find(": ") + 2), HexText(view));
      if (!body.empty() && body.back().empty()) body.pop_back();
      ASSERT_LE(body.size(), complete.size());
      EXPECT_EQ(body, Lines(complete.begin(), complete.begin() + static_cast<long>(body.size())));
      EXPECT_GE(body.size(), previous);
      previous = body.size();
    }
    EXPECT_EQ(previous, complete.size());
  }
}

TEST(RepeaterAnswer, ValueBytesNeverTakenFromTheSignalOrEndByte) {
  Decoder d;
  // 53 bytes: the battery marker fits, its value would be byte 50 and the
  // signal byte; the record is left out.
  Bytes cut = AnswerFrame(FullStatus()).substr(0, 51) + Hex("A0 16");
  cut[1] = static_cast<char>(cut.size() - 3);
  const Lines body = d.Body(cut);
  ASSERT_FALSE(body.empty());
  EXPECT_EQ(body[body.size() - 2], "Work time left: 3600 s");
  EXPECT_EQ(body.back(), "");

  // 21 bytes: an error marker whose code byte would be the signal byte.
  Bytes error = AnswerFrame(Hex("01 FD 00 17")).substr(0, 19) + Hex("A0 16");
  error[1] = static_cast<char>(error.size() - 3);
  EXPECT_EQ(d.Body(error), Lines{});
}

TEST(RepeaterAnswer, HeaderOfAFrameTooShortForIdAndMaker) {
  Decoder d;
  const Bytes tiny = Hex("68 00 16");
  EXPECT_EQ(d.Body(tiny), Lines{});
  EXPECT_EQ(d.log.lines[2], "Repeater , : 68 00 16 ");
}

}  // namespace
