#include "settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>

#include "digit_edit.h"
#include "field_decoders.h"
#include "platform_system.h"
#include "port_name_list.h"

namespace {

const char kSavingCaption[] = "Saving settings";
const char kSavingText[] = "Settings will not be saved, no write permission";

// Longest device path the port box takes when typed.
constexpr int kMaxDevicePath = 255;
constexpr int kMaxShortPortName = 5;

QLabel* MakeLabel(const char* name, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  return label;
}

QComboBox* MakeCombo(const char* name, const QStringList& items, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->setEditable(true);
  // Enter must not add the typed text to the list.
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->addItems(items);
  return combo;
}

QCheckBox* MakeCheck(const char* name, const QString& text, QWidget* parent) {
  auto* check = new QCheckBox(text, parent);
  check->setObjectName(name);
  return check;
}

QPushButton* MakeButton(const char* name, const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  // Enter in an edit must neither apply nor toggle the port.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QSpinBox* MakeUpDown(const char* name, const char* editName, int min, int max, int step, QWidget* parent) {
  auto* upDown = new QSpinBox(parent);
  upDown->setObjectName(name);
  upDown->setRange(min, max);
  upDown->setSingleStep(step);
  upDown->setWrapping(false);
  upDown->setGroupSeparatorShown(false);
  upDown->findChild<QLineEdit*>()->setObjectName(editName);
  return upDown;
}

// Natural order, so ttyUSB2 comes before ttyUSB10.
bool NaturalLess(const QString& a, const QString& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

QStringList Entries(const QString& folder, const QString& pattern) {
  QStringList paths;
  const QDir dir(folder);
  const QStringList names = pattern.isEmpty()
                                ? dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                : dir.entryList({pattern}, QDir::AllEntries | QDir::System);
  for (const QString& name : names) paths << dir.filePath(name);
  std::sort(paths.begin(), paths.end(), NaturalLess);
  return paths;
}

}  // namespace

bool PortNameAllowed(const QString& text) {
  for (const QChar c : text)
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) return false;
  if (text.size() <= kMaxShortPortName) return true;
  if (text.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) return false;
  return text.size() <= kMaxDevicePath;
}

QStringList SerialDevicesPresent(const QString& devRoot) {
  QStringList listed;
  for (const std::string& name : platform::ListedSerialPorts()) listed << QString::fromStdString(name);
  return listed + Entries(devRoot, QStringLiteral("ttyUSB*")) + Entries(devRoot, QStringLiteral("ttyACM*")) +
         Entries(devRoot + QStringLiteral("/serial/by-id"), QString());
}

TypingLimit::TypingLimit(QLineEdit* edit, int maxLength, bool portName, QObject* parent)
    : QValidator(parent), m_edit(edit), m_maxLength(maxLength), m_portName(portName) {}

QValidator::State TypingLimit::validate(QString& input, int&) const {
  // Shortening an over-long loaded value is always allowed.
  if (input.size() < m_edit->text().size()) return Acceptable;
  if (m_portName) return PortNameAllowed(input) ? Acceptable : Invalid;
  return input.size() <= m_maxLength ? Acceptable : Invalid;
}

TSettings::TSettings(std::string iniPath, Prompts& prompts, QWidget* parent, const QString& devRoot)
    : QDialog(parent), m_iniPath(std::move(iniPath)), m_prompts(prompts) {
  setObjectName("Settings");
  setWindowTitle("RPT battery config -> Settings");
  // Minimize and maximize, but no close box: the window is left through
  // "Apply" or "Cancel".
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowStaysOnTopHint);
  setModal(false);
  BuildControls(devRoot);
  resize(603, 491);
  FormCreate();
}

void TSettings::BuildControls(const QString& devRoot) {
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  QFont pageFont(QStringLiteral("Arial"));
  pageFont.setPixelSize(15);
  PageControl1->setFont(pageFont);
  TabSheet1 = new QWidget(PageControl1);
  TabSheet1->setObjectName("TabSheet1");
  PageControl1->addTab(TabSheet1, "   Communication settings   ");

  BuildPortGroup(devRoot);
  QGridLayout* options = BuildOptions();
  auto* page = new QHBoxLayout(TabSheet1);
  page->addWidget(GroupBox1, 3);
  page->addLayout(options, 2);
  GroupBox1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
  page->setAlignment(GroupBox1, Qt::AlignTop);

  BuildWindowFrame();
}

