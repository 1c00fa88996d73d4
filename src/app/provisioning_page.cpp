#include "provisioning_page.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "form_widgets.h"
#include "provision_job.h"
#include "text_files.h"

namespace {

constexpr char kCaption[] = "VelRpt";
constexpr std::size_t kJobsFileCap = 1 << 20;

std::string ClockText(const LocalTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

// A whole number in the text, if it is nothing else.
std::optional<int> WholeNumber(const std::string& text) {
  const std::optional<int> v = ParseDecimal(text);
  return text.empty() ? std::nullopt : v;
}

}  // namespace

ProvisioningPage::ProvisioningPage(ProvisioningEnv env, QWidget* parent)
    : QWidget(parent), m_env(std::move(env)) {
  setObjectName(QStringLiteral("TabSheet_provisioning"));
  m_engine = new ProvisionEngine(m_env.send, m_env.controls, *m_env.clock, this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* buttons = new QHBoxLayout();
  Button_addRepeater = MakeButton(this, "Button_addRepeater", QStringLiteral("Add selected repeater"));
  Button_importJobs = MakeButton(this, "Button_importJobs", QStringLiteral("Import jobs"));
  Button_start = MakeButton(this, "Button_start", QStringLiteral("Start"));
  Button_stop = MakeButton(this, "Button_stop", QStringLiteral("Stop"));
  Button_exportReport = MakeButton(this, "Button_exportReport", QStringLiteral("Export report"));
  Button_clearJobs = MakeButton(this, "Button_clearJobs", QStringLiteral("Clear jobs"));
  for (QPushButton* b : {Button_addRepeater, Button_importJobs, Button_clearJobs, Button_start, Button_stop,
                         Button_exportReport})
    buttons->addWidget(b);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  // The batch's settings on a row of their own: with the buttons they would
  // not fit a 1024-pixel screen.
  buttons = new QHBoxLayout();
  buttons->addWidget(new QLabel(QStringLiteral("Attempts"), this));
  Spin_attempts = Named(new QSpinBox(this), "Spin_attempts");
  Spin_attempts->setRange(1, 100);
  Spin_attempts->setValue(ProvisionSettings{}.attempts);
  buttons->addWidget(Spin_attempts);
  buttons->addWidget(new QLabel(QStringLiteral("Answer time-out, s"), this));
  Spin_answerTimeout = Named(new QDoubleSpinBox(this), "Spin_answerTimeout");
  Spin_answerTimeout->setRange(0.1, 3600);
  Spin_answerTimeout->setDecimals(1);
  Spin_answerTimeout->setValue(ProvisionSettings{}.answerTimeoutMs / 1000.0);
  buttons->addWidget(Spin_answerTimeout);
  buttons->addStretch(1);
  layout->addLayout(buttons);

  Grid_jobs = Named(new QTableWidget(0, kColumns, this), "Grid_jobs");
  Grid_jobs->setHorizontalHeaderLabels({QStringLiteral("ID"), QStringLiteral("Wanted settings"),
                                        QStringLiteral("State"), QStringLiteral("Attempts"),
                                        QStringLiteral("Last answer"), QStringLiteral("What differs")});
  Grid_jobs->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grid_jobs->setSelectionBehavior(QAbstractItemView::SelectRows);
  Grid_jobs->horizontalHeader()->setStretchLastSection(true);
  Grid_jobs->verticalHeader()->setVisible(false);
  // An 8-digit ID whole, whatever the font; the cells' tooltips show texts
  // longer than their column.
  const int idWidth = Grid_jobs->fontMetrics().horizontalAdvance(QStringLiteral("88888888")) +
                      2 * Grid_jobs->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, Grid_jobs) +
                      16;
  Grid_jobs->setColumnWidth(kColId, std::max(80, idWidth));
  Grid_jobs->setColumnWidth(kColWanted, 300);
  layout->addWidget(Grid_jobs, 1);

  connect(Button_addRepeater, &QPushButton::clicked, this, &ProvisioningPage::AddSelectedRepeater);
  connect(Button_importJobs, &QPushButton::clicked, this, &ProvisioningPage::ImportJobs);
  connect(Button_clearJobs, &QPushButton::clicked, this, &ProvisioningPage::ClearJobs);
  connect(Button_start, &QPushButton::clicked, this, &ProvisioningPage::StartBatch);
  connect(Button_stop, &QPushButton::clicked, m_engine, &ProvisionEngine::Stop);
  connect(Button_exportReport, &QPushButton::clicked, this, &ProvisioningPage::ExportReport);
  connect(m_engine, &ProvisionEngine::JobChanged, this, [this](int index) {
    if (index >= 0 && static_cast<size_t>(index) < m_outcomes.size()) {
      m_outcomes[static_cast<size_t>(index)] = m_engine->Outcomes()[static_cast<size_t>(index)];
      ShowRow(index);
    }
  });
  connect(m_engine, &ProvisionEngine::BatchFinished, this, &ProvisioningPage::UpdateButtons);
  UpdateButtons();
}

void ProvisioningPage::Tell(const std::string& text, Prompts::Icon icon) {
  m_env.prompts->Message(kCaption, text, icon);
}

bool ProvisioningPage::AddJob(const ProvisionJob& job) {
  if (m_engine->Running()) return false;
  if (const std::string error = CheckJob(job); !error.empty()) {
    Tell(error, Prompts::Icon::Warning);
    return false;
  }
  m_jobs.push_back(job);
  m_outcomes.emplace_back();
  Grid_jobs->setRowCount(static_cast<int>(m_jobs.size()));
  ShowRow(static_cast<int>(m_jobs.size()) - 1);
  UpdateButtons();
  return true;
}

// The selected repeater with the values of the parameter group as they stand:
// start hour, receive hours, wireless mode and the PC's clock always; the
// calibration, the flag and the new ID when their fields hold anything. What
// a field holds goes into the job as it is, so CheckJob refuses the job over
// a value the repeater cannot take instead of the job leaving it out.
void ProvisioningPage::AddSelectedRepeater() {
  const CommandControls c = m_env.controls();
  ProvisionJob job;
  job.id = c.repeaterId;
  job.rxStartHour = c.rxStartHour;
  job.rxHours = c.rxHours;
  job.wirelessMode = c.wirelessMode;
  job.setClock = true;
  if (!c.calibration.empty()) {
    const std::optional<int> v = WholeNumber(c.calibration);
    if (!v) return Refuse("clock calibration", c.calibration);
    job.calibration = *v;
    job.calibrationOn = c.calibrationOn;
  }
  if (!c.flag.empty()) {
    const std::optional<int> n = WholeNumber(c.flag);
    if (!n) return Refuse("flag number", c.flag);
    job.flags[*n] = c.flagSet;
  }
  job.newId = c.newId;
  AddJob(job);
}

void ProvisioningPage::Refuse(const char* what, const std::string& text) {
  Tell(std::string(what) + " is no whole number: '" + text + "'", Prompts::Icon::Warning);
}

void ProvisioningPage::ImportJobs() {
  if (m_engine->Running()) return;
  Prompts::FileDialog dialog{"Import jobs", "", "CSV|*.csv|TXT|*.txt", "csv", ""};
  std::optional<std::string> path;
  try {
    path = m_env.prompts->OpenFile(dialog);
  } catch (const Prompts::DialogError& e) {
    Tell(e.what(), Prompts::Icon::Error);
    return;
  }
  if (!path) return;
  std::string text, error;
  if (!ReadWholeFile(*path, text, error, kJobsFileCap)) {
    Tell(error, Prompts::Icon::Error);
    return;
  }
  std::vector<ProvisionJob> jobs;
  if (const std::string bad = ParseJobsText(text, jobs); !bad.empty()) {
    Tell(*path + ": " + bad, Prompts::Icon::Warning);
    return;
  }
  for (const ProvisionJob& job : jobs) AddJob(job);
}

void ProvisioningPage::ClearJobs() {
  if (m_engine->Running()) return;
  m_jobs.clear();
  m_outcomes.clear();
  Grid_jobs->setRowCount(0);
  UpdateButtons();
}

void ProvisioningPage::StartBatch() {
  if (m_engine->Running() || m_jobs.empty()) return;
  ProvisionSettings settings;
  settings.attempts = Spin_attempts->value();
  settings.answerTimeoutMs = static_cast<int>(Spin_answerTimeout->value() * 1000 + 0.5);
  m_engine->SetSettings(settings);
  m_outcomes.assign(m_jobs.size(), JobOutcome{});
  for (int row = 0; row < static_cast<int>(m_jobs.size()); ++row) ShowRow(row);
  m_engine->Start(m_jobs);
  UpdateButtons();
}

void ProvisioningPage::ExportReport() {
  Prompts::FileDialog dialog{"Export report", "provisioning.csv", "CSV|*.csv", "csv",
                             m_env.files.StartFolder(FileFolders::Kind::Report)};
  std::optional<std::string> path;
  try {
    path = m_env.prompts->SaveFile(dialog);
  } catch (const Prompts::DialogError& e) {
    Tell(e.what(), Prompts::Icon::Error);
    return;
  }
  if (!path) return;
  std::string error;
  if (!ReplaceFile(*path, ReportCsv(m_jobs, m_outcomes), error)) {
    Tell(error, Prompts::Icon::Error);
    return;
  }
  m_env.files.Saved(FileFolders::Kind::Report, *path, static_cast<int>(m_jobs.size()), "job");
}

void ProvisioningPage::ShowRow(int row) {
  const ProvisionJob& job = m_jobs[static_cast<size_t>(row)];
  const JobOutcome& o = m_outcomes[static_cast<size_t>(row)];
  const auto set = [&](int column, const std::string& text) {
    auto* item = Grid_jobs->item(row, column);
    if (!item) {
      item = new QTableWidgetItem();
      Grid_jobs->setItem(row, column, item);
    }
    item->setText(QString::fromStdString(text));
    item->setToolTip(item->text());
  };
  set(kColId, job.id);
  set(kColWanted, WantedText(job));
  set(kColState, JobStateText(o.state));
  set(kColAttempts, o.attempts ? std::to_string(o.attempts) : std::string());
  set(kColLastAnswer, o.lastAnswer ? ClockText(*o.lastAnswer) : std::string());
  set(kColDiffers, DiffersText(o.differs));
}

void ProvisioningPage::UpdateButtons() {
  const bool running = m_engine->Running();
  Button_addRepeater->setEnabled(!running);
  Button_importJobs->setEnabled(!running);
  Button_clearJobs->setEnabled(!running);
  Button_start->setEnabled(!running && !m_jobs.empty());
  Button_stop->setEnabled(running);
  Button_exportReport->setEnabled(!running);
  Spin_attempts->setEnabled(!running);
  Spin_answerTimeout->setEnabled(!running);
}
