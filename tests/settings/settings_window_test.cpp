#include "settings_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <sstream>

#include "scripted_prompts.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

class SettingsWindow : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  std::string ini = dir.filePath("velrpt.ini").toStdString();
  ScriptedPrompts prompts;

  template <typename W>
  W* Find(const TSettings& s, const char* name) {
    W* w = s.findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString Text(const TSettings& s, const char* combo) { return Find<QComboBox>(s, combo)->currentText(); }
  bool Checked(const TSettings& s, const char* box) { return Find<QCheckBox>(s, box)->isChecked(); }
  int Position(const TSettings& s, const char* upDown) { return Find<QSpinBox>(s, upDown)->value(); }
};

TEST_F(SettingsWindow, StartsWithTheDefaultsWithoutAFile) {
  TSettings s(ini, prompts, nullptr, dir.path());
  EXPECT_FALSE(s.isVisible());
  EXPECT_EQ(Text(s, "Combo_com_name"), "COM1");
  EXPECT_EQ(Text(s, "Combo_com_speed"), "19200");
  EXPECT_EQ(Text(s, "Combo_com_parity"), "None");
  EXPECT_FALSE(Checked(s, "Check_rts"));
  EXPECT_FALSE(Checked(s, "Check_dtr"));
  EXPECT_EQ(Find<QLineEdit>(s, "Edit_export_separator")->text(), ";");
  EXPECT_EQ(Position(s, "UD_retry_read"), 1);
  EXPECT_EQ(Position(s, "UD_timeout"), 1000);
  EXPECT_EQ(Find<QLineEdit>(s, "Edit_timeout")->text(), "1000");
  EXPECT_TRUE(Checked(s, "Check_wrongCI"));
  EXPECT_EQ(Text(s, "Combo_protocol"), "STANDARD");
  EXPECT_EQ(Find<QLineEdit>(s, "Edit_version")->text(), "3");
  EXPECT_EQ(Text(s, "Combo_medium"), "Bus/System");
  EXPECT_TRUE(Checked(s, "Check_reconnect"));
  EXPECT_TRUE(s.Snapshot().reconnect);
  const auto* misc = Find<QGroupBox>(s, "GroupBox_misc");
  EXPECT_EQ(misc->title(), "Misc");
  EXPECT_EQ(Find<QCheckBox>(s, "Check_reconnect")->parent(), misc);
  EXPECT_EQ(Find<QCheckBox>(s, "Check_reconnect")->text(), "Reconnect when the port returns");
  // Shown from the menu with still no file: the same defaults (never
  // "300"/"Even", which the port was not opened with).
  s.ShowFromMenu();
  EXPECT_TRUE(s.isVisible());
  EXPECT_EQ(Text(s, "Combo_com_speed"), "19200");
  EXPECT_EQ(Text(s, "Combo_com_parity"), "None");
  Find<QAbstractButton>(s, "BitBtn1")->click();
  EXPECT_FALSE(s.isVisible());
  EXPECT_EQ(
      ReadText(ini),
      "[Com port]\nName=COM1\nSpeed=19200\nParity=None\nRTS=0\nDTR=0\n"
      "[Misc]\nExportSeparator=;\nRetry=1\nTimeout=1000\nProtocol=STANDARD\nVersion=3\nMedium=Bus/System\n"
      "WrongCI=1\nReconnect=1\n");
}

