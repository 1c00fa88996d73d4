#include "receive_handler.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <chrono>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <thread>

#include "counting_new.h"
#include "decoder_fixture.h"

TEST(ReceiveHandler, ReadsEveryWaitingByteInStagingSizedPieces) {
  DecoderFixture f;
  ReceiveHandler handler(f.Context(false));
  Bytes stream;
  std::vector<Bytes> frames;
  for (int i = 0; i < 200; ++i) {
    char id[9];
    std::snprintf(id, sizeof id, "%08d", i);
    frames.push_back(WrapFrame(MeterTelegram(id, 0x7A, 0x01), 0x80));
    stream += frames.back();
  }
  size_t pos = 0;
  std::vector<int> reads;
  handler.ReceiveEvent(
      static_cast<int>(stream.size()),
      [&](char* dest, int max) {
        reads.push_back(max);
        const int n = std::min<int>(max, static_cast<int>(stream.size() - pos));
        std::copy_n(stream.data() + pos, n, dest);
        pos += static_cast<size_t>(n);
        return n;
      },
      f.options);
  EXPECT_EQ(pos, stream.size());
  for (int max : reads) EXPECT_LE(max, 4096);
  EXPECT_EQ(f.log.lines.size(), frames.size());
  EXPECT_EQ(f.table.RowCount(), 201);
  EXPECT_EQ(handler.Stats().framesCut, 200u);
}

TEST(ReceiveHandler, AnErrorIsLoggedAndTheBufferEmptied) {
  DecoderFixture f;
  TelegramContext ctx = f.Context();
  ctx.repeaterAnswer = [](std::string_view) { throw std::runtime_error("Range check error"); };
  ReceiveHandler handler(std::move(ctx));
  f.options.repeaterId = "12345678";
  const Bytes answer = WrapFrame(MeterTelegram("12345678", 0x7A, 0x00), 0x80);
  const Bytes meter = WrapFrame(MeterTelegram("00000001", 0x7A, 0x01), 0x80);
  handler.ReceiveBytes(answer + meter.substr(0, 5), f.options);
  EXPECT_EQ(f.log.lines.back(), "Exception receiving - Range check error");
  EXPECT_EQ(handler.Assembler().Buffered(), 0u);
  EXPECT_EQ(handler.Stats().decodeErrors, 1u);
  // The read failing is caught the same way.
  handler.ReceiveEvent(
      10, [](char*, int) -> int { throw std::runtime_error("Read error (5), I/O error"); }, f.options);
  EXPECT_EQ(f.log.lines.back(), "Exception receiving - Read error (5), I/O error");
  // Reception carries on with the next event.
  handler.ReceiveBytes(meter, f.options);
  EXPECT_EQ(f.table.Cell(kColMeterId, 1), "00000001");
}

TEST(LocalFormats, FixedPatternsLocalesAndParsing) {
  const LocalTime t{2026, 12, 7, 9, 7, 5};
  const LocalFormats fixed("dd.MM.yyyy", "HH:mm:ss", ',');
  EXPECT_EQ(fixed.ShortDate(t), "07.12.2026");
  EXPECT_EQ(fixed.LongTime(t), "09:07:05");
  EXPECT_EQ(fixed.DecimalSeparator(), ',');
  // The cache must not return a stale text for another second or day.
  EXPECT_EQ(fixed.LongTime(LocalTime{2026, 12, 7, 9, 7, 6}), "09:07:06");
  EXPECT_EQ(fixed.ShortDate(LocalTime{2026, 12, 8, 9, 7, 6}), "08.12.2026");

  const LocalFormats german{QLocale(QLocale::German, QLocale::Germany)};
  EXPECT_EQ(german.ShortDate(t), "07.12.26");
  EXPECT_EQ(german.LongTime(t), "09:07:05");  // no time zone
  EXPECT_EQ(german.DecimalSeparator(), ',');
  const LocalFormats us{QLocale(QLocale::English, QLocale::UnitedStates)};
  EXPECT_EQ(us.ShortDate(t), "12/7/26");
  // Newer locale data puts a narrow no-break space (U+202F) before AM/PM.
  EXPECT_EQ(QString::fromStdString(us.LongTime(t)).replace(QChar(0x202F), ' '), "9:07:05 AM")
      << us.LongTimePattern().toStdString();
  EXPECT_EQ(us.DecimalSeparator(), '.');

  LocalTime parsed;
  EXPECT_TRUE(ParseLocalTime("2026-12-07 09:07:05", parsed));
  EXPECT_EQ(parsed, t);
  EXPECT_TRUE(ParseLocalTime("2026-12-07 09:07", parsed));
  EXPECT_EQ(parsed.second, 0);
  for (const char* bad :
       {"2026-13-07 09:07:05", "2026-12-07", "2026-12-07 09:07:05x", "yesterday", "2026-02-30 00:00"})
    EXPECT_FALSE(ParseLocalTime(bad, parsed)) << bad;
}

