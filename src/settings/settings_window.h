#pragma once
// The settings window. Its controls are the live settings: the rest of the
// program reads them (through Snapshot()) at the moment of use, saved or not.
// Modeless and always on top; it has no close box and is left through
// "Apply" or "Cancel".

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QValidator>
#include <string>

#include "prompts.h"
#include "settings_store.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTabWidget;
class QGroupBox;
class QWidget;
class PortNameList;

// Typing limit of the port name box: "COM1".."COM50" and other short names
// take at most 5 characters, but a device path ("/dev/ttyUSB0",
// "/dev/serial/by-id/...") or a bare device name ("ttyACM0") may be longer.
// Names that start with "COM" stay within 5; control characters never pass.
bool PortNameAllowed(const QString& text);

// Serial devices present under `devRoot`: ttyUSB*, ttyACM* and
// serial/by-id/*, each group in natural order.
QStringList SerialDevicesPresent(const QString& devRoot = QStringLiteral("/dev"));

// Limits what the operator types, never what the program puts in: a value
// loaded from the file is shown in full, and an over-long text can still be
// shortened.
class TypingLimit : public QValidator {
 public:
  TypingLimit(QLineEdit* edit, int maxLength, bool portName, QObject* parent);
  State validate(QString& input, int& pos) const override;

 private:
  QLineEdit* m_edit;
  int m_maxLength;
  bool m_portName;
};

class TSettings : public QDialog {
  Q_OBJECT

 public:
  // Loads the file at `iniPath` into the controls; the window starts hidden.
  TSettings(std::string iniPath, Prompts& prompts, QWidget* parent = nullptr,
            const QString& devRoot = QStringLiteral("/dev"));

  // The menu entry "Settings": reload the file, then show the window.
  void ShowFromMenu();
  // --port or --simulate: `name` stands in the name box for this run only.
  // "Apply" keeps the saved name unless the operator changed the box.
  void SetPortForThisRun(const QString& name);

  SettingsSnapshot Snapshot() const;
  std::string ExportSeparator() const;

  // Used by the port connection: the port boxes are locked while it is open.
  void SetPortControlsEnabled(bool enabled);
  void SetOpenPortCaption(const QString& caption);
  // A lost device came back under another name.
  void SetPortName(const QString& name);

 signals:
  // "Connect to port": the app toggles the port connection.
  void OpenPortClicked();

 public slots:
  void BitBtn1Click();  // "Apply"
  void BitBtn2Click();  // "Cancel"
  void Butt_open_portClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void FormCreate();
  void LoadFromFile();
  SettingsValues ValuesFromControls() const;
  void ShowValues(const SettingsValues& v);
  void BuildControls(const QString& devRoot);
  void BuildPortGroup(const QString& devRoot);
  QGridLayout* BuildOptions();
  void BuildWindowFrame();

  std::string m_iniPath;
  Prompts& m_prompts;
  bool m_centred = false;
  QString m_portForThisRun;
  bool m_portBoxChanged = false;  // by the operator, since the run's name was shown

  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QGroupBox* GroupBox1;
  QComboBox* Combo_com_name;
  PortNameList* m_portNames;
  QComboBox* Combo_com_speed;
  QComboBox* Combo_com_parity;
  QCheckBox* Check_rts;
  QCheckBox* Check_dtr;
  QCheckBox* CB_open_port;
  QPushButton* Butt_open_port;
  QSpinBox* UD_timeout;
  QLineEdit* Edit_timeout;
  QSpinBox* UD_retry_read;
  QLineEdit* Edit_retry_read;
  QLineEdit* Edit_export_separator;
  QComboBox* Combo_protocol;
  QCheckBox* Check_wrongCI;
  QLineEdit* Edit_version;
  QComboBox* Combo_medium;
  QGroupBox* GroupBox_misc;
  QCheckBox* Check_reconnect;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;
  QStatusBar* StatusBar1;
};
