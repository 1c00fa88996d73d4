// Frame assembly plus decoding into a telegram table of 1,000 meters with a
// log sink, as the receive path runs it for every byte from the transceiver.

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "hex.h"
#include "local_formats.h"
#include "receive_handler.h"

namespace {

// Keeps what a log window would keep: every line's text.
class CountingSink : public LogSink {
 public:
  void AppendLine(std::string_view line) override {
    m_last.assign(line);
    m_bytes += line.size();
    ++m_lines;
  }
  size_t Lines() const { return m_lines; }

 private:
  std::string m_last;
  size_t m_bytes = 0;
  size_t m_lines = 0;
};

Bytes MeterFrame(int meter, std::mt19937& rng) {
  Bytes t;
  t += Bytes("\x44\x93\x15", 3);
  const int id = 10000000 + meter;
  for (int k = 0; k < 4; ++k) {
    const int two = (id / (k == 0 ? 1 : k == 1 ? 100 : k == 2 ? 10000 : 1000000)) % 100;
    t.push_back(static_cast<char>((two / 10) << 4 | (two % 10)));
  }
  t += Bytes("\x33\x07\x7A", 3);
  t.push_back(static_cast<char>(rng()));
  t.push_back(0x00);
  t.push_back(0x41);  // repeated, 4 blocks
  t.push_back(0x05);
  for (int i = 0; i < 40; ++i) t.push_back(static_cast<char>(rng()));
  Bytes f;
  f.push_back(0x68);
  f.push_back(static_cast<char>(t.size() + 1));
  f += t;
  f.push_back(static_cast<char>(0x80 + rng() % 0x60));
  f.push_back(0x16);
  return f;
}

void BM_ReceivePath(benchmark::State& state) {
  std::mt19937 rng(7);
  const int meters = 1000;
  // A stream of 4,000 frames from 1,000 meters, in receive events of the
  // size a busy line brings (a few frames each, cut anywhere).
  Bytes stream;
  for (int i = 0; i < 4000; ++i) stream += MeterFrame(static_cast<int>(rng() % meters), rng);
  std::vector<std::string_view> events;
  for (size_t pos = 0; pos < stream.size();) {
    const size_t n = std::min<size_t>(stream.size() - pos, 64 + rng() % 400);
    events.emplace_back(stream.data() + pos, n);
    pos += n;
  }

  CountingSink log;
  StringGrid table = MakeTelegramTable();
  SystemClock clock;
  const LocalFormats formats = LocalFormats::System();
  TimeTexts time(clock, formats);
  int charts = 0;
  TelegramContext ctx{log, table, time, {}, {}, [&](int) { ++charts; }};
  ctx.setStatus = [](const std::string&) {};
  ReceiveHandler handler(std::move(ctx));
  DecodeOptions options;
  // Warm the table up to its thousand meters.
  for (int m = 0; m < meters; ++m) handler.ReceiveBytes(MeterFrame(m, rng), options);

  for (auto _ : state) {
    for (std::string_view e : events) handler.ReceiveBytes(e, options);
  }
  state.SetItemsProcessed(state.iterations() * 4000);
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()) * 4000, benchmark::Counter::kIsRate);
  state.counters["meters"] = table.RowCount() - 1;
  if (log.Lines() == 0 || handler.Stats().decodeErrors != 0) state.SkipWithError("nothing decoded");
}
BENCHMARK(BM_ReceivePath)->Unit(benchmark::kMillisecond);

void BM_HexText(benchmark::State& state) {
  const Bytes frame(60, '\x5A');
  std::string out;
  for (auto _ : state) {
    out.clear();
    AppendHexText(out, frame);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_HexText);

}  // namespace

BENCHMARK_MAIN();