TEST_F(SettingsWindow, ControlsCaptionsAndLists) {
  TSettings s(ini, prompts, nullptr, dir.path());
  EXPECT_EQ(s.windowTitle(), "RPT battery config -> Settings");
  EXPECT_EQ(s.size(), QSize(603, 491));
  EXPECT_FALSE(s.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(s.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(s.isModal());
  const std::vector<std::pair<const char*, const char*>> captions = {
      {"Label1", "Name"},
      {"Label2", "Speed"},
      {"Label3", "Parity"},
      {"Label4", "Export separator:"},
      {"Label5", "Retries"},
      {"Label8", "Timeout, ms"},
      {"Label9", "Comm protocol of Korvex"},
      {"Label10", "Version"},
      {"Label11", "Medium"},
      {"Check_rts", "RTS control"},
      {"Check_dtr", "DTR control"},
      {"CB_open_port", "Automatically Open on startup"},
      {"Butt_open_port", "Connect to port"},
      {"Check_wrongCI", "Discard if wrong CI"},
      {"BitBtn1", "Apply"},
      {"BitBtn2", "Cancel"},
  };
  for (const auto& [name, caption] : captions) {
    QObject* w = s.findChild<QObject*>(name);
    ASSERT_NE(w, nullptr) << name;
    EXPECT_EQ(w->property("text").toString(), caption) << name;
  }
  const auto* pages = Find<QTabWidget>(s, "PageControl1");
  EXPECT_EQ(pages->tabText(0), "   Communication settings   ");
  EXPECT_EQ(pages->currentWidget()->objectName(), "TabSheet1");
  EXPECT_EQ(s.findChild<QWidget*>("GroupBox1")->property("title").toString(), "   Serial port settings   ");

  QStringList names;
  for (int i = 1; i <= 50; ++i) names << QString("COM%1").arg(i);
  names << ""
        << "";
  EXPECT_EQ(Items(Find<QComboBox>(s, "Combo_com_name")), names);  // no devices in the test's /dev
  EXPECT_EQ(Items(Find<QComboBox>(s, "Combo_com_speed")),
            QStringList({"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
  EXPECT_EQ(Items(Find<QComboBox>(s, "Combo_com_parity")),
            QStringList({"None", "Even", "Odd", "Mark", "Space"}));
  EXPECT_EQ(Items(Find<QComboBox>(s, "Combo_protocol")), QStringList({"STANDARD", "VELMORA with CRC"}));
  EXPECT_EQ(Items(Find<QComboBox>(s, "Combo_medium")),
            QStringList({"Bus/System", "Water", "Hot water", "Heat, rt", "Heat, rt", "Electricity"}));
  const auto* timeout = Find<QSpinBox>(s, "UD_timeout");
  EXPECT_EQ(timeout->minimum(), 100);
  EXPECT_EQ(timeout->maximum(), 10000);
  EXPECT_EQ(timeout->singleStep(), 100);
  const auto* retry = Find<QSpinBox>(s, "UD_retry_read");
  EXPECT_EQ(retry->minimum(), 0);
  EXPECT_EQ(retry->maximum(), 9);
  // Read-only for typing, but the arrows still step.
  EXPECT_TRUE(Find<QLineEdit>(s, "Edit_retry_read")->isReadOnly());
  QTest::keyClicks(Find<QLineEdit>(s, "Edit_retry_read"), "7");
  EXPECT_EQ(retry->value(), 1);
  QTest::keyClick(Find<QSpinBox>(s, "UD_retry_read"), Qt::Key_Up);
  EXPECT_EQ(retry->value(), 2);
}

TEST_F(SettingsWindow, LoadsAndSavesEveryKey) {
  WriteText(ini,
            "; kept\r\n[Misc]\r\nLastRepeater=12345678\r\nSetRXTime=5\r\nExportSeparator=,\r\nRetry=$3\r\n"
            "Timeout=0x3E8\r\nWrongCI=0\r\nProtocol=VELMORA with CRC\r\nVersion=12\r\nMedium=Heat, rt\r\n"
            "Reconnect=0\r\n[Com "
            "port]\r\nName=/dev/serial/by-id/usb-Korvex_0001-if00\r\nSpeed=9600\r\nParity=Odd\r\nRTS=2\r\n"
            "DTR=yes\r\n");
  TSettings s(ini, prompts, nullptr, dir.path());
  EXPECT_EQ(Text(s, "Combo_com_name"), "/dev/serial/by-id/usb-Korvex_0001-if00");
  EXPECT_EQ(Text(s, "Combo_com_speed"), "9600");
  EXPECT_EQ(Text(s, "Combo_com_parity"), "Odd");
  EXPECT_TRUE(Checked(s, "Check_rts"));   // 2 reads as true
  EXPECT_FALSE(Checked(s, "Check_dtr"));  // "yes" gives the default
  EXPECT_EQ(Position(s, "UD_retry_read"), 3);
  EXPECT_EQ(Position(s, "UD_timeout"), 1000);
  EXPECT_FALSE(Checked(s, "Check_wrongCI"));
  EXPECT_EQ(Text(s, "Combo_protocol"), "VELMORA with CRC");
  EXPECT_EQ(Text(s, "Combo_medium"), "Heat, rt");
  const SettingsSnapshot snap = s.Snapshot();
  EXPECT_EQ(snap.portName, "/dev/serial/by-id/usb-Korvex_0001-if00");
  EXPECT_EQ(snap.portSpeed, "9600");
  EXPECT_EQ(snap.portParity, "Odd");
  EXPECT_FALSE(snap.discardWrongCI);
  EXPECT_EQ(snap.version, "12");
  EXPECT_EQ(snap.exportSeparator, ",");
  EXPECT_EQ(s.ExportSeparator(), ",");
  EXPECT_FALSE(Checked(s, "Check_reconnect"));
  EXPECT_FALSE(snap.reconnect);

  // Edit some controls and apply: changed keys in place, the rest kept.
  Find<QComboBox>(s, "Combo_com_speed")->setEditText("115200");
  Find<QSpinBox>(s, "UD_timeout")->setValue(2500);
  Find<QCheckBox>(s, "Check_wrongCI")->setChecked(true);
  Find<QCheckBox>(s, "CB_open_port")->setChecked(true);  // never saved
  s.ShowFromMenu();                                      // reload: the edits are gone again
  EXPECT_EQ(Text(s, "Combo_com_speed"), "9600");
  Find<QComboBox>(s, "Combo_com_speed")->setEditText("115200");
  Find<QSpinBox>(s, "UD_timeout")->setValue(2500);
  Find<QCheckBox>(s, "Check_wrongCI")->setChecked(true);
  Find<QAbstractButton>(s, "BitBtn1")->click();
  EXPECT_FALSE(s.isVisible());
  EXPECT_TRUE(prompts.shown.empty());
  EXPECT_EQ(ReadText(ini),
            "; kept\r\n[Misc]\r\nLastRepeater=12345678\r\nSetRXTime=5\r\nExportSeparator=,\r\nRetry=3\r\n"
            "Timeout=2500\r\nWrongCI=1\r\nProtocol=VELMORA with CRC\r\nVersion=12\r\nMedium=Heat, rt\r\n"
            "Reconnect=0\r\n[Com "
            "port]\r\nName=/dev/serial/by-id/usb-Korvex_0001-if00\r\nSpeed=115200\r\nParity=Odd\r\nRTS=1\r\n"
            "DTR=0\r\n");
}

TEST_F(SettingsWindow, OutOfRangePositionsStopAtTheLimits) {
  // 70000 is 4464 as a 16-bit position; -5 and 65535 (-1) are below the minimum.
  const std::vector<std::tuple<const char*, int, int>> cases = {
      {"70000", 4464, 9}, {"-5", 100, 0}, {"65535", 100, 0}, {"50", 100, 9}};
  for (const auto& [text, timeout, retry] : cases) {
    WriteText(ini, std::string("[Misc]\nTimeout=") + text + "\nRetry=" + text + "\n");
    TSettings s(ini, prompts, nullptr, dir.path());
    EXPECT_EQ(Position(s, "UD_timeout"), timeout) << text;
    EXPECT_EQ(Position(s, "UD_retry_read"), retry) << text;
  }
}

TEST_F(SettingsWindow, ReadOnlyFileWarnsAndStaysUnchanged) {
  const std::string before = "[Com port]\nSpeed=9600\n";
  WriteText(ini, before);
  ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
  TSettings s(ini, prompts, nullptr, dir.path());
  s.ShowFromMenu();
  Find<QComboBox>(s, "Combo_com_speed")->setEditText("300");
  Find<QAbstractButton>(s, "BitBtn1")->click();
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].caption, "Saving settings");
  EXPECT_EQ(prompts.shown[0].text, "Settings will not be saved, no write permission");
  EXPECT_EQ(prompts.shown[0].icon, Prompts::Icon::Warning);
  EXPECT_FALSE(s.isVisible());
  EXPECT_EQ(ReadText(ini), before);
  // The edited value is still the live setting.
  EXPECT_EQ(s.Snapshot().portSpeed, "300");
}

TEST_F(SettingsWindow, CancelKeepsEditsUntilTheMenuReloads) {
  WriteText(ini, "[Com port]\nSpeed=9600\n");
  TSettings s(ini, prompts, nullptr, dir.path());
  s.ShowFromMenu();
  Find<QComboBox>(s, "Combo_com_speed")->setEditText("4800");
  // Activation (the operator glances at the main window and back) reloads nothing.
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(&s, &activate);
  EXPECT_EQ(s.Snapshot().portSpeed, "4800");
  Find<QAbstractButton>(s, "BitBtn2")->click();
  EXPECT_FALSE(s.isVisible());
  EXPECT_EQ(ReadText(ini), "[Com port]\nSpeed=9600\n");
  EXPECT_EQ(s.Snapshot().portSpeed, "4800");  // a connect now uses the edit
  s.ShowFromMenu();
  EXPECT_EQ(s.Snapshot().portSpeed, "9600");
}

TEST_F(SettingsWindow, KeyFiltersAndTypingLimits) {
  TSettings s(ini, prompts, nullptr, dir.path());
  s.ShowFromMenu();
  auto* version = Find<QLineEdit>(s, "Edit_version");
  version->clear();
  QTest::keyClicks(version, "a1-b");
  EXPECT_EQ(version->text(), "1");
  QTest::keyClick(version, Qt::Key_Backspace);
  QTest::keyClicks(version, "x987");  // at most 2 characters
  EXPECT_EQ(version->text(), "98");
  QTest::keyClick(version, Qt::Key_Return);  // Enter passes, and applies nothing
  EXPECT_TRUE(s.isVisible());

  auto* timeout = Find<QLineEdit>(s, "Edit_timeout");
  timeout->selectAll();
  QTest::keyClicks(timeout, "2a5z00");
  EXPECT_EQ(timeout->text(), "2500");

  auto* separator = Find<QLineEdit>(s, "Edit_export_separator");
  separator->clear();
  QTest::keyClicks(separator, ",;");
  EXPECT_EQ(separator->text(), ",");

  auto* name = Find<QComboBox>(s, "Combo_com_name")->lineEdit();
  const std::vector<std::pair<const char*, const char*>> typed = {{"COM12", "COM12"},
                                                                  {"COM123", "COM12"},
                                                                  {"com999", "com99"},
                                                                  {"/dev/ttyUSB0", "/dev/ttyUSB0"},
                                                                  {"ttyACM10", "ttyACM10"}};
  for (const auto& [keys, shown] : typed) {
    name->clear();
    QTest::keyClicks(name, keys);
    EXPECT_EQ(name->text(), shown) << keys;
  }
  EXPECT_FALSE(PortNameAllowed(QString(256, 'a')));
  EXPECT_FALSE(PortNameAllowed("/dev/tty\nx"));
  // A long value from the file is shown in full and can be shortened.
  WriteText(ini, "[Misc]\nVersion=12345\n");
  s.ShowFromMenu();
  EXPECT_EQ(version->text(), "12345");
  version->end(false);
  QTest::keyClick(version, Qt::Key_Backspace);
  EXPECT_EQ(version->text(), "1234");
}

TEST_F(SettingsWindow, PortButtonAndDevices) {
  ASSERT_TRUE(QDir(dir.path()).mkpath("serial/by-id"));
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "serial/by-id/usb-Korvex-if00"})
    WriteText(dir.filePath(name).toStdString(), "");
  TSettings s(ini, prompts, nullptr, dir.path());
  const QStringList items = Items(Find<QComboBox>(s, "Combo_com_name"));
  ASSERT_EQ(items.size(), 56);
  EXPECT_EQ(items.mid(52),
            QStringList({dir.filePath("ttyUSB2"), dir.filePath("ttyUSB10"), dir.filePath("ttyACM0"),
                         dir.filePath("serial/by-id/usb-Korvex-if00")}));

  QSignalSpy clicked(&s, &TSettings::OpenPortClicked);
  Find<QAbstractButton>(s, "Butt_open_port")->click();
  EXPECT_EQ(clicked.count(), 1);
  s.SetOpenPortCaption("Disconnect");
  s.SetPortControlsEnabled(false);
  EXPECT_EQ(Find<QAbstractButton>(s, "Butt_open_port")->text(), "Disconnect");
  for (const char* box : {"Combo_com_name", "Combo_com_speed", "Combo_com_parity"})
    EXPECT_FALSE(Find<QComboBox>(s, box)->isEnabled()) << box;
  EXPECT_TRUE(Find<QLineEdit>(s, "Edit_version")->isEnabled());
}

// The by-id entries show their device; while the window is open the list
// follows devices coming and going, and what the box shows stays.
TEST_F(SettingsWindow, PortListFollowsTheDevicesWhileShown) {
  const QDir dev(dir.path());
  ASSERT_TRUE(dev.mkpath("serial/by-id"));
  WriteText(dir.filePath("ttyUSB0").toStdString(), "");
  ASSERT_TRUE(QFile::link("../../ttyUSB0", dir.filePath("serial/by-id/usb-Korvex_KX1-if00-port0")));
  TSettings s(ini, prompts, nullptr, dir.path());
  auto* combo = Find<QComboBox>(s, "Combo_com_name");
  const QString byId = dir.filePath("serial/by-id/usb-Korvex_KX1-if00-port0");
  const auto shown = [&] {
    QStringList texts;
    for (int i = 52; i < combo->count(); ++i) texts << combo->itemData(i, Qt::DisplayRole).toString();
    return texts;
  };
  EXPECT_EQ(shown(), QStringList({dir.filePath("ttyUSB0"), byId + " -> ttyUSB0"}));
  combo->setCurrentIndex(53);
  EXPECT_EQ(combo->currentText(), byId);  // the path alone goes into the box

  s.ShowFromMenu();
  combo->setEditText("ttyUSB9");  // typed, not applied
  WriteText(dir.filePath("ttyACM1").toStdString(), "");
  ASSERT_TRUE(QFile::link("../../ttyACM1", dir.filePath("serial/by-id/usb-Zeta_Radio_77-if00-port0")));
  const QStringList both = {dir.filePath("ttyUSB0"), dir.filePath("ttyACM1"), byId + " -> ttyUSB0",
                            dir.filePath("serial/by-id/usb-Zeta_Radio_77-if00-port0") + " -> ttyACM1"};
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == both; }, 10000)) << shown().join(", ").toStdString();
  EXPECT_EQ(combo->currentText(), "ttyUSB9");

  // Hidden, nothing is watched; shown again, the list is current at once.
  Find<QAbstractButton>(s, "BitBtn2")->click();
  ASSERT_TRUE(QFile::remove(dir.filePath("serial/by-id/usb-Zeta_Radio_77-if00-port0")));
  ASSERT_TRUE(QFile::remove(dir.filePath("ttyACM1")));
  QTest::qWait(400);
  EXPECT_EQ(shown(), both);
  s.show();
  EXPECT_EQ(shown(), QStringList({dir.filePath("ttyUSB0"), byId + " -> ttyUSB0"}));
}

