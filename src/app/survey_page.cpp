#include "survey_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "form_widgets.h"
#include "grid_files.h"

namespace {

// Titles of the table; the files and velrpt-cli use the field names.
const char* const kTitles[survey::kColumnCount] = {"Meter ID",
                                                   "MFR",
                                                   "Medium",
                                                   "Role",
                                                   "Direct",
                                                   "Direct last",
                                                   "Direct min",
                                                   "Direct mean",
                                                   "Direct max",
                                                   "Repeated",
                                                   "Rep. last",
                                                   "Rep. min",
                                                   "Rep. mean",
                                                   "Rep. max",
                                                   "First heard",
                                                   "Last heard",
                                                   "Path (dB gained via repeater)"};

// The signal columns show the transceiver's values, which are dBm without
// their minus sign: the operator must know which way is better.
constexpr char kSignTip[] =
    "Signal values are dBm without the minus sign: 107 is -107 dBm, so the smaller number is the "
    "stronger signal. Path: how many dB stronger the repeated copy is than the direct one "
    "(direct mean minus repeated mean).";

}  // namespace

SurveyModel::SurveyModel(const survey::Survey& s, QObject* parent)
    : QAbstractTableModel(parent), m_survey(s) {}

int SurveyModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int SurveyModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : survey::kColumnCount;
}

QVariant SurveyModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size())) return {};
  const auto column = static_cast<survey::Column>(index.column());
  if (role == Qt::TextAlignmentRole)
    return survey::CellIsNumber(column) ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
  if (role != Qt::DisplayRole) return {};
  const auto& records = m_survey.Records();
  const int i = m_rows[static_cast<size_t>(index.row())];
  if (i >= static_cast<int>(records.size())) return {};  // cleared since the last refresh
  const survey::MeterRecord& r = records[static_cast<size_t>(i)];
  return QString::fromStdString(column == survey::Column::kPath ? survey::PathText(r)
                                                                : survey::CellText(r, column));
}

QVariant SurveyModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role == Qt::ToolTipRole && orientation == Qt::Horizontal) return QString::fromLatin1(kSignTip);
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  return section >= 0 && section < survey::kColumnCount ? QString::fromLatin1(kTitles[section]) : QVariant();
}

void SurveyModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= survey::kColumnCount) return;
  m_sortColumn = static_cast<survey::Column>(column);
  m_descending = order == Qt::DescendingOrder;
  Refresh(true);
}

void SurveyModel::SetMinCount(std::uint32_t minCount) {
  m_minCount = minCount;
  Refresh(true);
}

void SurveyModel::Refresh(bool force) {
  if (!force && m_generation == m_survey.Generation()) return;
  m_generation = m_survey.Generation();
  std::vector<int> rows = survey::SortedRows(m_survey.Records(), m_sortColumn, m_descending, m_minCount);
  if (rows.size() == m_rows.size()) {
    // Same number of rows: the view keeps its selection and scroll position.
    emit layoutAboutToBeChanged();
    m_rows = std::move(rows);
    emit layoutChanged();
  } else {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
  }
}

