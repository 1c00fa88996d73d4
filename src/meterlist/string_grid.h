#pragma once
// A grid of text cells with one title row (row 0) and data rows below it.
// Both the telegram table and the meter ID list are StringGrids; the windows
// show them through a thin Qt model, so every routine here runs without a
// display.

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Equality of two texts. The short ones compared per telegram (IDs, times,
// numbers) are compared here rather than through a library call, which
// cost more than the comparison.
inline bool TextsEqual(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  const char* p = a.data();
  const char* q = b.data();
  const auto load8 = [](const char* at) {
    std::uint64_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
  };
  const auto load4 = [](const char* at) {
    std::uint32_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
  };
  if (n >= 8 && n <= 16) return load8(p) == load8(q) && load8(p + n - 8) == load8(q + n - 8);
  if (n >= 4 && n < 8) return load4(p) == load4(q) && load4(p + n - 4) == load4(q + n - 4);
  if (n < 4) {
    for (size_t i = 0; i < n; ++i)
      if (p[i] != q[i]) return false;
    return true;
  }
  return std::memcmp(p, q, n) == 0;
}

class StringGrid {
 public:
  // Tells a view what changed, so it can repaint only that.
  struct Observer {
    virtual ~Observer() = default;
    virtual void CellChanged(int col, int row) = 0;
    virtual void RowCountChanged(int oldCount, int newCount) = 0;
    virtual void GridReset() = 0;
  };

  StringGrid(int colCount, int rowCount);

  int ColCount() const { return m_colCount; }
  int RowCount() const { return static_cast<int>(m_rows.size()); }
  void SetRowCount(int rowCount);

  // Out-of-range cells read as empty and ignore writes, as a grid control does.
  const std::string& Cell(int col, int row) const;
  void SetCell(int col, int row, std::string text);
  // The same, into the cell's own storage: no allocation once the cell has held a text as long.
  void SetCellText(int col, int row, std::string_view text);
  const std::vector<std::string>& Row(int row) const { return m_rows.at(row); }

  // Increases with every change; lets callers keep derived data (an index)
  // and notice when someone else changed the grid.
  std::uint64_t Version() const { return m_version; }

  void SetObserver(Observer* observer) { m_observer = observer; }

  // Several changes reported as one reset (import, clear, delete).
  void BeginBulkChange();
  void EndBulkChange();

 private:
  void CellWritten(int col, int row);

  int m_colCount;
  std::vector<std::vector<std::string>> m_rows;
  std::uint64_t m_version = 0;
  Observer* m_observer = nullptr;
  int m_bulkDepth = 0;
  bool m_bulkDirty = false;
};

// Empties every data row and leaves the title row and one empty data row.
void ClearGrid(StringGrid& grid);

// Removes data row `row` (1 or more): rows below move up and column 0 is
// renumbered 1, 2, 3, ... A grid with a single data row keeps it, emptied.
void DeleteGridRow(int row, StringGrid& grid);
