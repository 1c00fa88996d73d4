#pragma once
// The middle column of the page: the meter ID list (StringGrid1, editable,
// four columns) with its popup menu, and the "Show only service data" box.

#include <QWidget>

#include "string_grid.h"

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QTableView;
class StringGridModel;

class MeterIdList : public QWidget {
  Q_OBJECT

 public:
  explicit MeterIdList(QWidget* parent = nullptr);
  ~MeterIdList() override;

  StringGrid& Grid() { return m_grid; }
  // Ctrl+E asks for the export; other keys are left to the grid.
  bool KeyDown(int key, Qt::KeyboardModifiers shift);
  // "Clear table": the list only.
  void Clear();

  QLabel* Label7;
  QCheckBox* Check_onlyRepeater;
  QTableView* StringGrid1;
  QMenu* PopupGrid;
  QAction* DeleteID1;
  QAction* Exportlist1;
  QAction* Importfromfile1;
  QAction* SendthisID1;
  QAction* Sendallandclear1;
  QAction* Deleteallandclear1;
  QAction* Cleartable1;

 signals:
  // Ctrl+E or "Export list": the window knows the file name to propose.
  void ExportRequested();

 private:
  void BuildPopupGrid();

  StringGrid m_grid;
  StringGridModel* m_model = nullptr;
};