// The "Serial port settings" box: port name, speed, parity and the line options.
void TSettings::BuildPortGroup(const QString& devRoot) {
  GroupBox1 = new QGroupBox("   Serial port settings   ", TabSheet1);
  GroupBox1->setObjectName("GroupBox1");
  QStringList names;
  for (int i = 1; i <= 50; ++i) names << QStringLiteral("COM%1").arg(i);
  names << QString() << QString();
  Combo_com_name = MakeCombo("Combo_com_name", {}, GroupBox1);
  m_portNames = new PortNameList(Combo_com_name, names, devRoot, this);
  // Only the operator's own choices count as a change of the port.
  connect(Combo_com_name, &QComboBox::textActivated, this, [this] { m_portBoxChanged = true; });
  connect(Combo_com_name->lineEdit(), &QLineEdit::textEdited, this, [this] { m_portBoxChanged = true; });
  Combo_com_name->setValidator(new TypingLimit(Combo_com_name->lineEdit(), kMaxShortPortName, true, this));
  Combo_com_speed =
      MakeCombo("Combo_com_speed",
                {"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}, GroupBox1);
  Combo_com_speed->setValidator(new TypingLimit(Combo_com_speed->lineEdit(), 6, false, this));
  Combo_com_parity = MakeCombo("Combo_com_parity", {"None", "Even", "Odd", "Mark", "Space"}, GroupBox1);
  Combo_com_parity->setValidator(new TypingLimit(Combo_com_parity->lineEdit(), 5, false, this));
  Check_rts = MakeCheck("Check_rts", "RTS control", GroupBox1);
  Check_dtr = MakeCheck("Check_dtr", "DTR control", GroupBox1);
  CB_open_port = MakeCheck("CB_open_port", "Automatically Open on startup", GroupBox1);
  Butt_open_port = MakeButton("Butt_open_port", "Connect to port", GroupBox1);
  Butt_open_port->setIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));

  auto* portGrid = new QGridLayout(GroupBox1);
  portGrid->addWidget(MakeLabel("Label1", "Name", GroupBox1), 0, 0);
  portGrid->addWidget(MakeLabel("Label2", "Speed", GroupBox1), 0, 1);
  portGrid->addWidget(MakeLabel("Label3", "Parity", GroupBox1), 0, 2);
  portGrid->addWidget(Combo_com_name, 1, 0);
  portGrid->addWidget(Combo_com_speed, 1, 1);
  portGrid->addWidget(Combo_com_parity, 1, 2);
  portGrid->addWidget(Check_rts, 2, 0);
  portGrid->addWidget(Check_dtr, 2, 1);
  portGrid->addWidget(CB_open_port, 3, 0, 1, 3);
  portGrid->addWidget(Butt_open_port, 4, 0, 1, 3);
  portGrid->setColumnStretch(0, 3);
  portGrid->setColumnStretch(1, 2);
  portGrid->setColumnStretch(2, 2);

}

