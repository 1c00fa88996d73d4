#include "string_grid_model.h"

#include <QMetaObject>
#include <algorithm>

StringGridModel::StringGridModel(StringGrid& grid, bool editable, QObject* parent)
    : QAbstractTableModel(parent), m_grid(grid), m_editable(editable), m_rows(grid.RowCount() - 1) {
  m_grid.SetObserver(this);
}

StringGridModel::~StringGridModel() { m_grid.SetObserver(nullptr); }

int StringGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rows; }

int StringGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_grid.ColCount();
}

QVariant StringGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
  return QString::fromStdString(m_grid.Cell(index.column(), index.row() + 1));
}

QVariant StringGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return QString::fromStdString(m_grid.Cell(section, 0));
  return section + 1;
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (m_editable && index.isValid()) f |= Qt::ItemIsEditable;
  return f;
}

bool StringGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!m_editable || !index.isValid() || role != Qt::EditRole) return false;
  // The grid reports the change back through CellChanged.
  m_grid.SetCell(index.column(), index.row() + 1, value.toString().toStdString());
  return true;
}

void StringGridModel::CellChanged(int col, int row) {
  if (row == 0) {
    emit headerDataChanged(Qt::Horizontal, col, col);
    return;
  }
  if (row > m_rows) return;
  if (row == m_changedRow) {
    m_changedFirstCol = std::min(m_changedFirstCol, col);
    m_changedLastCol = std::max(m_changedLastCol, col);
    return;
  }
  FlushChangedRow();
  m_changedRow = row;
  m_changedFirstCol = m_changedLastCol = col;
  if (!m_flushQueued) {
    m_flushQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          m_flushQueued = false;
          FlushChangedRow();
        },
        Qt::QueuedConnection);
  }
}

void StringGridModel::FlushChangedRow() {
  const int row = m_changedRow;
  m_changedRow = 0;
  if (row < 1 || row > m_rows) return;
  emit dataChanged(index(row - 1, m_changedFirstCol), index(row - 1, m_changedLastCol));
}

// Rows that left the grid already read as empty while the view takes its
// leave of them.
void StringGridModel::RowCountChanged(int oldCount, int newCount) {
  FlushChangedRow();
  if (newCount > oldCount) {
    beginInsertRows({}, oldCount - 1, newCount - 2);
    m_rows = newCount - 1;
    endInsertRows();
  } else if (newCount < oldCount) {
    beginRemoveRows({}, newCount - 1, oldCount - 2);
    m_rows = newCount - 1;
    endRemoveRows();
  }
}

void StringGridModel::GridReset() {
  m_changedRow = 0;
  beginResetModel();
  m_rows = m_grid.RowCount() - 1;
  endResetModel();
}
