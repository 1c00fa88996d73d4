// The signal chart "Chart_db" at the size the main window gives it, offscreen:
// what a telegram costs the GUI thread (the table's value changed, the chart
// rebuilt and painted), what a repaint alone costs, and a new meter at the
// end of the table - for 1,000 and 100,000 meters. The baseline is the same
// chart holding only its "0" bar, in the same run.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <memory>
#include <string>

#include "signal_chart_view.h"
#include "string_grid.h"
#include "telegram_decoder.h"

namespace {

// The chart's size in the main window at 1366x768.
constexpr int kWidth = 465;
constexpr int kHeight = 242;

struct ChartFixture {
  StringGrid table{kTableColumns, 2};
  std::unique_ptr<SignalChartView> view;
  QImage image{kWidth, kHeight, QImage::Format_RGB32};

  explicit ChartFixture(int meters) {
    table.SetRowCount(meters + 1);
    for (int r = 1; r <= meters; ++r) {
      table.SetCell(kColMeterId, r, std::to_string(10000000 + r));
      table.SetCell(kColRssi, r, std::to_string(40 + (r * 37) % 90));
    }
    view = std::make_unique<SignalChartView>(table, [](const std::string&) {});
    view->resize(kWidth, kHeight);
    view->Draw(kColRssi);
    Paint();
  }
  // Posted layout work runs first: it is part of what a draw costs.
  void Paint() {
    QCoreApplication::processEvents();
    QPainter painter(&image);
    view->render(&painter);
  }
};

void BM_ChartBaseline(benchmark::State& state) {
  ChartFixture f(0);
  int value = 0;
  for (auto _ : state) {
    f.table.SetCell(kColRssi, 1, std::to_string(40 + (++value % 90)));
    f.view->Draw(kColRssi);
    f.Paint();
  }
}
BENCHMARK(BM_ChartBaseline)->Unit(benchmark::kMicrosecond);

// One telegram: a known meter's value changes, the chart follows.
void BM_ChartTelegram(benchmark::State& state) {
  const int meters = static_cast<int>(state.range(0));
  ChartFixture f(meters);
  int value = 0;
  for (auto _ : state) {
    const int row = 1 + value % meters;
    f.table.SetCell(kColRssi, row, std::to_string(40 + (++value % 90)));
    f.view->Draw(kColRssi);
    f.Paint();
  }
}
BENCHMARK(BM_ChartTelegram)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// A repaint with nothing changed (the window exposed or resized).
void BM_ChartRepaint(benchmark::State& state) {
  ChartFixture f(static_cast<int>(state.range(0)));
  for (auto _ : state) f.Paint();
}
BENCHMARK(BM_ChartRepaint)->Arg(0)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// A meter new to the table: one more bar and one more label.
void BM_ChartNewMeter(benchmark::State& state) {
  const int meters = static_cast<int>(state.range(0));
  ChartFixture f(meters);
  int added = 0;
  for (auto _ : state) {
    f.table.SetRowCount(f.table.RowCount() + 1);
    const int row = f.table.RowCount() - 1;
    f.table.SetCell(kColMeterId, row, std::to_string(20000000 + ++added));
    f.table.SetCell(kColRssi, row, "77");
    f.view->Draw(kColRssi);
    f.Paint();
    // Back to the measured count, outside the timing.
    state.PauseTiming();
    f.table.SetRowCount(meters + 1);
    f.view->Draw(kColRssi);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ChartNewMeter)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
