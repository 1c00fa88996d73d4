#include "survey.h"

#include <gtest/gtest.h>

#include <regex>

#include "decoder_fixture.h"
#include "frame_json.h"
#include "receive_handler.h"

using survey::Column;
using survey::Role;

namespace {

const survey::MeterRecord* FindRecord(const survey::Survey& s, const std::string& id, Role role) {
  for (const auto& r : s.Records())
    if (survey::CellText(r, Column::kId) == id && r.role == role) return &r;
  return nullptr;
}

// A frame cut short: start, L, the first `keep` telegram bytes, signal, end.
Bytes Truncated(const Bytes& telegram, size_t keep) { return WrapFrame(telegram.substr(0, keep), 0x90); }

}  // namespace

// Every frame with an ID counts under its path, whatever the log and table
// options say; refused wrong-CI frames only while "Discard if wrong CI" is on.
TEST(Survey, EachFrameCountsOnItsPathWhateverTheTableShows) {
  struct Case {
    const char* what;
    Bytes frame;
    bool discardWrongCI;
    const char* id;  // nullptr: not counted
    Role role;
    bool repeated;
  };
  const Case cases[] = {
      {"7A, bit 0 set", WrapFrame(MeterTelegram("00000001", 0x7A, 0x41), 0x80), true, "00000001",
       Role::kMeter, true},
      {"7A, bit 0 clear", WrapFrame(MeterTelegram("00000002", 0x7A, 0x40), 0x80), true, "00000002",
       Role::kMeter, false},
      {"72, bit 0 set", WrapFrame(MeterTelegram("00000003", 0x72, 0x01), 0x80), true, "00000003",
       Role::kMeter, true},
      {"78, bit 0 set", WrapFrame(MeterTelegram("00000004", 0x78, 0x01), 0x80), true, "00000004",
       Role::kMeter, true},
      {"71 has no configuration byte", WrapFrame(MeterTelegram("00000005", 0x71, 0x01), 0x80), true,
       "00000005", Role::kMeter, false},
      {"wrong CI refused", WrapFrame(MeterTelegram("00000006", 0x7B, 0x01), 0x80), true, nullptr,
       Role::kMeter, false},
      {"wrong CI accepted", WrapFrame(MeterTelegram("00000007", 0x7B, 0x01), 0x80), false, "00000007",
       Role::kMeter, false},
      {"the selected repeater", WrapFrame(MeterTelegram("12345678", 0x7A, 0x01), 0x80), true, "12345678",
       Role::kRepeater, true},
      {"the new ID", WrapFrame(MeterTelegram("87654321", 0x7A, 0x00), 0x80), true, "87654321",
       Role::kRepeater, false},
      {"a repeater being provisioned", WrapFrame(MeterTelegram("11223344", 0x7A, 0x01), 0x80), true,
       "11223344", Role::kRepeater, true},
      {"72 cut before its configuration byte", Truncated(MeterTelegram("00000008", 0x72, 0x01), 20), true,
       "00000008", Role::kMeter, false},
      {"ID but no CI", Truncated(MeterTelegram("00000009", 0x7A, 0x01), 8), true, "00000009", Role::kMeter,
       false},
      {"no whole ID", Truncated(MeterTelegram("00000010", 0x7A, 0x01), 6), true, nullptr, Role::kMeter,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DecoderFixture f;
    f.options.discardWrongCI = c.discardWrongCI;
    f.options.onlyRepeater = true;  // the log shows none of the meters
    f.options.noNew = true;         // and the table takes none
    f.options.repeaterId = "12345678";
    f.options.newId = "87654321";
    f.options.answerIds = {"11223344"};
    survey::Survey s;
    TelegramContext ctx = f.Context();
    ctx.observer = &s;
    ReceiveHandler handler(std::move(ctx));
    handler.ReceiveBytes(Bytes("\x01\x02", 2) + c.frame + c.frame, f.options);
    EXPECT_EQ(f.table.Cell(kColMeterId, 1), "");
    if (!c.id) {
      EXPECT_TRUE(s.Records().empty());
      continue;
    }
    ASSERT_EQ(s.Records().size(), 1u);
    const survey::MeterRecord* r = FindRecord(s, c.id, c.role);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->repeated.count, c.repeated ? 2u : 0u);
    EXPECT_EQ(r->direct.count, c.repeated ? 0u : 2u);
    EXPECT_EQ(r->FirstSeen(), survey::LocalMs(f.clock.Now()));
  }
}

