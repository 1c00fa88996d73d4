#include "signal_chart.h"

#include <algorithm>
#include <cmath>

#include "telegram_decoder.h"

std::vector<ChartBar> SignalChartBars(const StringGrid& table, int valueColumn) {
  std::vector<ChartBar> bars;
  bars.reserve(static_cast<size_t>(table.RowCount()));
  bars.push_back({0, 0, "0"});
  for (int r = 1; r < table.RowCount(); ++r) {
    const std::string& cell = table.Cell(valueColumn, r);
    if (cell.empty()) continue;
    bars.push_back({r, CellToInt(cell, 0), table.Cell(kColMeterId, r)});
  }
  return bars;
}

std::vector<ChartColumn> ChartColumns(const std::vector<ChartBar>& bars, int width) {
  std::vector<ChartColumn> columns;
  if (bars.empty() || width <= 0) return columns;
  const double slot = double(width) / double(bars.size());
  const auto middle = [&](size_t i) { return (double(i) + 0.5) * slot; };
  if (slot >= 1) {
    const int barWidth = std::clamp(int(std::lround(slot / 10)) + 1, 1, int(slot));
    columns.reserve(bars.size());
    for (size_t i = 0; i < bars.size(); ++i) {
      const int left = int(std::lround(middle(i) - barWidth / 2.0));
      columns.push_back({std::clamp(left, 0, width - barWidth), barWidth, bars[i].value});
    }
    return columns;
  }
  columns.reserve(static_cast<size_t>(width));
  for (size_t i = 0; i < bars.size(); ++i) {
    const int x = std::min(width - 1, int(middle(i)));
    if (columns.empty() || columns.back().left != x)
      columns.push_back({x, 1, bars[i].value});
    else
      columns.back().value = std::max(columns.back().value, bars[i].value);
  }
  return columns;
}
