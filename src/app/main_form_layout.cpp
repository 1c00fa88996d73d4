// How the main window is put together: its page, the panels, the bottom
// splitters, the menus and the Tab order.
#include "main_form.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "about_form.h"
#include "command_strip.h"
#include "form_widgets.h"
#include "log_memo.h"
#include "meter_id_list.h"
#include "parameter_group.h"
#include "provisioning_page.h"
#include "repeater_answer.h"
#include "repeater_commands.h"
#include "serial_command_port.h"
#include "settings_window.h"
#include "survey_page.h"
#include "telegram_decoder.h"
#include "telegram_table_panel.h"
#include "up_down.h"

void TForm1::BuildPage() {
  PageControl1 = Named(new QTabWidget(this), "PageControl1");
  TabSheet1 = Named(new QWidget(PageControl1), "TabSheet1");
  PageControl1->addTab(TabSheet1, QStringLiteral("   Repeater configuration   "));
  PageControl1->setFont(ControlFont());
  auto* row = new QHBoxLayout(TabSheet1);
  row->setContentsMargins(2, 2, 2, 2);
  row->setSpacing(4);

  m_group = new ParameterGroup(TabSheet1);
  row->addWidget(m_group, 0);
  m_meterPanel = new MeterIdList(TabSheet1);
  row->addWidget(m_meterPanel, 0);
  m_tablePanel = new TelegramTablePanel(FileEnv(), TabSheet1);
  row->addWidget(m_tablePanel, 1);

  m_surveyPage = new SurveyPage(FileEnv(), PageControl1);
  PageControl1->addTab(m_surveyPage, QStringLiteral("Meter survey"));

  connect(m_meterPanel, &MeterIdList::ExportRequested, this, &TForm1::Exportlist1Click);
  connect(m_meterPanel->Importfromfile1, &QAction::triggered, this, &TForm1::Importfromfile1Click);
  connect(m_tablePanel, &TelegramTablePanel::Changed, this, [this] { DrawSignalChart(kColRssi); });

  ProvisioningEnv provisioning{m_env.prompts, m_env.clock,
                               [this](CommandKind kind, const CommandControls& c) {
                                 if (m_commands) m_commands->Run(kind, c);
                               },
                               [this] { return CommandSnapshot(); }, FileEnv()};
  m_provisioning = new ProvisioningPage(std::move(provisioning), PageControl1);
  PageControl1->addTab(m_provisioning, QStringLiteral("Provisioning"));
}

TableFileEnv TForm1::FileEnv() {
  // The log window is made after the page: looked up at the moment of use.
  return TableFileEnv{m_env.prompts, m_logs.get(), [this] { return m_separator(); },
                      [this](std::string_view line) { Memo_log->AppendLine(line); }, &m_folders};
}

void TForm1::BuildBottom(QWidget* parent, QVBoxLayout* layout) {
  Memo_log = MakeLogWindow(parent);
  m_chart = new SignalChartView(
      Table(), [this](const std::string& line) { Memo_log->AppendLine(std::string_view(line)); }, parent);
  Splitter_logChart = Named(new QSplitter(Qt::Horizontal, parent), "Splitter_logChart");
  Splitter_logChart->addWidget(Memo_log);
  Splitter_logChart->addWidget(m_chart);
  Splitter_logChart->setStretchFactor(0, 3);
  Splitter_logChart->setStretchFactor(1, 2);
  Splitter_logChart->setSizes({3000, 2000});
  // Room for some log lines and for the chart's bars at the smallest window.
  Splitter_logChart->setMinimumHeight(110);
  // The tab and the log share the height the window gains: the telegram
  // table gets rows as the log gets lines.
  Splitter_tableLog = Named(new QSplitter(Qt::Vertical, parent), "Splitter_tableLog");
  Splitter_tableLog->addWidget(PageControl1);
  Splitter_tableLog->addWidget(Splitter_logChart);
  Splitter_tableLog->setStretchFactor(0, 1);
  Splitter_tableLog->setStretchFactor(1, 1);
  for (QSplitter* s : {Splitter_tableLog, Splitter_logChart}) s->setChildrenCollapsible(false);
  layout->addWidget(Splitter_tableLog, 1);
}