// Signal figures are the table's halved values, dBm without the minus sign;
// the derived column says how much stronger the repeated copy is: the
// smaller number is the stronger signal.
TEST(Survey, SignalFiguresAndDerivedPath) {
  DecoderFixture f;
  survey::Survey s;
  auto hear = [&](const char* id, std::uint8_t config, std::uint8_t rssiByte) {
    s.OnFrame(WrapFrame(MeterTelegram(id, 0x7A, config), rssiByte), f.options, f.clock.Now());
  };
  for (std::uint8_t b : {0xB5, 0x01, 0xFF}) hear("00000001", 0x00, b);  // 90, 0, 127
  hear("00000002", 0x01, 0x80);
  hear("00000003", 0x00, 0x80), hear("00000003", 0x01, 0x86), hear("00000003", 0x01, 0x89);  // 64 / 67, 68
  hear("00000004", 0x00, 0x90), hear("00000004", 0x01, 0x8C);                                // 72 / 70

  const auto* a = FindRecord(s, "00000001", Role::kMeter);
  ASSERT_NE(a, nullptr);
  const std::vector<std::pair<Column, std::string>> cellsA = {
      {Column::kDirectCount, "3"},   {Column::kDirectLast, "127"}, {Column::kDirectMin, "0"},
      {Column::kDirectMean, "72.3"}, {Column::kDirectMax, "127"},  {Column::kRepeatedCount, "0"},
      {Column::kRepeatedLast, ""},   {Column::kRepeatedMean, ""},  {Column::kManufacturer, "ELS"},
      {Column::kMedium, "Water"},    {Column::kRole, "meter"},     {Column::kPath, "direct only"}};
  for (const auto& [col, text] : cellsA)
    EXPECT_EQ(survey::CellText(*a, col), text) << survey::kColumnNames[int(col)];
  EXPECT_TRUE(survey::CellIsEmpty(*a, Column::kRepeatedMax));
  EXPECT_FALSE(survey::CellIsEmpty(*a, Column::kRepeatedCount));

  const struct {
    const char* id;
    const char* path;
    const char* shown;
  } derived[] = {{"00000001", "direct only", "direct only"},
                 {"00000002", "repeater only", "repeater only"},
                 {"00000003", "both", "both (-3.5)"},   // -64 dBm direct, -67.5 through the repeater
                 {"00000004", "both", "both (+2.0)"}};  // -72 direct, -70 through it
  for (const auto& d : derived) {
    const auto* r = FindRecord(s, d.id, Role::kMeter);
    ASSERT_NE(r, nullptr) << d.id;
    EXPECT_EQ(survey::CellText(*r, Column::kPath), d.path) << d.id;
    EXPECT_EQ(survey::PathText(*r), d.shown) << d.id;
  }
  // Sorted by path, the meter the repeater helps most comes first.
  std::string byGain;
  for (int i : survey::SortedRows(s.Records(), Column::kPath, true, 0))
    byGain += survey::CellText(s.Records()[i], Column::kId).substr(7);
  EXPECT_EQ(byGain, "4321");
}

TEST(Survey, SortsByAnyColumnAndFiltersByCount) {
  DecoderFixture f;
  survey::Survey s;
  auto hear = [&](const char* id, std::uint8_t config, std::uint8_t rssiByte, int times) {
    for (int i = 0; i < times; ++i)
      s.OnFrame(WrapFrame(MeterTelegram(id, 0x7A, config), rssiByte), f.options, f.clock.Now());
  };
  hear("00000030", 0x00, 0xA0, 1);  // direct only, 80
  hear("00000010", 0x01, 0x90, 3);  // repeater only
  hear("00000020", 0x00, 0xB0, 2);  // direct only, 88
  hear("00000040", 0x00, 0xA0, 2);  // direct only, 80: ties with ...30, then by ID
  auto ids = [&](const std::vector<int>& rows) {
    std::string out;
    for (int i : rows) out += survey::CellText(s.Records()[i], Column::kId).substr(6) + " ";
    return out;
  };
  EXPECT_EQ(ids(survey::SortedRows(s.Records(), Column::kId, false, 0)), "10 20 30 40 ");
  EXPECT_EQ(ids(survey::SortedRows(s.Records(), Column::kId, true, 0)), "40 30 20 10 ");
  // A path never heard sorts first.
  EXPECT_EQ(ids(survey::SortedRows(s.Records(), Column::kDirectMean, false, 0)), "10 30 40 20 ");
  EXPECT_EQ(ids(survey::SortedRows(s.Records(), Column::kDirectMean, true, 0)),
            "20 30 40 10 ");  // ties stay by ID
  EXPECT_EQ(ids(survey::SortedRows(s.Records(), Column::kPath, false, 0)), "20 30 40 10 ");
  EXPECT_EQ(ids(survey::SortedRows(s.Records(), Column::kRepeatedCount, true, 2)), "10 20 40 ");
  EXPECT_EQ(ids(survey::SortedRows(s.Records(), Column::kId, false, 4)), "");
}

