#include "signal_chart.h"

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
