#include "telegram_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "decoder_fixture.h"
#include "field_decoders.h"
#include "signal_chart.h"

TEST(TelegramDecoder, CiCheck) {
  DecoderFixture f;
  const Bytes wrong = WrapFrame(MeterTelegram("11223344", 0x7B, 0x01), 0x80);
  f.Decode(wrong);
  EXPECT_EQ(f.log.lines,
            (std::vector<std::string>{"Wrong CI-field - 7B, full frame below, at 09:07:05, 07.12.2026",
                                      HexText(wrong)}));
  EXPECT_EQ(f.table.Cell(kColMeterId, 1), "");

  // With the box off it is logged and stops at the repeated-bit test.
  f.log.lines.clear();
  f.options.discardWrongCI = false;
  f.Decode(wrong);
  EXPECT_EQ(f.log.lines, std::vector<std::string>{DecoderFixture::LogLine(wrong)});
  EXPECT_EQ(f.table.RowCount(), 2);
  EXPECT_EQ(f.table.Cell(kColMeterId, 1), "");

  for (int ci : {0x71, 0x72, 0x78, 0x7A, 0x8D, 0xA0, 0xA2}) EXPECT_TRUE(IsAcceptedCI(std::uint8_t(ci)));
  for (int ci : {0x00, 0x70, 0x73, 0x7B, 0x8C, 0xA1, 0xFF}) EXPECT_FALSE(IsAcceptedCI(std::uint8_t(ci)));
}

