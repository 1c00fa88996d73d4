#include "meter_id_list.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QTableView>
#include <QVBoxLayout>

#include "form_widgets.h"
#include "grid_views.h"
#include "string_grid_model.h"

namespace {
bool IsExportListKey(int key, Qt::KeyboardModifiers shift) {
  return key == Qt::Key_E && (shift & Qt::ControlModifier);
}
}  // namespace

MeterIdList::MeterIdList(QWidget* parent) : QWidget(parent), m_grid(4, 2) {
  setObjectName(QStringLiteral("MeterIdList"));
  const char* titles[] = {"No.", "Serial ID", "Note ", "Time "};
  for (int c = 0; c < 4; ++c) m_grid.SetCell(c, 0, titles[c]);

  Label7 = MakeLabel(this, "Label7", QStringLiteral("Repeater ID"));
  Check_onlyRepeater = MakeCheck(this, "Check_onlyRepeater", QStringLiteral("Show only service data"));
  Check_onlyRepeater->setChecked(true);
  StringGrid1 = Named(new QTableView(this), "StringGrid1");
  m_model = new StringGridModel(m_grid, /*editable=*/true);
  StringGrid1->setModel(m_model);
  SetupGridView(StringGrid1, 18);
  const int width = FitColumnsToTitles(StringGrid1, {41, 67, 79, 64});
  StringGrid1->setFixedWidth(width + 2 * StringGrid1->frameWidth() + 18);
  const GridKeyHandler keys = [this](int key, Qt::KeyboardModifiers shift) { return KeyDown(key, shift); };
  new GridKeyFilter(StringGrid1, keys);
  StringGrid1->setItemDelegate(new EditorKeyDelegate(keys, &IsExportListKey, StringGrid1));
  BuildPopupGrid();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Label7);
  layout->addWidget(Check_onlyRepeater);
  layout->addWidget(StringGrid1, 1);
}

MeterIdList::~MeterIdList() {
  // The model detaches from the grid before the grid goes.
  delete m_model;
}

void MeterIdList::BuildPopupGrid() {
  PopupGrid = Named(new QMenu(StringGrid1), "PopupGrid");
  // The items without an action are kept: the operators know the menu so.
  DeleteID1 = Named(PopupGrid->addAction(QStringLiteral("Delete ID")), "DeleteID1");
  Exportlist1 = Named(PopupGrid->addAction(QStringLiteral("Export list")), "Exportlist1");
  Importfromfile1 = Named(PopupGrid->addAction(QStringLiteral("Import from file")), "Importfromfile1");
  SendthisID1 = Named(PopupGrid->addAction(QStringLiteral("Send this ID")), "SendthisID1");
  Sendallandclear1 = Named(PopupGrid->addAction(QStringLiteral("Send all and clear")), "Sendallandclear1");
  Deleteallandclear1 =
      Named(PopupGrid->addAction(QStringLiteral("Delete all and clear")), "Deleteallandclear1");
  Cleartable1 = Named(PopupGrid->addAction(QStringLiteral("Clear table")), "Cleartable1");
  // They say so where the operator looks, and the manual says so too.
  PopupGrid->setToolTipsVisible(true);
  for (QAction* idle : {DeleteID1, SendthisID1, Sendallandclear1, Deleteallandclear1})
    idle->setToolTip(QStringLiteral("Kept for compatibility: does nothing"));
  connect(Exportlist1, &QAction::triggered, this, &MeterIdList::ExportRequested);
  connect(Cleartable1, &QAction::triggered, this, &MeterIdList::Clear);

  StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(StringGrid1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupGrid->popup(StringGrid1->viewport()->mapToGlobal(pos)); });
}

bool MeterIdList::KeyDown(int key, Qt::KeyboardModifiers shift) {
  // Tab leaves the list; Ctrl+Tab and Ctrl+Shift+Tab move between its cells.
  if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && (shift & Qt::ControlModifier)) {
    const bool back = key == Qt::Key_Backtab || (shift & Qt::ShiftModifier);
    const int rows = m_model->rowCount(), cols = m_model->columnCount();
    const QModelIndex current = StringGrid1->currentIndex();
    int cell = current.isValid() ? current.row() * cols + current.column() : (back ? 0 : -1);
    cell = (cell + (back ? -1 : 1) + rows * cols) % (rows * cols);
    StringGrid1->setCurrentIndex(m_model->index(cell / cols, cell % cols));
    return true;
  }
  if (!IsExportListKey(key, shift)) return false;
  emit ExportRequested();
  return true;
}

void MeterIdList::Clear() { ClearGrid(m_grid); }
