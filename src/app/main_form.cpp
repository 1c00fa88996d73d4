#include "main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
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

TForm1::TForm1(FormEnv env, QWidget* parent)
    : QMainWindow(parent),
      m_env(std::move(env)),
      m_times(std::make_unique<TimeTexts>(*m_env.clock, m_env.formats)),
      m_logs(std::make_unique<ErrorLogs>(
          m_env.dataFolder.empty() ? m_env.programDir.toStdString() : m_env.dataFolder,
          [this] {
            const LocalTime now = m_times->Now();
            return ErrorLogs::Stamp{m_times->Time(now), m_times->Date(now)};
          },
          *m_env.prompts)),
      m_separator([this] { return m_settings ? m_settings().exportSeparator : std::string(";"); }),
      m_openUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  setObjectName(QStringLiteral("Form1"));
  // The window font is a small one, so that an 8-digit meter ID fits the
  // table's 64-pixel columns; labels and buttons use the larger ControlFont.
  QFont windowFont = font();
  windowFont.setPointSize(8);
  setFont(windowFont);
  setWindowTitle(QString::fromLatin1(kCaption));
  resize(1158, 793);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(6, 2, 6, 0);
  layout->setSpacing(4);
  m_strip = new CommandStrip(central);
  layout->addWidget(m_strip);
  BuildPage();
  BuildBottom(central, layout);
  setCentralWidget(central);
  m_statusBar = new StatusBarClock(*m_times, this);
  setStatusBar(m_statusBar);
  AdoptControls();
  BuildMenus();
  SetTabOrder();
  ConnectCommandButtons();

  m_about = new TForm4(this);

  // Creation: the two ini values; the panels made their grids' titles and defaults.
  MainIniValues& ini = m_iniLoaded;
  if (m_env.ini) ini = m_env.ini->Load();
  Edit_repeaterID->setText(QString::fromStdString(ini.lastRepeater));
  UD_rxtime->SetPosition(ini.setRxTime);

  TelegramContext ctx{*Memo_log, Table(), *m_times, {}, {}, {}, nullptr};
  ctx.repeaterAnswer = [this](std::string_view frame) {
    if (m_repeaterAnswer)
      m_repeaterAnswer(frame);
    else
      DecodeRepeaterAnswer(frame, *Memo_log, *m_times);
    if (m_provisioning) m_provisioning->RepeaterFrame(frame);
  };
  ctx.setStatus = [this](const std::string& text) {
    m_statusBar->SetPanelSoon(0, QString::fromStdString(text));
  };
  ctx.rowWritten = [this](int) { m_chart->MarkStale(); };
  ctx.observer = &m_surveyPage->Survey();
  m_receiver = std::make_unique<ReceiveHandler>(std::move(ctx));

  // Comm1: writes in the calling thread, DTR and RTS off, no flow control
  // (the defaults).
  Comm1 = Named(new TSerialPort(this), "Comm1");
  Comm1->SetDirectWrite(true);
  Comm1->SetWritePriority(tpHigher);
  Comm1->OnRxChar = [this](TCustomSerialPort* sender, int count) { Comm1RxChar(sender, count); };
  m_read = [this](char* dest, int max) { return Comm1->ReadData(dest, max); };
  m_connection = std::make_unique<PortConnection>(
      *Comm1,
      [this] {
        const SettingsSnapshot s = m_settings ? m_settings() : SettingsSnapshot{};
        return PortSettings{s.portName, s.portSpeed, s.portParity, s.reconnect};
      },
      static_cast<PortView&>(*this));
  m_connection->AfterDeviceLost = [this] { m_receiver->DropPending(); };
  m_commPort = std::make_unique<SerialCommandPort<TSerialPort>>(*Comm1);
  SetCommandPort(m_commPort.get(), [this] { return EnsurePortOpen(); });

  connect(m_statusBar, &StatusBarClock::Ticked, this, [this](const ClockTexts& texts) {
    // A label of fixed size repaints alone; one that may change size lays
    // out and repaints the whole page each second. It grows when a text
    // needs more room, which the clock's texts rarely do.
    const QSize wanted = Label_datetime->fontMetrics().size(0, texts.label) +
                         QSize(2 * Label_datetime->margin(), 2 * Label_datetime->margin());
    if (wanted.width() > Label_datetime->maximumWidth() ||
        wanted.height() > Label_datetime->maximumHeight() ||
        Label_datetime->maximumWidth() == QWIDGETSIZE_MAX)
      Label_datetime->setFixedSize(wanted.expandedTo(Label_datetime->minimumSize()));
    Label_datetime->setText(texts.label);
  });
  Timer_time->start();
  Timer_timeTimer();
}

TForm1::~TForm1() {
  // The port goes first: nothing may call back into a half-destroyed window.
  m_commands.reset();
  m_connection.reset();
  Comm1->OnRxChar = nullptr;
  Comm1->OnDeviceLost = nullptr;
  delete Comm1;
}

// --- what the panels keep -----------------------------------------------
StringGrid& TForm1::Table() { return m_tablePanel->Table(); }
StringGrid& TForm1::MeterList() { return m_meterPanel->Grid(); }
int TForm1::SelectedRow() const { return m_tablePanel->SelectedRow(); }
int TForm1::SelectedCol() const { return m_tablePanel->SelectedCol(); }
void TForm1::SetStatusPanel(int panel, const QString& text) { m_statusBar->SetPanel(panel, text); }
QString TForm1::StatusPanel(int panel) const { return m_statusBar->Panel(panel); }
void TForm1::DrawSignalChart(int column) { m_chart->Draw(column); }
void TForm1::Timer_timeTimer() { m_statusBar->Tick(); }
void TForm1::Grid_valuesSelectCell(int col, int row) { m_tablePanel->SelectCell(col, row); }
void TForm1::Importfromfile1Click() { m_tablePanel->ImportFile(); }
void TForm1::Savelogfile1Click() { Memo_log->SaveToFile(FileEnv()); }