// --port and --simulate: the run's port is shown but "Apply" keeps the saved
// one, until the operator picks or types another port and applies that.
TEST_F(SettingsWindow, PortForThisRunIsNotSavedUnlessTheOperatorChangesIt) {
  WriteText(ini, "[Com port]\nName=COM7\n");
  TSettings s(ini, prompts, nullptr, dir.path());
  s.SetPortForThisRun("/dev/pts/9");
  auto* names = Find<QComboBox>(s, "Combo_com_name");
  EXPECT_EQ(names->currentText(), "/dev/pts/9");
  Find<QCheckBox>(s, "Check_rts")->setChecked(true);
  s.BitBtn1Click();
  EXPECT_NE(ReadText(ini).find("Name=COM7"), std::string::npos) << ReadText(ini);
  EXPECT_NE(ReadText(ini).find("RTS=1"), std::string::npos) << ReadText(ini);  // the rest is applied
  s.ShowFromMenu();
  EXPECT_EQ(names->currentText(), "/dev/pts/9");

  names->lineEdit()->selectAll();
  QTest::keyClicks(names->lineEdit(), "COM3");
  s.BitBtn1Click();
  EXPECT_NE(ReadText(ini).find("Name=COM3"), std::string::npos) << ReadText(ini);
  s.ShowFromMenu();
  EXPECT_EQ(names->currentText(), "COM3");
}

