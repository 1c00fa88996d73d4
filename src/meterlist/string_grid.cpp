#include "string_grid.h"

#include <algorithm>

namespace {
const std::string kEmpty;
}

StringGrid::StringGrid(int colCount, int rowCount)
    : m_colCount(std::max(colCount, 1)),
      m_rows(static_cast<size_t>(std::max(rowCount, 1)),
             std::vector<std::string>(static_cast<size_t>(m_colCount))) {}

void StringGrid::SetRowCount(int rowCount) {
  rowCount = std::max(rowCount, 1);
  const int old = RowCount();
  if (rowCount == old) return;
  m_rows.resize(static_cast<size_t>(rowCount), std::vector<std::string>(static_cast<size_t>(m_colCount)));
  ++m_version;
  if (m_bulkDepth > 0) {
    m_bulkDirty = true;
  } else if (m_observer) {
    m_observer->RowCountChanged(old, rowCount);
  }
}

const std::string& StringGrid::Cell(int col, int row) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= m_colCount) return kEmpty;
  return m_rows[static_cast<size_t>(row)][static_cast<size_t>(col)];
}

void StringGrid::SetCell(int col, int row, std::string text) {
  if (row < 0 || row >= RowCount() || col < 0 || col >= m_colCount) return;
  std::string& cell = m_rows[static_cast<size_t>(row)][static_cast<size_t>(col)];
  if (cell == text) return;
  cell = std::move(text);
  CellWritten(col, row);
}

void StringGrid::SetCellText(int col, int row, std::string_view text) {
  if (row < 0 || row >= RowCount() || col < 0 || col >= m_colCount) return;
  std::string& cell = m_rows[static_cast<size_t>(row)][static_cast<size_t>(col)];
  if (TextsEqual(cell, text)) return;
  cell.assign(text.data(), text.size());
  CellWritten(col, row);
}

void StringGrid::CellWritten(int col, int row) {
  ++m_version;
  if (m_bulkDepth > 0) {
    m_bulkDirty = true;
  } else if (m_observer) {
    m_observer->CellChanged(col, row);
  }
}

void StringGrid::BeginBulkChange() { ++m_bulkDepth; }

void StringGrid::EndBulkChange() {
  if (m_bulkDepth == 0) return;
  if (--m_bulkDepth == 0 && m_bulkDirty) {
    m_bulkDirty = false;
    if (m_observer) m_observer->GridReset();
  }
}

void ClearGrid(StringGrid& grid) {
  grid.BeginBulkChange();
  for (int row = 1; row < grid.RowCount(); ++row)
    for (int col = 0; col < grid.ColCount(); ++col) grid.SetCell(col, row, std::string());
  grid.SetRowCount(2);
  grid.EndBulkChange();
}

void DeleteGridRow(int row, StringGrid& grid) {
  if (row < 1 || row >= grid.RowCount()) return;
  grid.BeginBulkChange();
  if (grid.RowCount() <= 2) {
    for (int col = 0; col < grid.ColCount(); ++col) grid.SetCell(col, 1, std::string());
  } else {
    for (int r = row; r < grid.RowCount() - 1; ++r)
      for (int col = 0; col < grid.ColCount(); ++col) grid.SetCell(col, r, grid.Cell(col, r + 1));
    grid.SetRowCount(grid.RowCount() - 1);
    for (int r = 1; r < grid.RowCount(); ++r) grid.SetCell(0, r, std::to_string(r));
  }
  grid.EndBulkChange();
}
