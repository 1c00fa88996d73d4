// Start-up and shutdown of the whole window set with the real ini file and
// the real settings window, the port being a pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include "main_form.h"
#include "program.h"
#include "pty_pair.h"
#include "scripted_prompts.h"
#include "settings_window.h"
#include "up_down.h"

namespace {

struct ProgramFixture {
  QTemporaryDir dir;
  ScriptedPrompts prompts;
  FixedClock clock{LocalTime{2026, 12, 7, 9, 5, 3}};
  std::string iniPath = dir.filePath(QStringLiteral("velrpt.ini")).toStdString();

  std::unique_ptr<Program> Start(ProgramOptions options = {}) {
    if (options.iniPath.empty()) options.iniPath = iniPath;
    options.programDir = dir.path();
    options.devRoot = dir.path();  // no serial devices of this machine in the list
    return std::make_unique<Program>(
        options, prompts, clock, LocalFormats(QStringLiteral("dd.MM.yyyy"), QStringLiteral("HH:mm:ss"), '.'));
  }
  void WriteIni(const std::string& text) {
    QFile f(QString::fromStdString(iniPath));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.data(), static_cast<qint64>(text.size()));
  }
  std::string ReadIni() {
    QFile f(QString::fromStdString(iniPath));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
  }
};

QString PortBox(TSettings& settings) {
  return settings.findChild<QComboBox*>(QStringLiteral("Combo_com_name"))->currentText();
}

}  // namespace

TEST(Program, FirstStartWithoutIniFileThenTheValuesComeBack) {
  PtyPair device;
  ProgramFixture f;
  ProgramOptions options;
  options.portForThisRun = QString::fromStdString(device.SlavePath());
  auto program = f.Start(options);
  TForm1& form = program->Form();
  EXPECT_EQ(form.Edit_repeaterID->text(), "");
  EXPECT_EQ(form.Edit_rxtime->text(), "2");
  EXPECT_FALSE(program->Settings().isVisible());

  form.show();
  EXPECT_TRUE(form.PortOpen());
  // The menu reloads the settings file; the port of this run stays shown.
  form.Settings1->trigger();
  EXPECT_TRUE(program->Settings().isVisible());
  EXPECT_EQ(PortBox(program->Settings()), options.portForThisRun);

  form.Edit_repeaterID->setText(QStringLiteral("0042"));
  form.UD_rxtime->SetPosition(6);
  f.prompts.confirmAnswers = {true};
  EXPECT_TRUE(form.close());
  program.reset();

  auto again = f.Start();
  EXPECT_EQ(again->Form().Edit_repeaterID->text(), "0042");
  EXPECT_EQ(again->Form().Edit_rxtime->text(), "6");
}

TEST(Program, StartsFromAnIniFileAndKeepsItsOtherContent) {
  PtyPair device;
  ProgramFixture f;
  f.WriteIni("; written by hand\r\n[Com port]\r\nName=" + device.SlavePath() +
             "\r\nSpeed=9600\r\n[misc]\r\nlastrepeater=12345678\r\nSetRXTime=$3\r\nWrongCI=0\r\n[Other]"
             "\r\nKey=1\r\n");
  auto program = f.Start();
  TForm1& form = program->Form();
  EXPECT_EQ(form.Edit_repeaterID->text(), "12345678");
  EXPECT_EQ(form.Edit_rxtime->text(), "3");
  // The settings window's controls are what the window reads.
  EXPECT_FALSE(form.DecodeSnapshot().discardWrongCI);

  form.show();
  EXPECT_TRUE(form.PortOpen());

  form.UD_rxtime->SetPosition(5);
  f.prompts.confirmAnswers = {false, true};
  EXPECT_FALSE(form.close());
  EXPECT_NE(f.ReadIni().find("SetRXTime=$3"), std::string::npos);  // No writes nothing
  EXPECT_TRUE(form.close());
  const std::string ini = f.ReadIni();
  EXPECT_NE(ini.find("; written by hand"), std::string::npos);
  EXPECT_NE(ini.find("[Other]\r\nKey=1"), std::string::npos);
  EXPECT_NE(ini.find("SetRXTime=5"), std::string::npos);
  EXPECT_NE(ini.find("=12345678"), std::string::npos);
}

TEST(Program, SimulatedRepeaterIdOnlyFillsAnEmptyEdit) {
  ProgramFixture f;
  ProgramOptions options;
  options.simulatedRepeaterId = "12345678";
  EXPECT_EQ(f.Start(options)->Form().Edit_repeaterID->text(), "12345678");

  f.WriteIni("[Misc]\nLastRepeater=87654321\n");
  EXPECT_EQ(f.Start(options)->Form().Edit_repeaterID->text(), "87654321");
}

TEST(Program, AnIniFileThatCannotBeWrittenIsReportedAtClose) {
  ProgramFixture f;
  ProgramOptions options;
  options.iniPath = f.dir.filePath(QStringLiteral("gone/velrpt.ini")).toStdString();
  auto program = f.Start(options);
  TForm1& form = program->Form();
  form.show();
  f.prompts.shown.clear();
  f.prompts.confirmAnswers = {true};
  EXPECT_TRUE(form.close());
  ASSERT_EQ(f.prompts.shown.size(), 2u);
  EXPECT_EQ(f.prompts.shown[1].caption, "Saving settings");
  EXPECT_EQ(f.prompts.shown[1].text, "Settings will not be saved, no write permission");
}

// An ini that is a FIFO or a link to /dev/zero: the windows start at once
// with the defaults, as without an ini file (no wait for a writer in open(),
// no endless read), and the settings are not saved over it at close.
TEST(Program, AnIniThatIsNoRegularFileStartsWithTheDefaults) {
  for (const bool fifo : {true, false}) {
    SCOPED_TRACE(fifo ? "FIFO" : "link to /dev/zero");
    ProgramFixture f;
    if (fifo) {
      ASSERT_EQ(::mkfifo(f.iniPath.c_str(), 0600), 0);
    } else {
      ASSERT_EQ(::symlink("/dev/zero", f.iniPath.c_str()), 0);
    }
    auto program = f.Start();
    TForm1& form = program->Form();
    EXPECT_EQ(form.Edit_repeaterID->text(), "");
    EXPECT_EQ(form.Edit_rxtime->text(), "2");
    form.show();
    f.prompts.confirmAnswers = {true};
    EXPECT_TRUE(form.close());
    struct stat st {};
    ASSERT_EQ(::lstat(f.iniPath.c_str(), &st), 0);
    EXPECT_EQ(fifo ? S_ISFIFO(st.st_mode) : S_ISLNK(st.st_mode), true);
  }
}