namespace {
// Each reading is one second later than the last.
class CountingClock : public Clock {
 public:
  LocalTime Now() const override {
    LocalTime t{2026, 12, 8, 9, 0, 0};
    t.second = reads++ % 60;
    return t;
  }
  mutable int reads = 0;
};
}  // namespace

TEST(ReceiveHandler, ReadsTheClockOncePerReceiveEvent) {
  DecoderFixture f;
  CountingClock clock;
  TimeTexts time(clock, f.formats);
  TelegramContext ctx{f.log, f.table, time, {}, {}, {}};
  ReceiveHandler handler(std::move(ctx));
  Bytes event;
  for (const char* id : {"00000001", "00000002", "00000003"})
    event += WrapFrame(MeterTelegram(id, 0x7A, 0x01), 0x80);
  handler.ReceiveBytes(event, f.options);
  size_t pos = 0;
  handler.ReceiveEvent(
      static_cast<int>(event.size()),
      [&](char* dest, int max) {
        const int n = std::min<int>({max, 40, static_cast<int>(event.size() - pos)});  // several reads
        std::copy_n(event.data() + pos, n, dest);
        pos += static_cast<size_t>(n);
        return n;
      },
      f.options);
  EXPECT_EQ(clock.reads, 2);
  ASSERT_EQ(f.log.lines.size(), 6u);
  for (size_t i = 0; i < 6; ++i)
    EXPECT_EQ(f.log.lines[i].substr(0, 22), i < 3 ? "08.12.2026, 09:00:00: " : "08.12.2026, 09:00:01: ") << i;
  EXPECT_EQ(f.table.Cell(kColTime, 3), "09:00:01");
  // Outside a receive event each decoded frame reads the clock itself.
  TelegramContext direct{f.log, f.table, time, {}, {}, {}};
  DecodeTelegram(WrapFrame(MeterTelegram("00000004", 0x7A, 0x01), 0x80), f.options, direct);
  EXPECT_EQ(clock.reads, 3);
}

