#pragma once
// The bars of the signal chart, computed from the telegram table: the "0"
// bar first, then one bar per data row whose value cell is not empty.

#include <string>
#include <vector>

#include "string_grid.h"

struct ChartBar {
  int x = 0;
  int value = 0;
  std::string label;
  bool operator==(const ChartBar&) const = default;
};

std::vector<ChartBar> SignalChartBars(const StringGrid& table, int valueColumn);