// The options beside the port box; the caller places the returned grid.
QGridLayout* TSettings::BuildOptions() {
  UD_timeout = MakeUpDown("UD_timeout", "Edit_timeout", 100, 10000, 100, TabSheet1);
  UD_timeout->setValue(100);
  Edit_timeout = UD_timeout->findChild<QLineEdit*>("Edit_timeout");
  Edit_timeout->setMaxLength(5);
  Edit_timeout->installEventFilter(this);
  KeepDigitsOnly(Edit_timeout);
  UD_retry_read = MakeUpDown("UD_retry_read", "Edit_retry_read", 0, 9, 1, TabSheet1);
  UD_retry_read->setValue(0);
  Edit_retry_read = UD_retry_read->findChild<QLineEdit*>("Edit_retry_read");
  // Only the arrows change the retries.
  Edit_retry_read->setReadOnly(true);
  Edit_retry_read->setMaxLength(1);
  Edit_export_separator = new QLineEdit(";", TabSheet1);
  Edit_export_separator->setObjectName("Edit_export_separator");
  Edit_export_separator->setValidator(new TypingLimit(Edit_export_separator, 1, false, this));
  Combo_protocol = MakeCombo("Combo_protocol", {"STANDARD", "VELMORA with CRC"}, TabSheet1);
  Check_wrongCI = MakeCheck("Check_wrongCI", "Discard if wrong CI", TabSheet1);
  Check_wrongCI->setChecked(true);
  Edit_version = new QLineEdit("3", TabSheet1);
  Edit_version->setObjectName("Edit_version");
  Edit_version->setValidator(new TypingLimit(Edit_version, 2, false, this));
  Edit_version->installEventFilter(this);
  KeepDigitsOnly(Edit_version);
  Combo_medium = MakeCombo(
      "Combo_medium", {"Bus/System", "Water", "Hot water", "Heat, rt", "Heat, rt", "Electricity"}, TabSheet1);

  // Stored and shown, read by nothing: they say so where the operator looks.
  const QString kept = QStringLiteral("Kept for compatibility: stored in the settings, has no effect");
  for (QWidget* w : std::initializer_list<QWidget*>{Check_rts, Check_dtr, UD_timeout, UD_retry_read,
                                                    Combo_protocol, Combo_medium})
    w->setToolTip(kept);
  CB_open_port->setToolTip(
      QStringLiteral("Kept for compatibility: not stored, has no effect; the port opens at every start"));

  auto* options = new QGridLayout();
  options->addWidget(MakeLabel("Label8", "Timeout, ms", TabSheet1), 0, 0);
  options->addWidget(MakeLabel("Label5", "Retries", TabSheet1), 0, 1);
  options->addWidget(UD_timeout, 1, 0);
  options->addWidget(UD_retry_read, 1, 1);
  auto* separatorRow = new QHBoxLayout();
  separatorRow->addWidget(MakeLabel("Label4", "Export separator:", TabSheet1));
  separatorRow->addWidget(Edit_export_separator);
  Edit_export_separator->setMaximumWidth(40);
  separatorRow->addStretch();
  options->addLayout(separatorRow, 2, 0, 1, 2);
  options->addWidget(MakeLabel("Label9", "Comm protocol of Korvex", TabSheet1), 3, 0, 1, 2);
  options->addWidget(Combo_protocol, 4, 0, 1, 2);
  options->addWidget(Check_wrongCI, 5, 0, 1, 2);
  options->addWidget(MakeLabel("Label10", "Version", TabSheet1), 6, 0);
  options->addWidget(MakeLabel("Label11", "Medium", TabSheet1), 6, 1);
  Edit_version->setMaximumWidth(60);
  Combo_medium->setMinimumContentsLength(8);
  options->addWidget(Edit_version, 7, 0);
  options->addWidget(Combo_medium, 7, 1);
  GroupBox_misc = new QGroupBox(QStringLiteral("Misc"), TabSheet1);
  GroupBox_misc->setObjectName("GroupBox_misc");
  Check_reconnect = MakeCheck("Check_reconnect", "Reconnect when the port returns", GroupBox_misc);
  Check_reconnect->setChecked(true);
  auto* misc = new QVBoxLayout(GroupBox_misc);
  misc->addWidget(Check_reconnect);
  options->addWidget(GroupBox_misc, 8, 0, 1, 2);
  options->setRowStretch(9, 1);

  return options;
}

// Cancel, Apply and the status bar below the pages.
void TSettings::BuildWindowFrame() {
  BitBtn2 = MakeButton("BitBtn2", "Cancel", this);
  BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  BitBtn1 = MakeButton("BitBtn1", "Apply", this);
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  auto* panel1 = new QLabel(StatusBar1);
  panel1->setFixedWidth(250);
  auto* panel2 = new QLabel(StatusBar1);
  panel2->setFixedWidth(50);
  StatusBar1->addWidget(panel1);
  StatusBar1->addWidget(panel2);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(BitBtn2);
  buttons->addWidget(BitBtn1);
  auto* window = new QVBoxLayout(this);
  window->addWidget(PageControl1);
  window->addLayout(buttons);
  window->addWidget(StatusBar1);
  window->setContentsMargins(8, 8, 8, 0);

  connect(BitBtn1, &QPushButton::clicked, this, &TSettings::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TSettings::BitBtn2Click);
  connect(Butt_open_port, &QPushButton::clicked, this, &TSettings::Butt_open_portClick);
}

void TSettings::FormCreate() {
  LoadFromFile();
  PageControl1->setCurrentWidget(TabSheet1);
}

void TSettings::LoadFromFile() { ShowValues(LoadSettings(IniFile(m_iniPath))); }

