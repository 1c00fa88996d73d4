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

// The list's controls under their control names (TForm1 shows them under
// the same names).
struct MeterIdListControls {
  QLabel* Label7 = nullptr;
  QCheckBox* Check_onlyRepeater = nullptr;
  QTableView* StringGrid1 = nullptr;
  QMenu* PopupGrid = nullptr;
  QAction* DeleteID1 = nullptr;
  QAction* Exportlist1 = nullptr;
  QAction* Importfromfile1 = nullptr;
  QAction* SendthisID1 = nullptr;
  QAction* Sendallandclear1 = nullptr;
  QAction* Deleteallandclear1 = nullptr;
  QAction* Cleartable1 = nullptr;
};

class MeterIdList : public QWidget, public MeterIdListControls {
  Q_OBJECT

 public:
  explicit MeterIdList(QWidget* parent = nullptr);
  ~MeterIdList() override;

  StringGrid& Grid() { return m_grid; }
  // Ctrl+E asks for the export; other keys are left to the grid.
  bool KeyDown(int key, Qt::KeyboardModifiers shift);
  // "Clear table": the list only.
  void Clear();

 signals:
  // Ctrl+E or "Export list": the window knows the file name to propose.
  void ExportRequested();

 private:
  void BuildPopupGrid();

  StringGrid m_grid;
  StringGridModel* m_model = nullptr;
};