// Digit boxes of this window take only digits however the text comes.
TEST_F(SettingsWindow, DigitBoxesFilterInsertedText) {
  TSettings s(ini, prompts, nullptr, dir.path());
  auto* version = Find<QLineEdit>(s, "Edit_version");
  version->clear();
  version->insert("4x");
  EXPECT_EQ(version->text(), "4");
  auto* timeout = Find<QLineEdit>(s, "Edit_timeout");
  timeout->setText("15o0");
  EXPECT_EQ(timeout->text(), "150");
}

TEST_F(SettingsWindow, MainWindowKeys) {
  EXPECT_EQ(ReadMainWindowKeys(ini).lastRepeater, "");
  EXPECT_EQ(ReadMainWindowKeys(ini).setRxTime, 2);
  WriteText(ini, "[Com port]\nSpeed=9600\n[Misc]\nSetRXTime=0x10\n");
  EXPECT_EQ(ReadMainWindowKeys(ini).setRxTime, 16);
  std::string error;
  ASSERT_TRUE(WriteMainWindowKeys(ini, {"87654321", 7}, error)) << error;
  EXPECT_EQ(ReadText(ini), "[Com port]\nSpeed=9600\n[Misc]\nSetRXTime=7\nLastRepeater=87654321\n");
  const MainWindowKeys back = ReadMainWindowKeys(ini);
  EXPECT_EQ(back.lastRepeater, "87654321");
  EXPECT_EQ(back.setRxTime, 7);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
