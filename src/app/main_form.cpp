#include "main_form.h"

#include <QAction>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <exception>

#include "about_form.h"
#include "grid_files.h"
#include "grid_views.h"
#include "key_filters.h"
#include "log_memo.h"
#include "repeater_answer.h"
#include "repeater_commands.h"
#include "serial_command_port.h"
#include "settings_window.h"
#include "signal_chart.h"
#include "string_grid_model.h"
#include "telegram_decoder.h"
#include "text_files.h"
#include "up_down.h"

namespace {

// Linux stand-ins for the fonts the window was laid out with.
QFont ControlFont() {
  QFont f(
      QStringList{QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  f.setPointSize(10);
  return f;
}

QFont BmtFont() {
  QFont f(QStringList{QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
  f.setPointSize(10);
  return f;
}

template <class W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = Named(new QLabel(text, parent), name);
  label->setFont(ControlFont());
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
  auto* button = Named(new QPushButton(text, parent), name);
  button->setFont(ControlFont());
  return button;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& text) {
  auto* check = Named(new QCheckBox(text, parent), name);
  check->setFont(ControlFont());
  return check;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text, int maxLength, int width) {
  auto* edit = Named(new QLineEdit(text, parent), name);
  if (maxLength > 0) edit->setMaxLength(maxLength);
  if (width > 0) edit->setFixedWidth(width);
  return edit;
}

// The grids keep the small window font inside the larger-font page.
QFont GridFont() {
  QFont f(QStringList{QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
  f.setPointSize(8);
  return f;
}

void SetupGridView(QTableView* view, int rowHeight) {
  view->setFont(GridFont());
  view->horizontalHeader()->setFont(GridFont());
  view->verticalHeader()->hide();
  view->verticalHeader()->setDefaultSectionSize(rowHeight);
  view->verticalHeader()->setMinimumSectionSize(rowHeight);
  view->horizontalHeader()->setHighlightSections(false);
  view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  view->setWordWrap(false);
}

const QColor kBarRed(255, 0, 0);

// The receive path redraws the chart at most this often.
constexpr qint64 kChartIntervalMs = 100;
// Up to this many changed bars are replaced one by one, more refill the set.
constexpr size_t kFewBars = 4;

bool IsExportListKey(int key, Qt::KeyboardModifiers shift) {
  return key == Qt::Key_E && (shift & Qt::ControlModifier);
}

const char kImportFailed[] = "Error importing from selected file...";
const char kLogFileErrorCaption[] = "File Error";
const char kLogFileError[] = "Error saving log file!\nContact administrator!";

}  // namespace

ClockTexts MakeClockTexts(const TimeTexts& times) {
  const LocalTime now = times.Now();
  const QString date = QString::fromStdString(times.Date(now));
  const QString time = QString::fromStdString(times.Time(now));
  return {QStringLiteral("        ") + time + QStringLiteral(", ") + date, date + QLatin1Char(' ') + time};
}

QStringList ChartCategories(const QStringList& labels) {
  QStringList out;
  out.reserve(labels.size());
  QSet<QString> used;
  for (QString label : labels) {
    if (label.isEmpty()) label = QStringLiteral(" ");
    while (used.contains(label)) label.append(QChar(0x200B));
    used.insert(label);
    out.append(label);
  }
  return out;
}

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
      m_table(MakeTelegramTable()),
      m_meterList(4, 2),
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
  layout->setContentsMargins(6, 4, 6, 2);
  layout->setSpacing(4);
  BuildTopStrip(central, layout);
  BuildPage();
  layout->addWidget(PageControl1, 0);
  BuildBottom(central, layout);
  setCentralWidget(central);
  BuildMenus();
  BuildStatusBar();
  InstallKeyFilters();
  ConnectCommandButtons();

  m_about = new TForm4(this);

  // Creation: the two ini values, the grids' titles, the defaults.
  MainIniValues ini;
  if (m_env.ini) ini = m_env.ini->Load();
  Edit_repeaterID->setText(QString::fromStdString(ini.lastRepeater));
  UD_rxtime->SetPosition(ini.setRxTime);
  m_selectedRow = 1;
  const char* meterTitles[] = {"No.", "Serial ID", "Note ", "Time "};
  for (int c = 0; c < 4; ++c) m_meterList.SetCell(c, 0, meterTitles[c]);
  Check_onlyRepeater->setChecked(true);

  TelegramContext ctx{*Memo_log, m_table, *m_times, {}, {}, {}, nullptr};
  ctx.repeaterAnswer = [this](std::string_view frame) {
    if (m_repeaterAnswer)
      m_repeaterAnswer(frame);
    else
      DecodeRepeaterAnswer(frame, *Memo_log, *m_times);
  };
  ctx.setStatus = [this](const std::string& text) { SetStatusPanel(0, QString::fromStdString(text)); };
  // Redrawing the chart lays out every bar again, which with a thousand
  // meters costs more than decoding the telegrams: the receive path draws it
  // at the end of a receive event, and at line rate no more often than every
  // kChartIntervalMs (a timer draws what came in meanwhile).
  ctx.rowWritten = [this](int) { m_chartDirty = true; };
  m_chartTimer = new QTimer(this);
  m_chartTimer->setSingleShot(true);
  connect(m_chartTimer, &QTimer::timeout, this, [this] {
    if (m_chartDirty) DrawSignalChart(kColRssi);
  });
  m_receiver = std::make_unique<ReceiveHandler>(std::move(ctx));

  // Comm1 as the window has always configured it: writes in the calling
  // thread, DTR and RTS off, no flow control (the defaults).
  Comm1 = Named(new TSerialPort(this), "Comm1");
  Comm1->SetDirectWrite(true);
  Comm1->SetWritePriority(tpHigher);
  Comm1->OnRxChar = [this](TCustomSerialPort* sender, int count) { Comm1RxChar(sender, count); };
  m_read = [this](char* dest, int max) { return Comm1->ReadData(dest, max); };
  m_connection = std::make_unique<PortConnection>(
      *Comm1,
      [this] {
        const SettingsSnapshot s = m_settings ? m_settings() : SettingsSnapshot{};
        return PortSettings{s.portName, s.portSpeed, s.portParity};
      },
      static_cast<PortView&>(*this));
  m_commPort = std::make_unique<SerialCommandPort<TSerialPort>>(*Comm1);
  SetCommandPort(m_commPort.get(), [this] { return EnsurePortOpen(); });

  Timer_time = Named(new QTimer(this), "Timer_time");
  Timer_time->setInterval(1000);
  connect(Timer_time, &QTimer::timeout, this, &TForm1::Timer_timeTimer);
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
  // The models detach from the grids before the grids go.
  delete Grid_values->model();
  delete StringGrid1->model();
}

void TForm1::BuildTopStrip(QWidget* parent, QVBoxLayout* layout) {
  auto* row1 = new QHBoxLayout();
  Label2 = MakeLabel(parent, "Label2", QStringLiteral("Enter REPEATER ID to work with"));
  Edit_repeaterID = MakeEdit(parent, "Edit_repeaterID", QString(), 8, 96);
  Edit_repeaterID->setFont(ControlFont());
  BitBtn2 = MakeButton(parent, "BitBtn2", QStringLiteral("Set in Korvex"));
  Check_bmt = Named(new QCheckBox(QStringLiteral("BMT"), parent), "Check_bmt");
  Check_bmt->setFont(BmtFont());
  Label10 = MakeLabel(parent, "Label10", QStringLiteral("Change repeater ID"));
  Edit_newID = MakeEdit(parent, "Edit_newID", QString(), 8, 96);
  Edit_newID->setFont(ControlFont());
  BitBtn9 = MakeButton(parent, "BitBtn9", QStringLiteral("Set"));
  row1->addWidget(Label2);
  row1->addWidget(Edit_repeaterID);
  row1->addWidget(BitBtn2);
  row1->addSpacing(8);
  row1->addWidget(Check_bmt);
  row1->addSpacing(40);
  row1->addWidget(Label10);
  row1->addWidget(Edit_newID);
  row1->addWidget(BitBtn9);
  row1->addStretch();
  layout->addLayout(row1);

  auto* row2 = new QHBoxLayout();
  Button1 = MakeButton(parent, "Button1", QStringLiteral("Send custom HEX data"));
  Label3 = MakeLabel(parent, "Label3", QStringLiteral("Enter only data part to be sent, in HEX"));
  Edit_send_command = MakeEdit(parent, "Edit_send_command", QString(), 64, 0);
  Edit_send_command->setFont(ControlFont());
  row2->addWidget(Button1);
  row2->addWidget(Label3);
  row2->addWidget(Edit_send_command, 1);
  layout->addLayout(row2);
}

void TForm1::BuildGroupBox() {
  GroupBox1 = Named(new QGroupBox(QStringLiteral("   Setting parameters   "), TabSheet1), "GroupBox1");
  GroupBox1->setFont(ControlFont());
  QWidget* g = GroupBox1;
  auto* grid = new QGridLayout(GroupBox1);
  grid->setVerticalSpacing(3);
  grid->setHorizontalSpacing(6);

  auto spinPair = [g](QLineEdit* edit, UpDown* spin) {
    auto* box = new QWidget(g);
    auto* h = new QHBoxLayout(box);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(0);
    h->addWidget(edit);
    h->addWidget(spin);
    h->addStretch();
    spin->SetBuddy(edit);
    return box;
  };

  Label_datetime = MakeLabel(g, "Label_datetime", QString());
  BitBtn1 = MakeButton(g, "BitBtn1", QStringLiteral("Set datetime"));
  grid->addWidget(Label_datetime, 0, 0, 1, 2);
  grid->addWidget(BitBtn1, 0, 2);

  Label5 = MakeLabel(g, "Label5", QStringLiteral("Calibrate clock"));
  Check_onClock = MakeCheck(g, "Check_onClock", QStringLiteral("On/Off"));
  Edit1 = MakeEdit(g, "Edit1", QString(), 0, 56);
  Button5 = MakeButton(g, "Button5", QStringLiteral("Set"));
  auto* calib = new QWidget(g);
  auto* calibRow = new QHBoxLayout(calib);
  calibRow->setContentsMargins(0, 0, 0, 0);
  calibRow->addWidget(Check_onClock);
  calibRow->addWidget(Edit1);
  calibRow->addStretch();
  grid->addWidget(Label5, 1, 0);
  grid->addWidget(calib, 1, 1);
  grid->addWidget(Button5, 1, 2);

  Label1 = MakeLabel(g, "Label1", QStringLiteral("RX hours:"));
  Edit_rxtime = MakeEdit(g, "Edit_rxtime", QStringLiteral("1"), 0, 40);
  UD_rxtime = Named(new UpDown(1, 6, 1, g), "UD_rxtime");
  Button2 = MakeButton(g, "Button2", QStringLiteral("Set"));
  grid->addWidget(Label1, 2, 0);
  grid->addWidget(spinPair(Edit_rxtime, UD_rxtime), 2, 1);
  grid->addWidget(Button2, 2, 2);

  Label9 = MakeLabel(g, "Label9", QStringLiteral("RX start hour (0-23)"));
  Edit_rxstarttime = MakeEdit(g, "Edit_rxstarttime", QStringLiteral("1"), 2, 40);
  Edit_rxstarttime->setReadOnly(true);
  UD_rxstarttime = Named(new UpDown(0, 23, 1, g), "UD_rxstarttime");
  BitBtn5 = MakeButton(g, "BitBtn5", QStringLiteral("Set"));
  grid->addWidget(Label9, 3, 0);
  grid->addWidget(spinPair(Edit_rxstarttime, UD_rxstarttime), 3, 1);
  grid->addWidget(BitBtn5, 3, 2);

  Button3 = MakeButton(g, "Button3", QStringLiteral("Set both Start and Operating time"));
  grid->addWidget(Button3, 4, 0, 1, 3);

  Label4 = MakeLabel(g, "Label4", QStringLiteral("Wireless mode"));
  Combo_wirelessMode = Named(new QComboBox(g), "Combo_wirelessMode");
  Combo_wirelessMode->addItems({QStringLiteral("Mode T+C"), QStringLiteral("Mode T"),
                                QStringLiteral("Mode S"), QStringLiteral("Mode C")});
  Combo_wirelessMode->setCurrentIndex(0);
  Button4 = MakeButton(g, "Button4", QStringLiteral("Set"));
  grid->addWidget(Label4, 5, 0);
  grid->addWidget(Combo_wirelessMode, 5, 1);
  grid->addWidget(Button4, 5, 2);

  CheckBox2 = MakeCheck(g, "CheckBox2", QStringLiteral("Set/Clear flag"));
  Edit_flag = MakeEdit(g, "Edit_flag", QStringLiteral("1"), 2, 40);
  BitBtn8 = MakeButton(g, "BitBtn8", QStringLiteral("Set"));
  grid->addWidget(CheckBox2, 6, 0);
  grid->addWidget(Edit_flag, 6, 1);
  grid->addWidget(BitBtn8, 6, 2);

  Label11 = MakeLabel(g, "Label11", QStringLiteral("1 - Auto mode (always ON) "));
  Label6 = MakeLabel(g, "Label6", QStringLiteral("3 - Clock Debug (service)"));
  Label12 = MakeLabel(g, "Label12", QStringLiteral("33 - put in Sleep"));
  grid->addWidget(Label11, 7, 0, 1, 3);
  grid->addWidget(Label6, 8, 0, 1, 3);
  grid->addWidget(Label12, 9, 0, 1, 3);
  grid->setRowStretch(10, 1);
}

void TForm1::BuildPage() {
  PageControl1 = Named(new QTabWidget(this), "PageControl1");
  TabSheet1 = Named(new QWidget(PageControl1), "TabSheet1");
  PageControl1->addTab(TabSheet1, QStringLiteral("   Repeater configuration   "));
  PageControl1->setFont(ControlFont());
  auto* row = new QHBoxLayout(TabSheet1);
  row->setContentsMargins(4, 4, 4, 4);

  BuildGroupBox();
  row->addWidget(GroupBox1, 0);

  auto* middle = new QVBoxLayout();
  Label7 = MakeLabel(TabSheet1, "Label7", QStringLiteral("Repeater ID"));
  Check_onlyRepeater = MakeCheck(TabSheet1, "Check_onlyRepeater", QStringLiteral("Show only service data"));
  StringGrid1 = Named(new QTableView(TabSheet1), "StringGrid1");
  m_meterModel = new StringGridModel(m_meterList, /*editable=*/true);
  StringGrid1->setModel(m_meterModel);
  SetupGridView(StringGrid1, 18);
  const int meterWidths[] = {41, 67, 79, 64};
  for (int c = 0; c < 4; ++c) StringGrid1->setColumnWidth(c, meterWidths[c]);
  StringGrid1->setFixedWidth(41 + 67 + 79 + 64 + 2 * StringGrid1->frameWidth() + 18);
  const GridKeyHandler meterKeys = [this](int key, Qt::KeyboardModifiers shift) {
    return StringGrid1KeyDown(key, shift);
  };
  new GridKeyFilter(StringGrid1, meterKeys);
  StringGrid1->setItemDelegate(new EditorKeyDelegate(meterKeys, &IsExportListKey, StringGrid1));
  BuildPopupGrid();
  middle->addWidget(Label7);
  middle->addWidget(Check_onlyRepeater);
  middle->addWidget(StringGrid1, 1);
  row->addLayout(middle, 0);

  auto* right = new QVBoxLayout();
  Label8 = MakeLabel(TabSheet1, "Label8", QStringLiteral("Table for real-time repeated meters"));
  Check_noNew = MakeCheck(TabSheet1, "Check_noNew", QStringLiteral("Do not add new"));
  Grid_values = Named(new QTableView(TabSheet1), "Grid_values");
  m_tableModel = new StringGridModel(m_table, /*editable=*/false);
  Grid_values->setModel(m_tableModel);
  SetupGridView(Grid_values, 18);
  Grid_values->setSelectionBehavior(QAbstractItemView::SelectRows);
  Grid_values->setSelectionMode(QAbstractItemView::ExtendedSelection);
  Grid_values->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grid_values->setColumnWidth(0, 38);
  for (int c = 1; c < kTableColumns; ++c) Grid_values->setColumnWidth(c, 64);
  connect(Grid_values->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            if (current.isValid()) Grid_valuesSelectCell(current.column(), current.row() + 1);
          });
  Grid_values->setItemDelegate(new TableCellDelegate([this] { return m_selectedRow; }, Grid_values));
  new GridKeyFilter(Grid_values,
                    [this](int key, Qt::KeyboardModifiers shift) { return Grid_valuesKeyDown(key, shift); });
  auto* buttons = new QHBoxLayout();
  BitBtn7 = MakeButton(TabSheet1, "BitBtn7", QStringLiteral("Export to csv"));
  BitBtn6 = MakeButton(TabSheet1, "BitBtn6", QStringLiteral("Clear"));
  buttons->addWidget(BitBtn7);
  buttons->addStretch();
  buttons->addWidget(BitBtn6);
  connect(BitBtn6, &QPushButton::clicked, this, &TForm1::BitBtn6Click);
  connect(BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);
  auto* header = new QHBoxLayout();
  header->addWidget(Label8);
  header->addStretch();
  header->addWidget(Check_noNew);
  right->addLayout(header);
  right->addWidget(Grid_values, 1);
  right->addLayout(buttons);
  row->addLayout(right, 1);
}

void TForm1::BuildPopupGrid() {
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
  connect(Exportlist1, &QAction::triggered, this, &TForm1::Exportlist1Click);
  connect(Importfromfile1, &QAction::triggered, this, &TForm1::Importfromfile1Click);
  connect(Cleartable1, &QAction::triggered, this, &TForm1::Cleartable1Click);

  StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(StringGrid1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupGrid->popup(StringGrid1->viewport()->mapToGlobal(pos)); });
}

void TForm1::BuildChart() {
  m_chart = new QChart();
  m_chart->setTitle(QStringLiteral("Signal Strength in dBm"));
  m_chart->legend()->hide();
  m_chart->setMargins(QMargins(0, 0, 0, 5));
  m_chart->setBackgroundRoundness(0);

  Series1 = new QBarSeries();
  Series1->setObjectName(QStringLiteral("Series1"));
  Series1->setBarWidth(0.1);
  Series1->setLabelsVisible(false);
  // Every bar is drawn pure red; Qt Charts has one colour per set, so one
  // set carries all of them.
  m_barSet = new QBarSet(QString());
  m_barSet->setColor(kBarRed);
  m_barSet->setBorderColor(kBarRed);
  Series1->append(m_barSet);
  m_chart->addSeries(Series1);

  m_axisX = new QBarCategoryAxis();
  m_axisX->setLabelsAngle(-90);
  m_chart->addAxis(m_axisX, Qt::AlignBottom);
  Series1->attachAxis(m_axisX);

  m_axisY = new QValueAxis();
  m_axisY->setRange(20, 150);
  // Round steps from the fixed minimum rather than five equal parts of 130.
  m_axisY->setTickType(QValueAxis::TicksDynamic);
  m_axisY->setTickAnchor(20);
  m_axisY->setTickInterval(10);
  m_axisY->setLabelFormat(QStringLiteral("%d"));
  m_axisY->setTitleText(QStringLiteral("dBm"));
  QFont titleFont = m_axisY->titleFont();
  titleFont.setBold(true);
  titleFont.setStretch(QFont::SemiCondensed);
  m_axisY->setTitleFont(titleFont);
  m_chart->addAxis(m_axisY, Qt::AlignLeft);
  Series1->attachAxis(m_axisY);

  Chart_db = Named(new QChartView(m_chart), "Chart_db");
  Chart_db->setRenderHint(QPainter::Antialiasing, false);
}

void TForm1::BuildBottom(QWidget* parent, QVBoxLayout* layout) {
  auto* row = new QHBoxLayout();
  Memo_log = Named(new LogMemo(parent), "Memo_log");
  QFont mono(QStringList{QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
  mono.setPointSize(9);
  Memo_log->setFont(mono);
  BuildChart();
  Chart_db->setParent(parent);
  row->addWidget(Memo_log, 3);
  row->addWidget(Chart_db, 2);
  layout->addLayout(row, 1);
}

void TForm1::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  File1 = Named(bar->addMenu(QStringLiteral("File")), "File1");
  Savelogfile1 = Named(File1->addAction(QStringLiteral("Save log file")), "Savelogfile1");
  Clearlog1 = Named(File1->addAction(QStringLiteral("Clear log")), "Clearlog1");
  Print1 = Named(File1->addAction(QStringLiteral("Print table data")), "Print1");
  File1->addSeparator();
  Exit1 = Named(File1->addAction(QStringLiteral("Exit")), "Exit1");
  ools1 = Named(bar->addMenu(QStringLiteral("Tools")), "ools1");
  Settings1 = Named(ools1->addAction(QStringLiteral("Settings")), "Settings1");
  Help1 = Named(bar->addMenu(QStringLiteral("Help")), "Help1");
  About1 = Named(Help1->addAction(QStringLiteral("About")), "About1");
  UserManual1 = Named(Help1->addAction(QStringLiteral("User Manual")), "UserManual1");

  connect(Savelogfile1, &QAction::triggered, this, &TForm1::Savelogfile1Click);
  connect(Clearlog1, &QAction::triggered, this, &TForm1::Clearlog1Click);
  connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
  connect(Settings1, &QAction::triggered, this, &TForm1::Settings1Click);
  connect(About1, &QAction::triggered, this, &TForm1::About1Click);
  connect(UserManual1, &QAction::triggered, this, &TForm1::UserManual1Click);
}

void TForm1::BuildStatusBar() {
  StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
  StatusBar1->setSizeGripEnabled(true);
  const int widths[] = {300, 500, 0};
  for (int i = 0; i < 3; ++i) {
    auto* panel = new QLabel(StatusBar1);
    panel->setObjectName(QStringLiteral("StatusBar1_Panel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if (widths[i] > 0) panel->setFixedWidth(widths[i]);
    StatusBar1->addWidget(panel, widths[i] > 0 ? 0 : 1);
    m_panels[i] = panel;
  }
  setStatusBar(StatusBar1);
}

void TForm1::InstallKeyFilters() {
  for (QLineEdit* edit : {Edit_repeaterID, Edit_newID, Edit_rxtime, Edit_rxstarttime, Edit1})
    new DigitKeyFilter(edit);
  // Edit_flag: the text before the key decides; a value that cannot grow
  // into a flag number (1..32) is replaced by the typed digit.
  new DigitKeyFilter(Edit_flag, [](QLineEdit& edit, char) {
    if (FlagTextMustRestart(edit.text())) edit.clear();
  });
}

void TForm1::SetSettingsWindow(QWidget* window, std::function<void()> show) {
  m_settingsWindow = window;
  m_showSettings = std::move(show);
}

void TForm1::SetStatusPanel(int panel, const QString& text) {
  if (panel >= 0 && panel < 3) m_panels[panel]->setText(text);
}

QString TForm1::StatusPanel(int panel) const {
  return panel >= 0 && panel < 3 ? m_panels[panel]->text() : QString();
}

DecodeOptions TForm1::DecodeSnapshot() const {
  DecodeOptions o;
  o.discardWrongCI = m_settings ? m_settings().discardWrongCI : true;
  o.onlyRepeater = Check_onlyRepeater->isChecked();
  o.repeaterId = Edit_repeaterID->text().toStdString();
  o.newId = Edit_newID->text().toStdString();
  o.noNew = Check_noNew->isChecked();
  return o;
}

CommandControls TForm1::CommandSnapshot() const {
  CommandControls c;
  c.repeaterId = Edit_repeaterID->text().toStdString();
  c.bmt = Check_bmt->isChecked();
  if (m_settings) c.version = m_settings().version;
  c.rxStartHour = UD_rxstarttime->Position();
  c.rxHours = UD_rxtime->Position();
  c.flag = Edit_flag->text().toStdString();
  c.flagSet = CheckBox2->isChecked();
  c.calibration = Edit1->text().toStdString();
  c.calibrationOn = Check_onClock->isChecked();
  c.wirelessMode = Combo_wirelessMode->currentText().toStdString();
  c.newId = Edit_newID->text().toStdString();
  c.customCommand = Edit_send_command->text().toStdString();
  return c;
}

void TForm1::SetCommandPort(CommandPort* port, std::function<bool()> ensurePortOpen) {
  m_commands.reset();
  if (!port) return;
  CommandEnvironment env{
      *Memo_log,    [this](const std::string& text) { SetStatusPanel(1, QString::fromStdString(text)); },
      *m_env.clock, std::move(ensurePortOpen),
      *port,        *m_env.prompts};
  m_commands = std::make_unique<RepeaterCommands>(m_commandState, std::move(env));
}

template <class Fn>
void TForm1::RunCommand(Fn fn) {
  if (m_commands) fn(*m_commands, CommandSnapshot());
}

void TForm1::ConnectCommandButtons() {
  const std::pair<QPushButton*, void (TForm1::*)()> buttons[] = {
      {BitBtn1, &TForm1::BitBtn1Click}, {BitBtn2, &TForm1::BitBtn2Click}, {BitBtn5, &TForm1::BitBtn5Click},
      {BitBtn8, &TForm1::BitBtn8Click}, {BitBtn9, &TForm1::BitBtn9Click}, {Button1, &TForm1::Button1Click},
      {Button2, &TForm1::Button2Click}, {Button3, &TForm1::Button3Click}, {Button4, &TForm1::Button4Click},
      {Button5, &TForm1::Button5Click}};
  for (const auto& [button, handler] : buttons) connect(button, &QPushButton::clicked, this, handler);
}

void TForm1::BitBtn1Click() {
  RunCommand(
      [](RepeaterCommands& r, const CommandControls& c) { r.SendParameter(CommandKind::DateTime, c); });
}
void TForm1::BitBtn2Click() {
  // Eight exchanges with their fixed waits take more than a second.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  struct Restore {
    ~Restore() { QApplication::restoreOverrideCursor(); }
  } restore;
  RunCommand([](RepeaterCommands& r, const CommandControls& c) { r.SetInKorvex(c); });
}
void TForm1::BitBtn5Click() {
  RunCommand(
      [](RepeaterCommands& r, const CommandControls& c) { r.SendParameter(CommandKind::RxStartHour, c); });
}
void TForm1::BitBtn8Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) { r.SendParameter(CommandKind::Flag, c); });
}
void TForm1::BitBtn9Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) { r.SendNewId(c); });
}
void TForm1::Button1Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) { r.SendCustomData(c); });
}
void TForm1::Button2Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) { r.SendParameter(CommandKind::RxHours, c); });
}
void TForm1::Button3Click() {
  RunCommand(
      [](RepeaterCommands& r, const CommandControls& c) { r.SendParameter(CommandKind::RxWindow, c); });
}
void TForm1::Button4Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) { r.SendWirelessMode(c); });
}
void TForm1::Button5Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) {
    r.SendParameter(CommandKind::ClockCalibration, c);
  });
}

