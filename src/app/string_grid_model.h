#pragma once
// Shows a StringGrid in a QTableView: row 0 of the grid is the header, data
// row r is view row r - 1. The grid stays the one place the data lives; the
// model only forwards its change reports to the view.

#include <QAbstractTableModel>

#include "string_grid.h"

class StringGridModel : public QAbstractTableModel, private StringGrid::Observer {
  Q_OBJECT

 public:
  StringGridModel(StringGrid& grid, bool editable, QObject* parent = nullptr);
  ~StringGridModel() override;

  StringGrid& Grid() { return m_grid; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 private:
  void CellChanged(int col, int row) override;
  void RowCountChanged(int oldCount, int newCount) override;
  void GridReset() override;
  // Reports the cells gathered for one row as one dataChanged.
  void FlushChangedRow();

  StringGrid& m_grid;
  bool m_editable;
  // The data row count the view was last told about: the grid reports a
  // resize after the fact, and a model must not show the new size before
  // its begin-call.
  int m_rows;
  // A telegram rewrites a whole row cell by cell: the view hears of the row
  // once, when another row changes or the event loop turns.
  int m_changedRow = 0;  // 0: none gathered
  int m_changedFirstCol = 0;
  int m_changedLastCol = 0;
  bool m_flushQueued = false;
};