// One record per meter up to the bound; telegrams of meters beyond it are
// counted as not tracked, and the tracked ones go on counting.
TEST(Survey, BoundedNumberOfMeters) {
  survey::Survey s;
  ASSERT_EQ(s.MaxMeters(), 100000u);
  FrameFacts facts;
  facts.hasId = facts.hasType = facts.hasCI = true;
  facts.kind = FrameFacts::Kind::kTelegram;
  for (std::uint32_t i = 0; i < 100000 + 5; ++i) {
    facts.id = i * 2654435761u;  // spread over the whole ID range
    s.Add(facts, i);
  }
  facts.id = 100003u * 2654435761u;  // untracked, heard again
  s.Add(facts, 0);
  facts.id = 7u * 2654435761u;  // tracked, heard again
  s.Add(facts, 0);
  EXPECT_EQ(s.Records().size(), 100000u);
  EXPECT_EQ(s.NotTracked(), 6u);
  std::uint64_t total = 0;
  for (const auto& r : s.Records()) total += r.Count();
  EXPECT_EQ(total, 100001u);
  EXPECT_EQ(s.Records()[7].direct.count, 2u);
  EXPECT_LE(sizeof(survey::MeterRecord), 80u);
  s.Clear();
  EXPECT_TRUE(s.Records().empty());
  EXPECT_EQ(s.NotTracked(), 0u);
}

TEST(Survey, LocalTimesRoundTripAndPrintAsIso) {
  const LocalTime times[] = {{1970, 1, 1, 0, 0, 0, 0},
                             {2024, 2, 29, 23, 59, 59, 999},
                             {2026, 12, 8, 21, 5, 7, 1},
                             {2100, 3, 1, 0, 0, 0, 0},
                             {1969, 12, 31, 23, 0, 0, 5}};
  for (const LocalTime& t : times) EXPECT_EQ(survey::FromLocalMs(survey::LocalMs(t)), t);
  EXPECT_LT(survey::LocalMs(times[1]), survey::LocalMs(times[2]));
  EXPECT_TRUE(
      std::regex_match(survey::IsoTime(times[2], false), std::regex(R"(2026-12-08T21:05:07[+-]\d\d:\d\d)")));
  EXPECT_TRUE(std::regex_match(survey::IsoTime(times[2], true),
                               std::regex(R"(2026-12-08T21:05:07\.001[+-]\d\d:\d\d)")));
}

// Export cells that hold the separator or a quote are quoted.
TEST(Survey, DelimitedTextQuotesWhatNeedsIt) {
  survey::Survey s;
  FrameFacts facts;
  facts.hasId = facts.hasType = facts.hasCI = true;
  facts.kind = FrameFacts::Kind::kTelegram;
  facts.id = 0x12345678;
  facts.medium = 0x0A;  // "Cool (out)"
  s.Add(facts, 0);
  const std::string text = survey::DelimitedText(s.Records(), {0}, " ", "\r\n");
  EXPECT_EQ(text.substr(0, 18), "id manufacturer me");
  EXPECT_NE(text.find("\r\n12345678 @@@ \"Cool (out)\" meter 1 0 0 0.0 0 0     "), std::string::npos) << text;
}

// The frame object carries the table's unsigned value and, beside it, the
// received power with its sign.
TEST(FrameJson, SignalWithAndWithoutItsSign) {
  DecoderFixture f;
  const struct {
    std::uint8_t byte;
    int rssi, dbm;
  } cases[] = {{0xD6, 107, -107}, {0x01, 0, 0}, {0xFF, 127, -127}};
  for (const auto& c : cases) {
    const Bytes frame = WrapFrame(MeterTelegram("00000001", 0x7A, 0x01), c.byte);
    const QJsonObject o = survey::FrameObject(frame, ReadFrameFacts(frame, f.options), f.clock.Now());
    EXPECT_EQ(o["rssi"].toInt(), c.rssi);
    EXPECT_EQ(o["rssi_dbm"].toInt(), c.dbm);
  }
}
