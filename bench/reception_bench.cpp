// Frame assembly plus decoding into a telegram table of 1,000 meters with a
// log sink, as the receive path runs it for every byte from the transceiver.

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "bench_frames.h"
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

using bench::MeterFrame;

// A stream of 4,000 frames from 1,000 meters, in receive events of the size
// a busy line brings (a few frames each, cut anywhere).
std::vector<std::string_view> CutIntoEvents(const Bytes& stream, std::mt19937& rng) {
  std::vector<std::string_view> events;
  for (size_t pos = 0; pos < stream.size();) {
    const size_t n = std::min<size_t>(stream.size() - pos, 64 + rng() % 400);
    events.emplace_back(stream.data() + pos, n);
    pos += n;
  }
  return events;
}

void BM_ReceivePath(benchmark::State& state) {
  std::mt19937 rng(7);
  const int meters = 1000;
  // A stream of 4,000 frames from 1,000 meters, in receive events of the
  // size a busy line brings (a few frames each, cut anywhere).
  Bytes stream;
  for (int i = 0; i < 4000; ++i) stream += MeterFrame(static_cast<int>(rng() % meters), rng);
  const std::vector<std::string_view> events = CutIntoEvents(stream, rng);

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
  state.counters["frames/s"] =
      benchmark::Counter(double(state.iterations()) * 4000, benchmark::Counter::kIsRate);
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

// The target: the receive path with the real clock into a table of 1,000
// meters with a log sink, in turns with the bare scan of the same events.
void Summary() {
  std::mt19937 rng(11);
  const int meters = 1000, frames = 4000, rounds = 25, runs = 7;
  Bytes stream;
  for (int i = 0; i < frames; ++i) stream += MeterFrame(static_cast<int>(rng() % meters), rng);
  const std::vector<std::string_view> events = CutIntoEvents(stream, rng);

  CountingSink log;
  StringGrid table = MakeTelegramTable();
  SystemClock clock;
  const LocalFormats formats = LocalFormats::System();
  TimeTexts time(clock, formats);
  TelegramContext ctx{log, table, time, {}, {}, [](int) {}};
  ctx.setStatus = [](const std::string&) {};
  ReceiveHandler handler(std::move(ctx));
  DecodeOptions options;
  for (int m = 0; m < meters; ++m) handler.ReceiveBytes(MeterFrame(m, rng), options);

  std::vector<double> bare, receive;
  size_t scanned = 0;
  for (int r = 0; r < runs; ++r) {
    bench::BareScanner scan;
    bare.push_back(bench::Seconds([&] {
      for (int k = 0; k < rounds; ++k)
        for (std::string_view e : events) scan.Feed(e);
    }));
    scanned = scan.Frames();
    receive.push_back(bench::Seconds([&] {
      for (int k = 0; k < rounds; ++k)
        for (std::string_view e : events) handler.ReceiveBytes(e, options);
    }));
  }
  const double total = double(frames) * rounds;
  if (scanned != static_cast<size_t>(total) || handler.Stats().decodeErrors != 0 ||
      table.RowCount() - 1 != meters) {
    std::printf("receive path: the runs went wrong (%zu frames scanned, %d meters)\n", scanned,
                table.RowCount() - 1);
    return;
  }
  std::printf("receive path, real clock, %d meters, log sink: %d runs of %.0f frames, taken in turns\n",
              meters, runs, total);
  const double fps = total / bench::Median(receive);
  bench::PrintSpeed("receive path", fps, total / bench::Median(bare));
  bench::Verdict(">= 2,000,000 frames/s", fps >= 2e6);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::fflush(stdout);
  Summary();
  return 0;
}