void TForm1::Comm1RxChar(QObject* /*sender*/, int count) {
  if (!m_read || count <= 0) return;
  m_receiver->ReceiveEvent(count, m_read, DecodeSnapshot());
  if (!m_chartDirty || m_chartTimer->isActive()) return;
  const qint64 since = m_chartDrawn.isValid() ? m_chartDrawn.elapsed() : kChartIntervalMs;
  if (since >= kChartIntervalMs)
    DrawSignalChart(kColRssi);
  else
    m_chartTimer->start(static_cast<int>(kChartIntervalMs - since));
}

void TForm1::DrawSignalChart(int column) {
  m_chartDirty = false;
  m_chartDrawn.start();
  try {
    const std::vector<ChartBar> bars = SignalChartBars(m_table, column);
    QList<qreal> values;
    QStringList labels;
    values.reserve(static_cast<qsizetype>(bars.size()));
    labels.reserve(static_cast<qsizetype>(bars.size()));
    for (const ChartBar& bar : bars) {
      values.append(bar.value);
      labels.append(QString::fromStdString(bar.label));
    }
    // Qt Charts lays out again for every change of the set or the axis, which
    // costs tens of milliseconds with a thousand meters. Usually one meter's
    // value changed and nothing else: change just that bar.
    QStringList categories = ChartCategories(labels);
    if (categories == m_chartLabels && m_barSet->count() == values.size()) {
      // Each replace lays out all bars again: past a few changed values one
      // refill is cheaper.
      std::vector<qsizetype> changed;
      for (qsizetype i = 0; i < values.size() && changed.size() <= kFewBars; ++i)
        if (m_barSet->at(i) != values[i]) changed.push_back(i);
      if (changed.size() <= kFewBars) {
        for (qsizetype i : changed) m_barSet->replace(i, values[i]);
        return;
      }
    }
    m_barSet->remove(0, m_barSet->count());
    if (categories != m_chartLabels) {
      m_axisX->setCategories(categories);
      m_chartLabels = std::move(categories);
    }
    m_barSet->append(values);
  } catch (const std::exception& e) {
    Memo_log->AppendLine(std::string("Exception drawing chart - ") + e.what());
  }
}

