#pragma once
// The "Provisioning" page: a table of jobs (repeater and wanted settings)
// that the provisioning engine runs one after another, with their state,
// attempts, the time of the last answer and what differs. The page only
// shows the engine's results; the engine sends through the window's own
// commands and gets the answers from the window's receive path.

#include <QWidget>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "command_frame.h"
#include "local_formats.h"
#include "prompts.h"
#include "provision_engine.h"
#include "telegram_table_panel.h"

class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

struct ProvisioningEnv {
  Prompts* prompts = nullptr;    // required
  const Clock* clock = nullptr;  // required
  // One command as its Set button sends it.
  ProvisionEngine::SendFn send;
  // The main window's controls now: the selected repeater and the
  // parameter values "Add selected repeater" takes, BMT and the version.
  std::function<CommandControls()> controls;
  // The report's folder and the log line after it is written (optional).
  TableFileEnv files;
};

class ProvisioningPage : public QWidget {
  Q_OBJECT

 public:
  explicit ProvisioningPage(ProvisioningEnv env, QWidget* parent = nullptr);

  // The IDs the receive path hands in as repeater answers (the running job's).
  std::vector<std::string> AnswerIds() const { return m_engine->AnswerIds(); }
  void RepeaterFrame(std::string_view frame) { m_engine->RepeaterFrame(frame); }

  ProvisionEngine& Engine() { return *m_engine; }
  const std::vector<ProvisionJob>& Jobs() const { return m_jobs; }
  // Adds a job to the table (not while a batch runs); false with a message otherwise.
  bool AddJob(const ProvisionJob& job);

  // The table columns.
  enum Column { kColId, kColWanted, kColState, kColAttempts, kColLastAnswer, kColDiffers, kColumns };

  QTableWidget* Grid_jobs;
  QPushButton* Button_addRepeater;   // "Add selected repeater"
  QPushButton* Button_importJobs;    // "Import jobs"
  QPushButton* Button_start;         // "Start"
  QPushButton* Button_stop;          // "Stop"
  QPushButton* Button_exportReport;  // "Export report"
  QPushButton* Button_clearJobs;     // "Clear jobs"
  QSpinBox* Spin_attempts;
  QDoubleSpinBox* Spin_answerTimeout;

 private:
  void AddSelectedRepeater();
  void ImportJobs();
  void StartBatch();
  void ExportReport();
  void ClearJobs();
  void ShowRow(int row);
  void UpdateButtons();
  void Tell(const std::string& text, Prompts::Icon icon);
  // A field whose text is no number at all.
  void Refuse(const char* what, const std::string& text);

  ProvisioningEnv m_env;
  ProvisionEngine* m_engine;
  std::vector<ProvisionJob> m_jobs;
  std::vector<JobOutcome> m_outcomes;
};
