#pragma once
// What the two grids add to a plain QTableView: the telegram table's cell
// painting and the key handlers both grids hand their keys to.

#include <QObject>
#include <QStyledItemDelegate>
#include <functional>

// Paints Grid_values' cells: the row the operator last selected gets the
// system highlight colour even when the view has lost its selection (after
// Delete or an import), and the text sits at the cell's top-left corner with
// no margin, clipped to the cell, so an 8-digit ID fits a 64-pixel column.
class TableCellDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // `selectedRow` gives SelectedRow, in grid rows (view row + 1).
  TableCellDelegate(std::function<int()> selectedRow, QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  std::function<int()> m_selectedRow;
};

// A grid's KeyDown handler: it sees every key pressed in the grid, and in
// the cell being edited, before the grid does. True takes the key away
// from the grid.
using GridKeyHandler = std::function<bool(int key, Qt::KeyboardModifiers modifiers)>;

class GridKeyFilter : public QObject {
  Q_OBJECT

 public:
  GridKeyFilter(QObject* grid, GridKeyHandler handler);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  GridKeyHandler m_handler;
};

// Cell editors of an editable grid pass their keys to the grid's handler
// first, as the grid's own editor always did (Ctrl+E exports while typing).
// Before a key for which `commitFirst` is true, the text typed so far is
// written into the grid, so the command sees it; other keys leave the
// editor alone (a write-back would move its cursor and drop its undo).
class EditorKeyDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  EditorKeyDelegate(GridKeyHandler handler, GridKeyHandler commitFirst, QObject* parent = nullptr);

 protected:
  bool eventFilter(QObject* editor, QEvent* event) override;

 private:
  GridKeyHandler m_handler;
  GridKeyHandler m_commitFirst;
};
