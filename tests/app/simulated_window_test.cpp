// The window set as `velrpt --simulate` starts it where there are no
// pseudo-terminals: the simulated Korvex inside the process, opened through
// the serial device interface like a port. Runs on Linux and, cross-built,
// under wine.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>

#include "in_process_korvex.h"
#include "log_memo.h"
#include "main_form.h"
#include "program.h"
#include "scripted_prompts.h"

namespace {

bool LogHas(TForm1& form, const QString& text) {
  for (const QString& line : form.Memo_log->Lines())
    if (line.contains(text)) return true;
  return false;
}

}  // namespace

TEST(SimulatedWindow, ShowsTrafficAndTheAnswerToACommand) {
  sim::SimOptions simOptions;
  simOptions.meters = 4;
  simOptions.intervalMs = 300;
  std::unique_ptr<sim::SimulatorRunner> simulator = sim::MakeInProcessSimulator(simOptions);
  std::string error;
  ASSERT_TRUE(simulator->Start(&error)) << error;

  QTemporaryDir dir;
  ProgramOptions options;
  options.iniPath = dir.filePath(QStringLiteral("velrpt.ini")).toStdString();
  options.dataFolder = dir.path().toStdString();
  options.programDir = dir.path();
  options.portForThisRun = QString::fromStdString(simulator->SlavePath());
  options.simulatedRepeaterId = simulator->RepeaterId();
  ScriptedPrompts prompts;
  SystemClock clock;
  {
    Program program(options, prompts, clock, LocalFormats::System());
    TForm1& form = program.Form();
    form.show();

    // The port opens at the first show; with every telegram shown, the
    // meters' traffic comes in.
    QTest::mouseClick(form.findChild<QCheckBox*>(QStringLiteral("Check_onlyRepeater")), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Memo_log->Lines().filter(QStringLiteral(": 68 ")).size() >= 3; },
                                30'000))
        << form.Memo_log->Lines().join('\n').toStdString();

    auto* hours = form.findChild<QLineEdit*>(QStringLiteral("Edit_rxtime"));
    ASSERT_NE(hours, nullptr);
    hours->setFocus();
    hours->selectAll();
    QTest::keyClicks(hours, QStringLiteral("3"));
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Button2")), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return LogHas(form, QStringLiteral("WORK HOURS RX = 3")); }, 30'000))
        << form.Memo_log->Lines().join('\n').toStdString();
    EXPECT_TRUE(prompts.shown.empty());

    // A picture of the window to look at, when asked for.
    const QString shot = qEnvironmentVariable("VELRPT_WINDOW_SHOT");
    if (!shot.isEmpty()) {
      EXPECT_TRUE(form.grab().save(shot));
    }
  }
  EXPECT_GE(simulator->Stats().answers, 1u);
}
