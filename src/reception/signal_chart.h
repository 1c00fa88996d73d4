#pragma once
// The bars of the signal chart, computed from the telegram table: the "0"
// bar first, then one bar per data row whose value cell is not empty; and
// where they go across the chart's plot.

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

// What is painted for the bars across a plot `width` pixels wide. Every bar
// has a slot of width / bars pixels and stands in its middle, a tenth of the
// slot wide (and a pixel for the edge), at least one pixel. Past one bar per
// pixel column each column holds the tallest of the bars whose middle falls
// in it, which is what painting all of them would leave on the screen: the
// painting then costs the pixels, not the meters.
struct ChartColumn {
  int left = 0;   // pixels from the plot's left edge
  int width = 1;  // pixels
  int value = 0;
  bool operator==(const ChartColumn&) const = default;
};

std::vector<ChartColumn> ChartColumns(const std::vector<ChartBar>& bars, int width);
