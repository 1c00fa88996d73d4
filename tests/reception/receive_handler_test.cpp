#include "receive_handler.h"

#include <gtest/gtest.h>

#include <stdexcept>

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
  handler.ReceiveEvent(10, [](char*, int) -> int { throw std::runtime_error("Read error (5), I/O error"); },
                       f.options);
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
  EXPECT_EQ(us.LongTime(t), "9:07:05 AM") << us.LongTimePattern().toStdString();
  EXPECT_EQ(us.DecimalSeparator(), '.');

  LocalTime parsed;
  EXPECT_TRUE(ParseLocalTime("2026-12-07 09:07:05", parsed));
  EXPECT_EQ(parsed, t);
  EXPECT_TRUE(ParseLocalTime("2026-12-07 09:07", parsed));
  EXPECT_EQ(parsed.second, 0);
  for (const char* bad : {"2026-13-07 09:07:05", "2026-12-07", "2026-12-07 09:07:05x", "yesterday", "2026-02-30 00:00"})
    EXPECT_FALSE(ParseLocalTime(bad, parsed)) << bad;
}
