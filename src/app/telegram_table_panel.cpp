#include "telegram_table_panel.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "escape_text.h"
#include "form_widgets.h"
#include "grid_views.h"
#include "string_grid_model.h"
#include "telegram_decoder.h"

namespace {
const char kImportFailed[] = "Error importing from selected file...";
// Bytes of the file read between two looks at the event loop: a few
// milliseconds of work.
constexpr size_t kImportPiece = size_t{256} << 10;
}  // namespace

std::string TableFileEnv::StartFolder(FileFolders::Kind kind) const {
  const std::string fallback = logs ? logs->DataFolder() : std::string();
  return folders ? folders->Folder(kind, fallback) : fallback;
}

void TableFileEnv::Saved(FileFolders::Kind kind, const std::string& path, int count, const char* what) const {
  if (folders) folders->Remember(kind, path);
  if (log)
    log("Saved " + std::to_string(count) + " " + what + (count == 1 ? "" : "s") + " to " +
        EscapeControls(path));
}

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
  m_buttons = new QHBoxLayout();
  m_buttons->addWidget(BitBtn7);
  m_buttons->addStretch();
  m_buttons->addWidget(Check_noNew);
  m_buttons->addSpacing(12);
  m_buttons->addWidget(BitBtn6);
  layout->addLayout(m_buttons);
  m_below = new QHBoxLayout();
  m_below->addStretch();
  layout->addLayout(m_below);
}

int TelegramTablePanel::OneRowWidth() const {
  const int spacing = std::max(0, m_buttons->spacing());
  return BitBtn7->sizeHint().width() + Check_noNew->sizeHint().width() + BitBtn6->sizeHint().width() + 12 +
         3 * spacing;
}

void TelegramTablePanel::PlaceCheck(bool below) {
  if (below == m_checkBelow) return;
  m_checkBelow = below;
  if (below) {
    m_buttons->removeWidget(Check_noNew);
    m_below->addWidget(Check_noNew);
  } else {
    m_below->removeWidget(Check_noNew);
    m_buttons->insertWidget(2, Check_noNew);
  }
  updateGeometry();
}

QSize TelegramTablePanel::minimumSizeHint() const {
  // As narrow as the title, the table or the buttons without the check box.
  const QSize laid = QWidget::minimumSizeHint();
  const int spacing = std::max(0, m_buttons->spacing());
  const int narrow = std::max({Label8->minimumSizeHint().width(), Grid_values->minimumSizeHint().width(),
                               BitBtn7->sizeHint().width() + BitBtn6->sizeHint().width() + 12 + 2 * spacing,
                               Check_noNew->sizeHint().width()});
  const int rowHeight = std::max({BitBtn7->sizeHint().height(), Check_noNew->sizeHint().height()});
  return QSize(narrow, laid.height() + (m_checkBelow ? 0 : rowHeight + std::max(0, layout()->spacing())));
}

void TelegramTablePanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceCheck(width() < OneRowWidth());
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
  const std::optional<ExportedFile> file =
      ExportGrid(m_table, "meters.csv", m_env.separator, *m_env.prompts, *m_env.logs,
                 {m_env.StartFolder(FileFolders::Kind::Table), {}});
  if (file) m_env.Saved(FileFolders::Kind::Table, file->path, file->rows, "row");
}

void TelegramTablePanel::ImportFile() {
  // Always into the telegram table; the meter ID list is not touched.
  if (m_import) return;
  const std::optional<std::string> file =
      ChooseImportFile(*m_env.prompts, *m_env.logs, m_env.StartFolder(FileFolders::Kind::Table));
  if (!file) return;
  m_import = std::make_unique<GridImport>(m_env.separator(), *m_env.prompts, *m_env.logs);
  m_importFile = *file;
  if (m_import->Open(*file) != GridImport::State::Parsing) {
    ImportFailed(m_import->Reason());
    return;
  }
  ImportStep();
}

void TelegramTablePanel::ShowImportProgress() {
  // A big file takes a while: its progress shows, and the window goes on
  // receiving and painting between the pieces.
  m_importProgress = new QProgressDialog(
      QStringLiteral("Importing %1...").arg(QFileInfo(QString::fromStdString(m_importFile)).fileName()),
      QStringLiteral("Cancel"), 0, 1000, this);
  m_importProgress->setObjectName(QStringLiteral("ImportProgress"));
  m_importProgress->setWindowModality(Qt::WindowModal);
  m_importProgress->setMinimumDuration(200);
  m_importProgress->setAutoReset(false);
  m_importProgress->setAutoClose(false);
  connect(m_importProgress, &QProgressDialog::canceled, this, [this] {
    m_import.reset();
    m_importTimer->stop();
    m_importProgress->deleteLater();
    m_importProgress = nullptr;
  });
  if (!m_importTimer) {
    m_importTimer = new QTimer(this);
    m_importTimer->setInterval(0);
    m_importTimer->setSingleShot(true);
    connect(m_importTimer, &QTimer::timeout, this, &TelegramTablePanel::ImportStep);
  }
}

bool TelegramTablePanel::Importing() const { return m_import != nullptr; }

void TelegramTablePanel::ImportStep() {
  if (!m_import) return;
  // The timer is single-shot: a message box shown while parsing runs the
  // event loop without a step in between. A file of one piece is read at once.
  const GridImport::State state = m_import->Parse(kImportPiece);
  if (!m_import) return;
  if (state == GridImport::State::Parsing) {
    if (!m_importProgress) ShowImportProgress();
    m_importProgress->setValue(static_cast<int>(m_import->Progress() * 1000));
    m_importTimer->start();
    return;
  }
  if (m_importProgress) m_importProgress->deleteLater();
  m_importProgress = nullptr;
  if (state == GridImport::State::Failed) {
    ImportFailed(m_import->Reason());
    return;
  }
  const int rows = m_import->Lines();
  m_import->Apply(m_table);
  m_import.reset();
  if (m_env.folders) m_env.folders->Remember(FileFolders::Kind::Table, m_importFile);
  TableChanged();
  m_env.log("Imported " + std::to_string(rows) + " row" + (rows == 1 ? "" : "s") + " from " +
            EscapeControls(m_importFile));
}

void TelegramTablePanel::ImportFailed(std::string reason) {
  m_import.reset();
  m_env.log(std::string_view(kImportFailed));
  if (!reason.empty()) m_env.log(reason);
}