void TForm1::RestoreSplitters() {
  // Sizes beyond the splitter are cut to it; the minimum sizes of the parts win.
  const auto place = [](QSplitter* splitter, int first) {
    if (first < 0) return;
    const QList<int> sizes = splitter->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    if (total <= 0) return;
    first = std::min(first, total);
    splitter->setSizes({first, total - first});
  };
  place(Splitter_tableLog, m_iniLoaded.tableHeight);
  place(Splitter_logChart, m_iniLoaded.logWidth);
}

void TForm1::AdoptControls() {
  static_cast<CommandStripControls&>(*this) = *m_strip;
  GroupBox1 = m_group;
  static_cast<ParameterGroupControls&>(*this) = *m_group;
  static_cast<MeterIdListControls&>(*this) = *m_meterPanel;
  static_cast<TelegramTableControls&>(*this) = *m_tablePanel;
  Chart_db = m_chart;
  StatusBar1 = m_statusBar;
  Timer_time = m_statusBar->Timer_time;
}

void TForm1::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  File1 = Named(bar->addMenu(QStringLiteral("&File")), "File1");
  Savelogfile1 = Named(File1->addAction(QStringLiteral("&Save log file")), "Savelogfile1");
  Clearlog1 = Named(File1->addAction(QStringLiteral("&Clear log")), "Clearlog1");
  Print1 = Named(File1->addAction(QStringLiteral("&Print table data")), "Print1");
  File1->addSeparator();
  Exit1 = Named(File1->addAction(QStringLiteral("E&xit")), "Exit1");
  File1->setToolTipsVisible(true);
  Print1->setToolTip(QStringLiteral("Kept for compatibility: does nothing"));
  ools1 = Named(bar->addMenu(QStringLiteral("&Tools")), "ools1");
  Settings1 = Named(ools1->addAction(QStringLiteral("&Settings")), "Settings1");
  Help1 = Named(bar->addMenu(QStringLiteral("&Help")), "Help1");
  About1 = Named(Help1->addAction(QStringLiteral("&About")), "About1");
  UserManual1 = Named(Help1->addAction(QStringLiteral("&User Manual")), "UserManual1");

  connect(Savelogfile1, &QAction::triggered, this, &TForm1::Savelogfile1Click);
  connect(Clearlog1, &QAction::triggered, this, &TForm1::Clearlog1Click);
  connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
  connect(Settings1, &QAction::triggered, this, &TForm1::Settings1Click);
  connect(About1, &QAction::triggered, this, &TForm1::About1Click);
  connect(UserManual1, &QAction::triggered, this, &TForm1::UserManual1Click);

  // F10 opens the first menu, as on the desktops the operators know.
  auto* menuKey = new QAction(this);
  menuKey->setObjectName(QStringLiteral("MenuKey"));
  menuKey->setShortcut(QKeySequence(Qt::Key_F10));
  menuKey->setShortcutContext(Qt::WindowShortcut);
  addAction(menuKey);
  connect(menuKey, &QAction::triggered, this, [this] { menuBar()->setActiveAction(File1->menuAction()); });
}

void TForm1::SetTabOrder() {
  // Reading order: the strip, the tab, the parameters row by row, the meter
  // ID list, the telegram table with its buttons, the log.
  QWidget* order[] = {Edit_repeaterID,
                      BitBtn2,
                      Check_bmt,
                      Edit_newID,
                      BitBtn9,
                      Button1,
                      Edit_send_command,
                      PageControl1,
                      BitBtn1,
                      Check_onClock,
                      Edit1,
                      Button5,
                      Edit_rxtime,
                      Button2,
                      Edit_rxstarttime,
                      BitBtn5,
                      Button3,
                      Combo_wirelessMode,
                      Button4,
                      CheckBox2,
                      Edit_flag,
                      BitBtn8,
                      Check_onlyRepeater,
                      StringGrid1,
                      Grid_values,
                      BitBtn7,
                      Check_noNew,
                      BitBtn6,
                      Memo_log};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}
