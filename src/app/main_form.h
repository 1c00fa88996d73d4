#pragma once
// TForm1, the main window. It is made of panels, each a class of its own:
// the command strip (CommandStrip), "Setting parameters" (ParameterGroup),
// the meter ID list (MeterIdList), the telegram table (TelegramTablePanel),
// the log window (LogMemo), the signal chart (SignalChartView) and the status
// bar with the clock (StatusBarClock). The window creates and lays them out
// and wires them to the libraries; the members below name the panels'
// controls as the operators' documents name them. The window only reads its
// controls into snapshots and shows results; the logic lives in the libraries.

#include <QMainWindow>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <string_view>

#include "command_frame.h"
#include "command_port.h"
#include "command_strip.h"
#include "error_log.h"
#include "local_formats.h"
#include "main_ini.h"
#include "meter_id_list.h"
#include "parameter_group.h"
#include "port_connection.h"
#include "prompts.h"
#include "receive_handler.h"
#include "serial_port.h"
#include "settings_store.h"
#include "signal_chart_view.h"
#include "status_bar_clock.h"
#include "string_grid.h"
#include "telegram_table_panel.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTableView;
class QTimer;
class QWidget;
class LogMemo;
class ProvisioningPage;
class RepeaterCommands;
class SurveyPage;
class TForm4;
class TSettings;
class UpDown;

// What the main window needs from the program around it.
struct FormEnv {
  Prompts* prompts = nullptr;    // required
  const Clock* clock = nullptr;  // required
  LocalFormats formats = LocalFormats::System();
  QString programDir;           // user manual
  MainIniStore* ini = nullptr;  // null: defaults, nothing saved
  // Holds the log folder "files"; empty: the program's folder.
  std::string dataFolder;
};

// "UsrManEn.pdf" beside the program, else in the documentation folder of an
// installed PREFIX/bin (PREFIX/share/doc/velrpt); the first path when neither exists.
QString UserManualPath(const QString& programDir);

// The main window's size at start on a screen with `available` room: its
// own size, made smaller where the screen is (leaving room for the title
// bar and frame), never below `minimum`.
QSize StartSize(QSize size, QSize minimum, QSize available);

// The room a window has on a screen of `geometry` whose platform reports
// `available` free of the desktop's panels. Wayland reports the whole
// screen, panels included: there a panel's height is left free.
QSize RoomOnScreen(QRect geometry, QRect available, const QString& platform);