void TForm1::Exportlist1Click() {
  // The repeater ID as it stands now, empty or not.
  const TableFileEnv files = FileEnv();
  const std::optional<ExportedFile> file =
      ExportGrid(MeterList(), Edit_repeaterID->text().toStdString() + "_meters.csv", m_separator,
                 *m_env.prompts, *m_logs, {files.StartFolder(FileFolders::Kind::MeterList), {}});
  if (file) files.Saved(FileFolders::Kind::MeterList, file->path, file->rows, "row");
}

void TForm1::Comm1RxChar(QObject* /*sender*/, int count) {
  if (!m_read || count <= 0) return;
  m_receiver->ReceiveEvent(count, m_read, DecodeSnapshot());
  m_chart->ReceiveEventDone();
}

void TForm1::SetSettingsWindow(QWidget* window, std::function<void()> show) {
  m_settingsWindow = window;
  m_showSettings = std::move(show);
}

void TForm1::FormCloseQuery(bool& canClose) {
  canClose =
      m_env.prompts->Confirm("Exit Confirmation", "Are you sure you want to exit?", Prompts::Icon::Warning);
}

void TForm1::FormClose() {
  if (!m_env.ini) return;
  MainIniValues values;
  values.lastRepeater = Edit_repeaterID->text().toStdString();
  UD_rxtime->Commit();
  values.setRxTime = UD_rxtime->Position();
  // A window never shown has no positions of its own: the stored ones stay.
  values.tableHeight = m_shown ? Splitter_tableLog->sizes().value(0) : m_iniLoaded.tableHeight;
  values.logWidth = m_shown ? Splitter_logChart->sizes().value(0) : m_iniLoaded.logWidth;
  if (!m_env.ini->Save(values)) {
    m_env.prompts->Message("Saving settings", "Settings will not be saved, no write permission",
                           Prompts::Icon::Warning);
    if (m_settingsWindow) m_settingsWindow->hide();
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  bool canClose = false;
  FormCloseQuery(canClose);
  if (!canClose) {
    event->ignore();
    return;
  }
  FormClose();
  // The other windows go with the main window.
  if (m_settingsWindow) m_settingsWindow->hide();
  m_about->hide();
  event->accept();
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (m_shown) return;
  m_shown = true;
  RestoreSplitters();
  FormShow();
}

void TForm1::FormShow() { EnsurePortOpen(); }

bool TForm1::EnsurePortOpen() { return m_connection->EnsurePortOpen(); }
void TForm1::TogglePortConnection() { m_connection->TogglePortConnection(); }
bool TForm1::PortOpen() const { return m_connection->PortOpen(); }

void TForm1::AppendLog(const std::string& line) { Memo_log->AppendLine(std::string_view(line)); }
void TForm1::AppendEventLog(const std::string& line) {
  Memo_log->AppendLine(std::string_view(m_times->LinePrefix(m_times->Now()) + line));
}
void TForm1::SetStatusText(const std::string& text) { SetStatusPanel(0, QString::fromStdString(text)); }
TSettings* TForm1::SettingsForm() const { return qobject_cast<TSettings*>(m_settingsWindow); }

void TForm1::SetPortControlsEnabled(bool enabled) {
  if (TSettings* settings = SettingsForm()) settings->SetPortControlsEnabled(enabled);
}
void TForm1::SetConnectCaption(const std::string& caption) {
  if (TSettings* settings = SettingsForm()) settings->SetOpenPortCaption(QString::fromStdString(caption));
}
void TForm1::SetPortName(const std::string& name) {
  if (TSettings* settings = SettingsForm()) settings->SetPortName(QString::fromStdString(name));
}

void TForm1::AttachSettings(TSettings& settings) {
  SetSettingsWindow(&settings, [&settings] { settings.ShowFromMenu(); });
  SetSettingsReader([&settings] { return settings.Snapshot(); });
  SetSeparatorReader([&settings] { return settings.ExportSeparator(); });
  connect(&settings, &TSettings::OpenPortClicked, this, &TForm1::TogglePortConnection);
}

void TForm1::Exit1Click() { close(); }

void TForm1::Settings1Click() {
  if (m_showSettings) m_showSettings();
}

void TForm1::About1Click() { m_about->ShowCentredOn(this); }

QSize StartSize(QSize size, QSize minimum, QSize available) {
  constexpr int kFrame = 8;
  constexpr int kTitleBar = 32;
  const QSize room(available.width() - 2 * kFrame, available.height() - kTitleBar - kFrame);
  return size.boundedTo(room).expandedTo(minimum);
}

QSize RoomOnScreen(QRect geometry, QRect available, const QString& platform) {
  constexpr int kPanel = 48;
  if (platform.startsWith(QLatin1String("wayland")) && available == geometry)
    return {available.width(), available.height() - kPanel};
  return available.size();
}

QString UserManualPath(const QString& programDir) {
  const QString beside = QDir(programDir).filePath(QStringLiteral("UsrManEn.pdf"));
  const QString installed =
      QDir::cleanPath(QDir(programDir).filePath(QStringLiteral("../share/doc/velrpt/UsrManEn.pdf")));
  return !QFileInfo::exists(beside) && QFileInfo::exists(installed) ? installed : beside;
}

void TForm1::UserManual1Click() {
  // The viewer's answer is not examined: a missing file or viewer says nothing.
  m_openUrl(QUrl::fromLocalFile(UserManualPath(m_env.programDir)));
}

void TForm1::Clearlog1Click() { Memo_log->Clear(); }