void TSettings::ShowValues(const SettingsValues& v) {
  Combo_com_name->setEditText(QString::fromStdString(v.name));
  Combo_com_speed->setEditText(QString::fromStdString(v.speed));
  Combo_com_parity->setEditText(QString::fromStdString(v.parity));
  Check_rts->setChecked(v.rts);
  Check_dtr->setChecked(v.dtr);
  Edit_export_separator->setText(QString::fromStdString(v.exportSeparator));
  // Up-down positions are 16-bit; out of range they stop at the nearest limit.
  UD_retry_read->setValue(static_cast<std::int16_t>(v.retry));
  UD_timeout->setValue(static_cast<std::int16_t>(v.timeout));
  Check_wrongCI->setChecked(v.wrongCI);
  Combo_protocol->setEditText(QString::fromStdString(v.protocol));
  Edit_version->setText(QString::fromStdString(v.version));
  Combo_medium->setEditText(QString::fromStdString(v.medium));
  Check_reconnect->setChecked(v.reconnect);
}

SettingsValues TSettings::ValuesFromControls() const {
  SettingsValues v;
  v.name = Combo_com_name->currentText().toStdString();
  v.speed = Combo_com_speed->currentText().toStdString();
  v.parity = Combo_com_parity->currentText().toStdString();
  v.rts = Check_rts->isChecked();
  v.dtr = Check_dtr->isChecked();
  v.exportSeparator = Edit_export_separator->text().toStdString();
  v.retry = UD_retry_read->value();
  v.timeout = UD_timeout->value();
  v.wrongCI = Check_wrongCI->isChecked();
  v.protocol = Combo_protocol->currentText().toStdString();
  v.version = Edit_version->text().toStdString();
  v.medium = Combo_medium->currentText().toStdString();
  v.reconnect = Check_reconnect->isChecked();
  return v;
}

void TSettings::SetPortForThisRun(const QString& name) {
  m_portForThisRun = name;
  m_portBoxChanged = false;
  Combo_com_name->setEditText(name);
}

void TSettings::ShowFromMenu() {
  // Reloading here, and not on every activation, keeps edits when the
  // operator glances at the main window.
  LoadFromFile();
  if (!m_portForThisRun.isEmpty()) SetPortForThisRun(m_portForThisRun);
  show();
  raise();
  activateWindow();
}

SettingsSnapshot TSettings::Snapshot() const {
  return {Combo_com_name->currentText().toStdString(),
          Combo_com_speed->currentText().toStdString(),
          Combo_com_parity->currentText().toStdString(),
          Check_wrongCI->isChecked(),
          Edit_version->text().toStdString(),
          Edit_export_separator->text().toStdString(),
          Check_reconnect->isChecked()};
}

std::string TSettings::ExportSeparator() const { return Edit_export_separator->text().toStdString(); }

void TSettings::SetPortControlsEnabled(bool enabled) {
  Combo_com_name->setEnabled(enabled);
  Combo_com_speed->setEnabled(enabled);
  Combo_com_parity->setEnabled(enabled);
}

void TSettings::SetOpenPortCaption(const QString& caption) { Butt_open_port->setText(caption); }

void TSettings::SetPortName(const QString& name) { Combo_com_name->setEditText(name); }

void TSettings::BitBtn1Click() {
  IniFile ini(m_iniPath);
  SettingsValues values = ValuesFromControls();
  if (!m_portForThisRun.isEmpty()) {
    if (m_portBoxChanged)
      m_portForThisRun.clear();  // the operator's choice from now on, saved
    else
      values.name = LoadSettings(ini).name;  // a trial run leaves the saved port alone
  }
  StoreSettings(values, ini);
  std::string error;
  if (!ini.Save(error)) m_prompts.Message(kSavingCaption, kSavingText, Prompts::Icon::Warning);
  hide();
}

void TSettings::BitBtn2Click() { hide(); }

void TSettings::Butt_open_portClick() { emit OpenPortClicked(); }

bool TSettings::eventFilter(QObject* watched, QEvent* event) {
  // Edit_timeoutKeyPress and Edit_versionKeyPress: only digits, backspace
  // and Enter are entered.
  if ((watched == Edit_timeout || watched == Edit_version) && event->type() == QEvent::KeyPress) {
    const QString text = static_cast<QKeyEvent*>(event)->text();
    if (text.size() == 1) {
      const char16_t c = text[0].unicode();
      if (c > 127 || FilterDigitKey(static_cast<char>(c)) == 27) return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TSettings::showEvent(QShowEvent* event) {
  if (!m_centred) {
    m_centred = true;
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
  }
  m_portNames->SetWatching(true);
  QDialog::showEvent(event);
}

void TSettings::hideEvent(QHideEvent* event) {
  m_portNames->SetWatching(false);
  QDialog::hideEvent(event);
}
