#include "telegram_table_panel.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "form_widgets.h"
#include "grid_views.h"
#include "string_grid_model.h"
#include "telegram_decoder.h"

namespace {
const char kImportFailed[] = "Error importing from selected file...";
}  // namespace

TelegramTablePanel::TelegramTablePanel(TableFileEnv env, QWidget* parent)
    : QWidget(parent), m_env(std::move(env)), m_table(MakeTelegramTable()) {
  setObjectName(QStringLiteral("TelegramTablePanel"));
  Label8 = MakeLabel(this, "Label8", QStringLiteral("Table for real-time repeated meters"));
  Check_noNew = MakeCheck(this, "Check_noNew", QStringLiteral("Do not add new"));
  Grid_values = Named(new QTableView(this), "Grid_values");
  m_model = new StringGridModel(m_table, /*editable=*/false);
  Grid_values->setModel(m_model);
  SetupGridView(Grid_values, 18);
  Grid_values->setSelectionBehavior(QAbstractItemView::SelectRows);
  Grid_values->setSelectionMode(QAbstractItemView::ExtendedSelection);
  Grid_values->setEditTriggers(QAbstractItemView::NoEditTriggers);
  QList<int> widths(kTableColumns, 64);
  widths[0] = 38;
  FitColumnsToTitles(Grid_values, widths);
  connect(Grid_values->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            if (current.isValid()) SelectCell(current.column(), current.row() + 1);
          });
  Grid_values->setItemDelegate(new TableCellDelegate([this] { return m_selectedRow; }, Grid_values));
  new GridKeyFilter(Grid_values,
                    [this](int key, Qt::KeyboardModifiers shift) { return KeyDown(key, shift); });

  BitBtn7 = MakeButton(this, "BitBtn7", QStringLiteral("Export to csv"));
  BitBtn6 = MakeButton(this, "BitBtn6", QStringLiteral("Clear"));
  connect(BitBtn6, &QPushButton::clicked, this, &TelegramTablePanel::Clear);
  connect(BitBtn7, &QPushButton::clicked, this, &TelegramTablePanel::Export);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  // "Do not add new" sits with the buttons below the table rather than beside
  // the title, so that the page fits a 1366-pixel screen at 125%.
  layout->addWidget(Label8);
  layout->addWidget(Grid_values, 1);
  auto* buttons = new QHBoxLayout();
  buttons->addWidget(BitBtn7);
  buttons->addStretch();
  buttons->addWidget(Check_noNew);
  buttons->addSpacing(12);
  buttons->addWidget(BitBtn6);
  layout->addLayout(buttons);
}

TelegramTablePanel::~TelegramTablePanel() {
  // The model detaches from the table before the table goes.
  delete m_model;
}

void TelegramTablePanel::SelectCell(int col, int row) {
  m_selectedCol = col;
  m_selectedRow = row;
}

bool TelegramTablePanel::KeyDown(int key, Qt::KeyboardModifiers shift) {
  bool handled = false;
  if ((shift & Qt::ControlModifier) && key == Qt::Key_C) {
    // The whole row, tab-separated, so it pastes into a spreadsheet.
    QStringList cells;
    for (int col = 0; col < m_table.ColCount(); ++col)
      cells.append(QString::fromStdString(m_table.Cell(col, m_selectedRow)));
    QGuiApplication::clipboard()->setText(cells.join(QLatin1Char('\t')));
    handled = true;
  }
  if (key == Qt::Key_Delete) {
    if (m_selectedRow >= 1) {
      DeleteGridRow(m_selectedRow, m_table);
      TableChanged();
    }
    handled = true;
  }
  return handled;
}

void TelegramTablePanel::TableChanged() {
  const int last = m_table.RowCount() - 1;
  if (m_selectedRow > last) m_selectedRow = last;
  // The grid reset took the view's selection with it.
  if (m_selectedRow >= 1)
    Grid_values->selectionModel()->setCurrentIndex(
        m_model->index(m_selectedRow - 1, m_selectedCol),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  emit Changed();
}

void TelegramTablePanel::Clear() {
  ClearGrid(m_table);
  TableChanged();
}

void TelegramTablePanel::Export() {
  ExportGrid(m_table, "meters.csv", m_env.separator, *m_env.prompts, *m_env.logs);
}

void TelegramTablePanel::ImportFile() {
  // Always into the telegram table; the meter ID list is not touched.
  switch (ImportGridFromDialog(m_env.separator(), m_table, *m_env.prompts, *m_env.logs)) {
    case ImportResult::Imported:
      TableChanged();
      break;
    case ImportResult::Failed:
      m_env.log(std::string_view(kImportFailed));
      break;
    case ImportResult::Cancelled:
      break;
  }
}