SurveyPage::SurveyPage(TableFileEnv env, QWidget* parent) : QWidget(parent), m_env(std::move(env)) {
  setObjectName(QStringLiteral("TabSheetSurvey"));
  m_model = new SurveyModel(m_survey, this);

  Grid_survey = Named(new QTableView(this), "Grid_survey");
  Grid_survey->setFont(GridFont());
  Grid_survey->setModel(m_model);
  Grid_survey->setSelectionBehavior(QAbstractItemView::SelectRows);
  Grid_survey->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grid_survey->setSortingEnabled(true);
  Grid_survey->sortByColumn(0, Qt::AscendingOrder);
  Grid_survey->verticalHeader()->setDefaultSectionSize(18);
  Grid_survey->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  for (int c = 0; c < survey::kColumnCount; ++c)
    Grid_survey->setColumnWidth(c, c == 16 ? 190 : c >= 14 ? 150 : 76);

  Label_minCount = MakeLabel(this, "Label_minCount", QStringLiteral("Minimum count"));
  Edit_minCount = Named(new QSpinBox(this), "Edit_minCount");
  Edit_minCount->setRange(0, 1000000000);
  Label_minCount->setBuddy(Edit_minCount);
  Label_surveyCount = MakeLabel(this, "Label_surveyCount", QString());
  BitBtn_exportSurvey = MakeButton(this, "BitBtn_exportSurvey", QStringLiteral("Export survey"));
  BitBtn_clearSurvey = MakeButton(this, "BitBtn_clearSurvey", QStringLiteral("Clear survey"));

  auto* top = new QHBoxLayout;
  top->addWidget(Label_minCount);
  top->addWidget(Edit_minCount);
  top->addSpacing(16);
  top->addWidget(Label_surveyCount, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(BitBtn_exportSurvey);
  bottom->addStretch(1);
  bottom->addWidget(BitBtn_clearSurvey);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(top);
  layout->addWidget(Grid_survey, 1);
  layout->addLayout(bottom);

  connect(Edit_minCount, &QSpinBox::valueChanged, this,
          [this](int n) { m_model->SetMinCount(static_cast<std::uint32_t>(n)); });
  connect(BitBtn_clearSurvey, &QPushButton::clicked, this, &SurveyPage::Clear);
  connect(BitBtn_exportSurvey, &QPushButton::clicked, this, &SurveyPage::Export);

  Timer_survey = Named(new QTimer(this), "Timer_survey");
  Timer_survey->setInterval(kRefreshMs);
  connect(Timer_survey, &QTimer::timeout, this, &SurveyPage::Refresh);
  Refresh();
}

// The refresh timer runs only while the page is in view: a hidden page
// must not wake the program four times a second.
void SurveyPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Timer_survey->start();
  Refresh();
}

void SurveyPage::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  Timer_survey->stop();
}

void SurveyPage::Refresh() {
  if (!isVisible()) return;
  m_model->Refresh();
  QString text = QStringLiteral("%1 meters").arg(m_survey.Records().size());
  if (m_survey.NotTracked())
    text += QStringLiteral(", %1 telegrams not tracked (more than %2 meters)")
                .arg(m_survey.NotTracked())
                .arg(m_survey.MaxMeters());
  if (Label_surveyCount->text() != text) Label_surveyCount->setText(text);
}

void SurveyPage::Clear() {
  m_survey.Clear();
  m_model->Refresh(true);
  Refresh();
}

void SurveyPage::Export() {
  // The rows as shown, the header row first, through the export of the
  // other tables (its save dialog, its failure reports).
  const std::string separator = m_env.separator ? m_env.separator() : std::string(";");
  m_model->Refresh();
  const std::vector<int>& rows = m_model->Rows();
  StringGrid grid(survey::kColumnCount, static_cast<int>(rows.size()) + 2);
  for (int c = 0; c < survey::kColumnCount; ++c) grid.SetCell(c, 1, survey::kColumnNames[c]);
  for (size_t k = 0; k < rows.size(); ++k)
    for (int c = 0; c < survey::kColumnCount; ++c)
      grid.SetCell(
          c, static_cast<int>(k) + 2,
          survey::CellText(m_survey.Records()[static_cast<size_t>(rows[k])], static_cast<survey::Column>(c)));
  // A cell holding the separator is quoted by the export itself.
  const std::optional<ExportedFile> file =
      ExportGrid(grid, "survey.csv", [separator] { return separator; }, *m_env.prompts, *m_env.logs,
                 {m_env.StartFolder(FileFolders::Kind::Survey), "Export survey"});
  if (file) m_env.Saved(FileFolders::Kind::Survey, file->path, static_cast<int>(rows.size()), "meter");
}