// The zone is looked at once a second, yet a change of it shows within a
// second or two, and the time agrees with Qt's.
TEST(SystemClock, AgreesWithQtAndFollowsAChangeOfTimeZone) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  auto minutesOfDay = [](const LocalTime& t) { return t.hour * 60 + t.minute; };
  auto utcMinutes = [] {
    const QTime u = QDateTime::currentDateTimeUtc().time();
    return u.hour() * 60 + u.minute();
  };
  auto waitForOffset = [&](int offset) {
    SystemClock clock;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
      const int diff = ((minutesOfDay(clock.Now()) - utcMinutes()) % 1440 + 1440) % 1440;
      if (diff == offset) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  setenv("TZ", "UTC0", 1);
  EXPECT_TRUE(waitForOffset(0));
  setenv("TZ", "<+0530>-5:30", 1);
  EXPECT_TRUE(waitForOffset(330));
  const LocalTime mine = SystemClock().Now();
  const QDateTime qt = QDateTime::currentDateTime();
  EXPECT_LE(
      std::abs(QDateTime(QDate(mine.year, mine.month, mine.day), QTime(mine.hour, mine.minute, mine.second))
                   .secsTo(qt)),
      2);
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

namespace {
// Keeps nothing, as a sink that stores elsewhere would.
class CountingSink : public LogSink {
 public:
  void AppendLine(std::string_view line) override { chars += line.size(); }
  size_t chars = 0;
};
}  // namespace

// Once the table holds every meter, a telegram costs no allocation: not on
// the log line, the table cells, the status text nor the frame assembly.
TEST(ReceiveHandler, AWarmReceivePathAllocatesNothingPerTelegram) {
  for (const bool onlyRepeater : {false, true}) {
    SCOPED_TRACE(onlyRepeater ? "only service data" : "every telegram logged");
    DecoderFixture f;
    f.options.onlyRepeater = onlyRepeater;
    CountingSink sink;
    size_t statusChars = 0;
    int rows = 0;
    TelegramContext ctx{sink, f.table, f.time, {}, {}, {}};
    ctx.setStatus = [&statusChars](const std::string& s) { statusChars += s.size(); };
    ctx.rowWritten = [&rows](int) { ++rows; };
    ReceiveHandler handler(std::move(ctx));
    auto stream = [](int pass) {
      Bytes s;
      for (int m = 0; m < 300; ++m) {
        char id[9];
        std::snprintf(id, sizeof id, "%08d", 10000000 + m);
        const std::uint8_t ci = m % 3 == 0 ? 0x72 : m % 3 == 1 ? 0x7A : 0x78;
        s += WrapFrame(MeterTelegram(id, ci, 0x41), static_cast<std::uint8_t>(0x80 + 2 * pass));
      }
      s += WrapFrame(MeterTelegram("11223344", 0x7B, 0x01), 0x80);  // wrong CI: two log lines
      return s;
    };
    const Bytes warm = stream(0), again = stream(1);
    size_t pos = 0;
    const ReceiveHandler::ReadFn read = [&](char* dest, int max) {
      const int n = std::min<int>(max, static_cast<int>(again.size() - pos));
      std::copy_n(again.data() + pos, n, dest);
      pos += static_cast<size_t>(n);
      return n;
    };
    // Warm: every meter in the table, the buffers grown to a whole staging area.
    for (size_t at = 0; at < warm.size(); at += 333) handler.ReceiveBytes(warm.substr(at, 333), f.options);
    size_t warmPos = 0;
    handler.ReceiveEvent(
        static_cast<int>(warm.size()),
        [&](char* dest, int max) {
          const int n = std::min<int>(max, static_cast<int>(warm.size() - warmPos));
          std::copy_n(warm.data() + warmPos, n, dest);
          warmPos += static_cast<size_t>(n);
          return n;
        },
        f.options);
    ASSERT_EQ(f.table.RowCount(), 301);
    const size_t charsBefore = sink.chars;
    const int rowsBefore = rows;

    g_allocations = 0;
    g_counting = true;
    for (size_t at = 0; at < again.size(); at += 333)
      handler.ReceiveBytes(std::string_view(again).substr(at, 333), f.options);
    handler.ReceiveEvent(static_cast<int>(again.size()), read, f.options);
    g_counting = false;

    EXPECT_EQ(g_allocations, 0);
    EXPECT_EQ(rows - rowsBefore, 600);  // every frame did write its row
    EXPECT_GT(sink.chars, charsBefore);
    EXPECT_EQ(f.table.Cell(kColRssi, 300), std::to_string((0x80 + 2) >> 1));
    EXPECT_EQ(handler.Stats().decodeErrors, 0u);
  }
}

// A watcher that only counts (the survey): every kind of frame reaches it,
// nothing of the frames is logged or put in the table, and a failed read is
// still told.
TEST(ReceiveHandler, WithoutFrameLinesTheObserverStillSeesEveryFrame) {
  struct Kinds : FrameObserver {
    std::vector<FrameFacts::Kind> seen;
    void OnFrameFacts(std::string_view, const FrameFacts& facts, const LocalTime&) override {
      seen.push_back(facts.kind);
    }
  } kinds;
  DecoderFixture f;
  TelegramContext ctx = f.Context(false);
  ctx.observer = &kinds;
  ctx.onlyObserver = true;
  int answers = 0;
  ctx.repeaterAnswer = [&](std::string_view) { ++answers; };
  ReceiveHandler handler(std::move(ctx));
  f.options.repeaterId = "12345678";
  const Bytes stream = WrapFrame(MeterTelegram("00000001", 0x7A, 0x01), 0x80) +
                       WrapFrame(MeterTelegram("00000002", 0xA3, 0x01), 0x80) +
                       WrapFrame(MeterTelegram("12345678", 0x7A, 0x00), 0x80);
  handler.ReceiveBytes(stream, f.options);
  using K = FrameFacts::Kind;
  EXPECT_EQ(kinds.seen, (std::vector<K>{K::kTelegram, K::kWrongCI, K::kAnswer}));
  EXPECT_TRUE(f.log.lines.empty());
  EXPECT_EQ(answers, 0);
  EXPECT_EQ(f.table.RowCount(), 2);  // the title row and the empty one
  handler.ReceiveEvent(
      1, [](char*, int) -> int { throw std::runtime_error("Read error (5), I/O error"); }, f.options);
  EXPECT_EQ(f.log.lines, (std::vector<std::string>{"Exception receiving - Read error (5), I/O error"}));
}
