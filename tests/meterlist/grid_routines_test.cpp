#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "string_grid.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

StringGrid MakeGrid(int cols, const Rows& data) {
  StringGrid grid(cols, static_cast<int>(data.size()) + 1);
  for (int c = 0; c < cols; ++c) grid.SetCell(c, 0, "T" + std::to_string(c));
  for (size_t r = 0; r < data.size(); ++r)
    for (size_t c = 0; c < data[r].size(); ++c)
      grid.SetCell(static_cast<int>(c), static_cast<int>(r) + 1, data[r][c]);
  return grid;
}

Rows DataRows(const StringGrid& grid) {
  Rows rows;
  for (int r = 1; r < grid.RowCount(); ++r) rows.push_back(grid.Row(r));
  return rows;
}

void ExpectTitlesKept(const StringGrid& grid) {
  for (int c = 0; c < grid.ColCount(); ++c) EXPECT_EQ(grid.Cell(c, 0), "T" + std::to_string(c));
}

struct Observer : StringGrid::Observer {
  int resets = 0, cells = 0, counts = 0;
  void CellChanged(int, int) override { ++cells; }
  void RowCountChanged(int, int) override { ++counts; }
  void GridReset() override { ++resets; }
};

TEST(GridRoutines, ClearGridLeavesTitlesAndOneEmptyRow) {
  const std::vector<Rows> cases = {
      {{"", ""}},
      {{"1", "a"}},
      {{"1", "a"}, {"2", "b"}, {"3", "c"}},
  };
  for (const Rows& data : cases) {
    StringGrid grid = MakeGrid(2, data);
    Observer observer;
    grid.SetObserver(&observer);
    ClearGrid(grid);
    EXPECT_EQ(DataRows(grid), (Rows{{"", ""}})) << data.size() << " rows";
    ExpectTitlesKept(grid);
    // One repaint for the whole clear, not one per cell.
    EXPECT_EQ(observer.cells + observer.counts, 0);
    EXPECT_LE(observer.resets, 1);
  }
}

TEST(GridRoutines, DeleteGridRowMovesRowsUpAndRenumbers) {
  struct Case {
    const char* name;
    Rows before;
    int row;
    Rows after;
  };
  const Rows four = {{"1", "a"}, {"2", "b"}, {"3", "c"}, {"4", "d"}};
  const std::vector<Case> cases = {
      {"only row is emptied", {{"1", "a"}}, 1, {{"", ""}}},
      {"middle row", four, 2, {{"1", "a"}, {"2", "c"}, {"3", "d"}}},
      {"first row", four, 1, {{"1", "b"}, {"2", "c"}, {"3", "d"}}},
      {"last row", four, 4, {{"1", "a"}, {"2", "b"}, {"3", "c"}}},
      {"numbers out of order are rewritten",
       {{"7", "a"}, {"x", "b"}, {"", "c"}},
       1,
       {{"1", "b"}, {"2", "c"}}},
      {"title row is not a data row", four, 0, four},
      {"row past the end", four, 5, four},
  };
  for (const Case& c : cases) {
    StringGrid grid = MakeGrid(2, c.before);
    DeleteGridRow(c.row, grid);
    EXPECT_EQ(DataRows(grid), c.after) << c.name;
    ExpectTitlesKept(grid);
  }
}

}  // namespace