TEST(TelegramDecoder, RowsByRepeatedBitAndHeader) {
  struct Case {
    const char* name;
    Bytes telegram;
    bool row;
    const char* aux;
    const char* control;
    const char* notes;
  };
  const Case cases[] = {
      {"7A not repeated", MeterTelegram("00000001", 0x7A, 0x40), false, "", "", ""},
      {"7A repeated", MeterTelegram("00000001", 0x7A, 0x41, 0x05, 0x08), true, "",
       "C=0x44, Stat=0x08, SIG=0x41", "AES-128, Mode 5 (Dedicated IV). 4 blocks to decrypt. "},
      {"72 repeated", MeterTelegram("00000001", 0x72, 0x31, 0x25), true, "87654321",
       "C=0x44, Stat=0x00, SIG=0x31", "AES-128, Mode 5 (Dedicated IV). 3 blocks to decrypt. "},
      {"78 repeated", MeterTelegram("00000001", 0x78, 0x01), true, "", "C=0x44, Stat=0x00, SIG=0x01",
       "Not encrypted (no header)"},
      {"71 alarm", MeterTelegram("00000001", 0x71, 0x01), false, "", "", ""},
      {"8D", MeterTelegram("00000001", 0x8D, 0x01), false, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DecoderFixture f;
    const Bytes frame = WrapFrame(c.telegram, 0xB5);
    f.Decode(frame);
    EXPECT_EQ(f.log.lines, std::vector<std::string>{DecoderFixture::LogLine(frame)});
    if (!c.row) {
      EXPECT_EQ(f.table.Cell(kColMeterId, 1), "");
      EXPECT_TRUE(f.rowsWritten.empty());
      continue;
    }
    const std::vector<std::string> expected = {"1",          "00000001", "ELS",         c.aux,
                                               c.control,    "Water",    "90",          "09:07:05",
                                               "07.12.2026", c.notes,    HexText(frame)};
    EXPECT_EQ(f.table.Row(1), expected);
    EXPECT_EQ(f.status, "Last read device: 00000001");
    EXPECT_EQ(f.rowsWritten, std::vector<int>{1});
  }
}

TEST(TelegramDecoder, TableRowsAreKeyedByMeterId) {
  for (bool withIndex : {true, false}) {
    SCOPED_TRACE(withIndex ? "with index" : "scan");
    DecoderFixture f;
    auto decode = [&](const Bytes& frame) {
      TelegramContext ctx = f.Context(withIndex);
      DecodeTelegram(frame, f.options, ctx);
    };
    decode(WrapFrame(MeterTelegram("00000001", 0x72, 0x01), 0x01));
    decode(WrapFrame(MeterTelegram("00000002", 0x7A, 0x01), 0xFF));
    EXPECT_EQ(f.table.RowCount(), 3);
    EXPECT_EQ(f.table.Cell(kColNumber, 2), "2");
    EXPECT_EQ(f.table.Cell(kColRssi, 1), "0");
    EXPECT_EQ(f.table.Cell(kColRssi, 2), "127");
    EXPECT_EQ(f.table.Cell(kColAuxId, 1), "87654321");

    // Known meter: rewritten in place, the Aux ID of a 7A telegram is empty.
    decode(WrapFrame(MeterTelegram("00000001", 0x7A, 0x01), 0x40));
    EXPECT_EQ(f.table.RowCount(), 3);
    EXPECT_EQ(f.table.Cell(kColAuxId, 1), "");
    EXPECT_EQ(f.table.Cell(kColRssi, 1), "32");

    // "Do not add new": known meters are updated, new ones are not added.
    f.options.noNew = true;
    decode(WrapFrame(MeterTelegram("00000003", 0x7A, 0x01), 0x40));
    decode(WrapFrame(MeterTelegram("00000002", 0x7A, 0x01), 0x42));
    EXPECT_EQ(f.table.RowCount(), 3);
    EXPECT_EQ(f.table.Cell(kColRssi, 2), "33");
    EXPECT_EQ(f.status, "Last read device: 00000002");

    // Rows changed behind the decoder's back (deleted, cleared, duplicated
    // by an import) are found again; with duplicates the last row wins.
    f.options.noNew = false;
    f.table.SetRowCount(4);
    f.table.SetCell(kColNumber, 3, "3");
    f.table.SetCell(kColMeterId, 3, "00000001");
    decode(WrapFrame(MeterTelegram("00000001", 0x7A, 0x01), 0x50));
    EXPECT_EQ(f.table.RowCount(), 4);
    EXPECT_EQ(f.table.Cell(kColRssi, 3), "40");
    ClearGrid(f.table);
    decode(WrapFrame(MeterTelegram("00000002", 0x7A, 0x01), 0x50));
    EXPECT_EQ(f.table.RowCount(), 2);
    EXPECT_EQ(f.table.Cell(kColMeterId, 1), "00000002");
    EXPECT_EQ(f.table.Cell(kColNumber, 1), "1");
  }
}

TEST(TelegramDecoder, RepeaterRoutingAndServiceFilter) {
  DecoderFixture f;
  f.options.repeaterId = "12345678";
  f.options.newId = "87654321";
  f.options.onlyRepeater = true;
  const Bytes meter = WrapFrame(MeterTelegram("00000009", 0x7A, 0x01), 0x90);
  const Bytes repeater = WrapFrame(MeterTelegram("12345678", 0x7A, 0x01), 0x90);
  const Bytes renamed = WrapFrame(MeterTelegram("87654321", 0x7A, 0x01), 0x90);
  f.Decode(meter);
  f.Decode(repeater);
  f.Decode(renamed);
  // The unrelated meter adds no log line but still gets its row.
  EXPECT_EQ(f.log.lines,
            (std::vector<std::string>{DecoderFixture::LogLine(repeater), DecoderFixture::LogLine(renamed)}));
  EXPECT_EQ(f.repeaterFrames, (std::vector<Bytes>{repeater, renamed}));
  EXPECT_EQ(f.table.RowCount(), 2);
  EXPECT_EQ(f.table.Cell(kColMeterId, 1), "00000009");
  EXPECT_EQ(f.rowsWritten.size(), 1u);

  // An ID box must hold all eight digits; an empty one matches nothing.
  DecoderFixture g;
  g.options.repeaterId = "1234567";
  g.Decode(repeater);
  EXPECT_TRUE(g.repeaterFrames.empty());
  EXPECT_EQ(g.table.Cell(kColMeterId, 1), "12345678");
}

// Frames of every length from 3 to 60 bytes, cut from a long telegram: no
// read beyond the frame (checked under the sanitizers), always a log line,
// and a row only when every field a row needs is inside the telegram.
TEST(TelegramDecoder, EveryShortFrameLength) {
  const Bytes full72 = MeterTelegram("00000005", 0x72, 0x01, 0x05, 0x00, Bytes(50, '\x2F'));
  const Bytes full7A = MeterTelegram("00000005", 0x7A, 0x01, 0x05, 0x00, Bytes(50, '\x2F'));
  for (const Bytes* source : {&full72, &full7A}) {
    const size_t rowFrom = (*source)[9] == 0x72 ? 26 : 18;  // frame length holding the whole header
    for (size_t len = 3; len <= 60; ++len) {
      SCOPED_TRACE("CI " + HexByte(std::uint8_t((*source)[9])) + " length " + std::to_string(len));
      Bytes frame = len == 3 ? Bytes("\x68\x00\x16", 3) : WrapFrame(source->substr(0, len - 4), 0x80);
      ASSERT_EQ(frame.size(), len);
      // The heap copy makes any read past the end visible to AddressSanitizer.
      std::unique_ptr<char[]> exact(new char[len]);
      std::copy(frame.begin(), frame.end(), exact.get());
      DecoderFixture f;
      f.options.discardWrongCI = true;
      TelegramContext ctx = f.Context();
      DecodeTelegram(std::string_view(exact.get(), len), f.options, ctx);
      ASSERT_EQ(f.log.lines.size(), 1u);
      EXPECT_EQ(f.log.lines[0], DecoderFixture::LogLine(frame));
      EXPECT_EQ(f.table.Cell(kColMeterId, 1), len >= rowFrom ? "00000005" : "");
    }
  }
  DecoderFixture f;
  f.options.repeaterId = "00000005";
  for (size_t len = 3; len <= 14; ++len) {
    const Bytes frame = len == 3 ? Bytes("\x68\x00\x16", 3) : WrapFrame(full7A.substr(0, len - 4), 0x80);
    f.Decode(frame);
  }
  // Only frames that carry the whole ID are the repeater's.
  EXPECT_EQ(f.repeaterFrames.size(), 4u);  // lengths 11 to 14
}

TEST(TelegramDecoder, ChartBarsFromTheTable) {
  StringGrid t = MakeTelegramTable();
  t.SetRowCount(5);
  const char* ids[] = {"", "A", "B", "C", "D"};
  const char* rssi[] = {"", "90", "", "x", "12"};
  for (int r = 1; r < 5; ++r) {
    t.SetCell(kColMeterId, r, ids[r]);
    t.SetCell(kColRssi, r, rssi[r]);
  }
  EXPECT_EQ(SignalChartBars(t, kColRssi),
            (std::vector<ChartBar>{{0, 0, "0"}, {1, 90, "A"}, {3, 0, "C"}, {4, 12, "D"}}));
}

// Where the bars go across the plot: a tenth of the slot wide while they
// fit, and one pixel column each for the tallest of its bars once they
// outnumber the pixels.
TEST(TelegramDecoder, ChartColumnsAcrossThePlot) {
  const auto bars = [](std::vector<int> values) {
    std::vector<ChartBar> out;
    for (size_t i = 0; i < values.size(); ++i) out.push_back({int(i), values[i], ""});
    return out;
  };
  struct Case {
    const char* what;
    std::vector<int> values;
    int width;
    std::vector<ChartColumn> expected;
  } cases[] = {
      {"no bars", {}, 400, {}},
      {"no room", {50}, 0, {}},
      {"wide slots", {0, 90, 40, 151}, 400, {{45, 11, 0}, {145, 11, 90}, {245, 11, 40}, {345, 11, 151}}},
      {"narrow slots, a pixel each", {0, 60, 70}, 10, {{1, 1, 0}, {5, 1, 60}, {8, 1, 70}}},
      {"one bar per pixel", {1, 2, 3, 4, 5}, 5, {{0, 1, 1}, {1, 1, 2}, {2, 1, 3}, {3, 1, 4}, {4, 1, 5}}},
      {"one bar more than pixels",
       {1, 2, 9, 3, 4, 5},
       5,
       {{0, 1, 1}, {1, 1, 2}, {2, 1, 9}, {3, 1, 4}, {4, 1, 5}}},
      {"five bars per pixel", {30, 90, 40, 0, 20, 60, 61, 62, 63, 25}, 2, {{0, 1, 90}, {1, 1, 63}}},
  };
  for (const Case& c : cases) EXPECT_EQ(ChartColumns(bars(c.values), c.width), c.expected) << c.what;

  // A hundred thousand meters in 400 pixels: one strong value among them
  // still shows, in the column where its bar would stand.
  std::vector<int> many(100000, 40);
  many[54321] = 150;
  const std::vector<ChartColumn> columns = ChartColumns(bars(many), 400);
  ASSERT_EQ(columns.size(), 400u);
  for (int x = 0; x < 400; ++x) {
    EXPECT_EQ(columns[size_t(x)].left, x);
    EXPECT_EQ(columns[size_t(x)].value, x == 217 ? 150 : 40) << x;
  }
}

// The public reference telegrams decode to the facts recorded with them.
TEST(TelegramDecoder, ReferenceTelegrams) {
  std::ifstream in(VELRPT_SOURCE_DIR "/tests/data/reference_telegrams.tsv");
  ASSERT_TRUE(in) << "reference telegrams not found";
  std::string line;
  int checked = 0, rows = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("telegram\t", 0) == 0) continue;
    std::vector<std::string> col;
    std::stringstream ss(line);
    for (std::string c; std::getline(ss, c, '\t');) col.push_back(c);
    col.resize(12);
    const Bytes telegram = HexTextToBytes([&] {
      std::string spaced;
      for (size_t i = 0; i < col[0].size(); i += 2) spaced += col[0].substr(i, 2) + " ";
      return spaced;
    }());
    if (telegram.size() + 1 > 255) continue;
    SCOPED_TRACE(col[0].substr(0, 40));
    auto unquote = [](std::string s) {
      return s.size() >= 2 && s.front() == '"' ? s.substr(1, s.size() - 2) : s;
    };

    // Mark it repeated so that it enters the table, as the repeater would.
    Bytes repeated = telegram;
    const std::uint8_t ci = std::uint8_t(telegram[9]);
    const size_t configAt = ci == 0x7A ? 12 : 20;
    const bool hasRow = (ci == 0x7A || ci == 0x72 || ci == 0x78) && repeated.size() > configAt;
    if (hasRow) repeated[configAt] = char(repeated[configAt] | 1);
    DecoderFixture f;
    f.options.discardWrongCI = false;  // one reference telegram has CI A3
    f.Decode(WrapFrame(repeated, 0x9A));
    ASSERT_EQ(f.log.lines.size(), 1u);
    EXPECT_EQ(MeterIdText(WrapFrame(telegram, 0)), col[2]);
    EXPECT_EQ(ManufacturerText(std::uint8_t(telegram[1]), std::uint8_t(telegram[2])), col[1]);
    EXPECT_EQ(MediumText(std::uint8_t(telegram[8])), col[6]);
    ++checked;
    if (!hasRow) continue;
    ++rows;
    EXPECT_EQ(f.table.Cell(kColMeterId, 1), col[2]);
    EXPECT_EQ(f.table.Cell(kColManufacturer, 1), col[1]);
    EXPECT_EQ(f.table.Cell(kColMedium, 1), col[6]);
    const std::string sig = HexByte(std::uint8_t(std::stoi(col[8], nullptr, 16) | 1));
    EXPECT_EQ(f.table.Cell(kColControl, 1),
              "C=0x" + HexByte(std::uint8_t(telegram[0])) + ", Stat=0x" + col[7] + ", SIG=0x" + sig);
    EXPECT_EQ(f.table.Cell(kColNotes, 1), unquote(col[10]));  // bit 0 is not part of the notes
  }
  EXPECT_GE(checked, 35);
  EXPECT_GE(rows, 25);
}