// The panels' controls are members of the window too (the *Controls bases),
// under the same names; the window itself adds the page, the log, the chart,
// the status bar, the port and the menus.
class TForm1 : public QMainWindow,
               public CommandStripControls,
               public ParameterGroupControls,
               public MeterIdListControls,
               public TelegramTableControls,
               private PortView {
  Q_OBJECT

 public:
  explicit TForm1(FormEnv env, QWidget* parent = nullptr);
  ~TForm1() override;

  // --- hooks to the other windows and the serial link -------------------
  // The settings window: shown from the menu, read for the port, the CI
  // check and the version; its connect button toggles the port.
  void AttachSettings(TSettings& settings);
  // Settings1Click shows the settings window through this.
  void SetSettingsWindow(QWidget* window, std::function<void()> show);
  // The settings window's controls, read at the moment of use (Check_wrongCI
  // at every receive event, Edit_version at every command).
  void SetSettingsReader(std::function<SettingsSnapshot()> reader) { m_settings = std::move(reader); }
  // Where the repeater commands write, and how they make sure the port is
  // open first. Comm1 with EnsurePortOpen by default; without a port the
  // buttons do nothing.
  void SetCommandPort(CommandPort* port, std::function<bool()> ensurePortOpen);
  // The selected repeater's frames (DecodeRepeaterAnswer).
  void SetRepeaterAnswer(std::function<void(std::string_view frame)> fn) { m_repeaterAnswer = std::move(fn); }
  // Reads the bytes of a receive event (default: Comm1's ReadData).
  void SetPortReader(ReceiveHandler::ReadFn read) { m_read = std::move(read); }
  // Opens a document with the desktop's viewer (tests replace it).
  void SetUrlOpener(std::function<bool(const QUrl&)> open) { m_openUrl = std::move(open); }
  // The export separator as the settings window shows it, asked for every
  // cell (default: Edit_export_separator of the attached settings window).
  void SetSeparatorReader(std::function<std::string()> reader) { m_separator = std::move(reader); }

  // --- the serial link ---------------------------------------------------
  bool EnsurePortOpen();
  void TogglePortConnection();
  bool PortOpen() const;

  // --- state other parts read -------------------------------------------
  StringGrid& Table();
  StringGrid& MeterList();
  int SelectedRow() const;
  int SelectedCol() const;
  TForm4* AboutWindow() const { return m_about; }
  DecodeOptions DecodeSnapshot() const;
  CommandControls CommandSnapshot() const;
  CommandState& Commands() { return m_commandState; }
  ReceiveHandler& Receiver() { return *m_receiver; }
  Prompts& GetPrompts() const { return *m_env.prompts; }
  const TimeTexts& Times() const { return *m_times; }
  // glog.txt and gloge.txt of the data folder.
  ErrorLogs& Logs() { return *m_logs; }

  // Status bar panels: 0 port / last device, 1 last command result, 2 clock.
  void SetStatusPanel(int panel, const QString& text);
  QString StatusPanel(int panel) const;

  // --- handlers ---------------------------------------------------------
  // One receive event of Comm1 with `count` bytes waiting.
  void Comm1RxChar(QObject* sender, int count);
  void DrawSignalChart(int column);
  void Timer_timeTimer();
  void Grid_valuesSelectCell(int col, int row);
  void Exportlist1Click();
  void Importfromfile1Click();
  void Savelogfile1Click();
  void FormCloseQuery(bool& canClose);
  void FormClose();
  void Exit1Click();
  void Settings1Click();
  void About1Click();
  void UserManual1Click();
  void Clearlog1Click();
  // The repeater command buttons.
  void BitBtn1Click();
  void BitBtn2Click();
  void BitBtn5Click();
  void BitBtn8Click();
  void BitBtn9Click();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();

  // --- controls, named as the operators' documents name them -----------
  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QGroupBox* GroupBox1;
  // Between the tab (with the telegram table) and the log, and between the
  // log and the chart; their positions are kept in the ini file.
  QSplitter* Splitter_tableLog;
  QSplitter* Splitter_logChart;
  LogMemo* Memo_log;
  SignalChartView* Chart_db;
  QStatusBar* StatusBar1;
  QTimer* Timer_time;
  TSerialPort* Comm1;

  QMenu* File1;
  QAction* Savelogfile1;
  QAction* Clearlog1;
  QAction* Print1;
  QAction* Exit1;
  QMenu* ools1;
  QAction* Settings1;
  QMenu* Help1;
  QAction* About1;
  QAction* UserManual1;

  static constexpr const char* kCaption = "Velmora battery repeater configuration program";

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildPage();
  void BuildBottom(QWidget* parent, class QVBoxLayout* layout);
  // The splitters where the ini file put them, kept inside the window.
  void RestoreSplitters();
  void BuildMenus();
  void SetTabOrder();
  // The panels' controls as the window's own members, under their names.
  void AdoptControls();
  void FormShow();
  // PortView: what the port connection shows.
  void AppendLog(const std::string& line) override;
  void AppendEventLog(const std::string& line) override;
  void SetStatusText(const std::string& text) override;
  void SetPortControlsEnabled(bool enabled) override;
  void SetConnectCaption(const std::string& caption) override;
  void SetPortName(const std::string& name) override;
  void ConnectCommandButtons();
  template <class Fn>
  void RunCommand(Fn fn);

  // What the file commands need: dialogs, logs, separator, log window, folders.
  TableFileEnv FileEnv();

  FormEnv m_env;
  FileFolders m_folders{m_env.ini};
  std::unique_ptr<TimeTexts> m_times;
  std::unique_ptr<ErrorLogs> m_logs;
  CommandStrip* m_strip = nullptr;
  ParameterGroup* m_group = nullptr;
  ProvisioningPage* m_provisioning = nullptr;  // the "Provisioning" page
  MeterIdList* m_meterPanel = nullptr;
  TelegramTablePanel* m_tablePanel = nullptr;
  SurveyPage* m_surveyPage = nullptr;  // "Meter survey"
  SignalChartView* m_chart = nullptr;
  StatusBarClock* m_statusBar = nullptr;
  std::unique_ptr<ReceiveHandler> m_receiver;
  CommandState m_commandState;
  std::unique_ptr<RepeaterCommands> m_commands;
  std::unique_ptr<PortConnection> m_connection;
  std::unique_ptr<CommandPort> m_commPort;
  bool m_shown = false;
  unsigned m_commandResults = 0;  // results shown in status panel 1
  MainIniValues m_iniLoaded;      // as read at creation

  TForm4* m_about = nullptr;
  QWidget* m_settingsWindow = nullptr;
  // The settings window when it is the real one (tests attach a stand-in).
  TSettings* SettingsForm() const;

  std::function<void()> m_showSettings;
  std::function<SettingsSnapshot()> m_settings;
  std::function<std::string()> m_separator;
  std::function<void(std::string_view)> m_repeaterAnswer;
  ReceiveHandler::ReadFn m_read;
  std::function<bool(const QUrl&)> m_openUrl;
};