void TForm1::Timer_timeTimer() {
  const ClockTexts texts = MakeClockTexts(*m_times);
  SetStatusPanel(2, texts.statusPanel);
  Label_datetime->setText(texts.label);
}

void TForm1::Grid_valuesSelectCell(int col, int row) {
  m_selectedCol = col;
  m_selectedRow = row;
}

bool TForm1::Grid_valuesKeyDown(int key, Qt::KeyboardModifiers shift) {
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

void TForm1::TableChanged() {
  const int last = m_table.RowCount() - 1;
  if (m_selectedRow > last) m_selectedRow = last;
  // The grid reset took the view's selection with it.
  if (m_selectedRow >= 1)
    Grid_values->selectionModel()->setCurrentIndex(
        m_tableModel->index(m_selectedRow - 1, m_selectedCol),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  DrawSignalChart(kColRssi);
}

void TForm1::BitBtn6Click() {
  ClearGrid(m_table);
  TableChanged();
}

void TForm1::BitBtn7Click() { ExportGrid(m_table, "meters.csv", m_separator, *m_env.prompts, *m_logs); }

bool TForm1::StringGrid1KeyDown(int key, Qt::KeyboardModifiers shift) {
  if (!IsExportListKey(key, shift)) return false;
  Exportlist1Click();
  return true;
}

void TForm1::Exportlist1Click() {
  // The repeater ID as it stands now, empty or not.
  ExportGrid(m_meterList, Edit_repeaterID->text().toStdString() + "_meters.csv", m_separator, *m_env.prompts,
             *m_logs);
}

void TForm1::Importfromfile1Click() {
  // Always into the telegram table; the meter ID list is not touched.
  switch (ImportGridFromDialog(m_separator(), m_table, *m_env.prompts, *m_logs)) {
    case ImportResult::Imported:
      TableChanged();
      break;
    case ImportResult::Failed:
      Memo_log->AppendLine(std::string_view(kImportFailed));
      break;
    case ImportResult::Cancelled:
      break;
  }
}

void TForm1::Cleartable1Click() { ClearGrid(m_meterList); }

void TForm1::Savelogfile1Click() {
  const Prompts::FileDialog dialog{"Save log data", "general_log.txt", "TXT|*.txt|CSV|*.csv", "csv",
                                   m_logs->LogFolder()};
  std::optional<std::string> fileName;
  try {
    fileName = m_env.prompts->SaveFile(dialog);
  } catch (const Prompts::DialogError& e) {
    // What the application reports for any failure nothing else handles.
    m_env.prompts->Message("VelRpt", e.what(), Prompts::Icon::Error);
    return;
  }
  if (!fileName || fileName->empty()) return;

  const LogStore& lines = Memo_log->Store();
  std::string content;
  for (size_t i = 0; i < lines.Count(); ++i) {
    content += lines.Line(i);
    content += "\r\n";
  }
  std::string error;
  if (!ReplaceFile(*fileName, content, error)) {
    m_env.prompts->Message(kLogFileErrorCaption, kLogFileError, Prompts::Icon::Warning);
    m_logs->WriteErrorLog(ErrorLogs::kLogSaveFailed);
    m_logs->WriteDetailedLog(error);
  }
}

void TForm1::FormCloseQuery(bool& canClose) {
  canClose =
      m_env.prompts->Confirm("Exit Confirmation", "Are you sure you want to exit?", Prompts::Icon::Warning);
}

void TForm1::FormClose() {
  if (!m_env.ini) return;
  MainIniValues values;
  values.lastRepeater = Edit_repeaterID->text().toStdString();
  values.setRxTime = UD_rxtime->Position();
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
  FormShow();
}

void TForm1::FormShow() { EnsurePortOpen(); }

bool TForm1::EnsurePortOpen() { return m_connection->EnsurePortOpen(); }
void TForm1::TogglePortConnection() { m_connection->TogglePortConnection(); }
bool TForm1::PortOpen() const { return m_connection->PortOpen(); }

void TForm1::AppendLog(const std::string& line) { Memo_log->AppendLine(std::string_view(line)); }
void TForm1::SetStatusText(const std::string& text) { SetStatusPanel(0, QString::fromStdString(text)); }
void TForm1::SetPortControlsEnabled(bool enabled) {
  if (m_settingsForm) m_settingsForm->SetPortControlsEnabled(enabled);
}
void TForm1::SetConnectCaption(const std::string& caption) {
  if (m_settingsForm) m_settingsForm->SetOpenPortCaption(QString::fromStdString(caption));
}

void TForm1::AttachSettings(TSettings& settings) {
  m_settingsForm = &settings;
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