// The meter index gives the table the decoder would get by scanning every
// row, through hundreds of meters (the index grows several times), rows
// deleted and cleared behind its back, and imported duplicates.
TEST(TelegramDecoder, IndexedTableEqualsTheScannedOne) {
  DecoderFixture indexed, scanned;
  std::mt19937 rng(7);
  const auto id = [](unsigned meter) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", 0x10000000u + meter * 2654435761u % 0x0FFFFFFFu);
    return std::string(text);
  };
  for (int i = 0; i < 6000; ++i) {
    const unsigned meter = rng() % 900;
    const Bytes frame = WrapFrame(
        MeterTelegram(id(meter), meter % 3 ? 0x7A : 0x72, 0x01, 0x05, static_cast<std::uint8_t>(rng())),
        static_cast<std::uint8_t>(rng()));
    for (auto* f : {&indexed, &scanned}) {
      TelegramContext ctx = f->Context(f == &indexed);
      DecodeTelegram(frame, f->options, ctx);
    }
    const unsigned change = rng() % 2000;
    const unsigned pick = rng();
    for (auto* f : {&indexed, &scanned}) {
      if (change == 0) {
        DeleteGridRow(1 + static_cast<int>(pick % static_cast<unsigned>(f->table.RowCount() - 1)), f->table);
      } else if (change == 1) {
        ClearGrid(f->table);
      } else if (change == 2) {  // an import repeating a meter further down
        f->table.SetRowCount(f->table.RowCount() + 1);
        f->table.SetCell(kColMeterId, f->table.RowCount() - 1, id(meter));
      }
    }
  }
  ASSERT_EQ(indexed.table.RowCount(), scanned.table.RowCount());
  EXPECT_GT(indexed.table.RowCount(), 500);
  for (int r = 0; r < indexed.table.RowCount(); ++r)
    ASSERT_EQ(indexed.table.Row(r), scanned.table.Row(r)) << r;
  EXPECT_EQ(indexed.log.lines, scanned.log.lines);
}

// Equal texts and texts differing in any one place, at every length the
// short-text paths and the long one handle.
TEST(TelegramDecoder, TextsEqualAtEveryLengthAndPlace) {
  for (size_t n = 0; n <= 40; ++n) {
    const std::string a = HexText(Bytes(n, '\x5A')).substr(0, n);
    EXPECT_TRUE(TextsEqual(a, std::string(a))) << n;
    EXPECT_FALSE(TextsEqual(a, a + "x")) << n;
    for (size_t i = 0; i < n; ++i) {
      std::string b = a;
      b[i] ^= 0x01;
      EXPECT_FALSE(TextsEqual(a, b)) << n << " at " << i;
    }
  }
}
