// The "Provisioning" page as the operator uses it: jobs imported from a
// file, run against the simulated Korvex with three repeaters through the
// window's own port, commands and receive path, and the report exported.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>

#include "app_test_util.h"
#include "log_memo.h"
#include "provisioning_page.h"
#include "sim_runner.h"
#include "text_files.h"

namespace {

TEST(ProvisioningPage, RunsAnImportedBatchThroughTheWindow) {
  sim::SimOptions so;
  so.repeaterId = "11111111";
  so.moreRepeaterIds = {"22222222", "33333333"};
  so.meters = 3;
  so.stuck = {{"22222222", {sim::StuckSetting::Field::RxHours, 5}}};
  sim::SimulatorRunner simulator(so);
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;

  FormFixture f;
  f.portName = simulator.SlavePath();
  TForm1& form = f.Make();
  ASSERT_EQ(form.PageControl1->count(), 3);
  EXPECT_EQ(form.PageControl1->tabText(2), QStringLiteral("Provisioning"));
  auto* page = Find<ProvisioningPage>(form, "TabSheet_provisioning");
  ASSERT_NE(page, nullptr);
  auto* grid = Find<QTableWidget>(form, "Grid_jobs");
  auto* start = Find<QPushButton>(form, "Button_start");
  EXPECT_FALSE(start->isEnabled());  // nothing to run yet

  const std::string jobs = f.dir.filePath(QStringLiteral("jobs.csv")).toStdString();
  ASSERT_TRUE(ReplaceFile(jobs,
                          "id;rx-hours;wireless-mode\n"
                          "11111111;3;Mode S\n"
                          "22222222;3;\n"
                          "33333333;2;Mode C\n",
                          error))
      << error;
  f.prompts.fileAnswers.push_back(jobs);
  QTest::mouseClick(Find<QPushButton>(form, "Button_importJobs"), Qt::LeftButton);
  ASSERT_EQ(grid->rowCount(), 3);
  EXPECT_EQ(grid->item(0, ProvisioningPage::kColWanted)->text(), QStringLiteral("hours 3, Mode S"));
  EXPECT_EQ(grid->item(1, ProvisioningPage::kColState)->text(), QStringLiteral("waiting"));

  // The stuck repeater answers every round: it needs no long wait to end as mismatch.
  Find<QSpinBox>(form, "Spin_attempts")->setValue(2);
  Find<QDoubleSpinBox>(form, "Spin_answerTimeout")->setValue(3);
  ASSERT_TRUE(start->isEnabled());
  QTest::mouseClick(start, Qt::LeftButton);
  EXPECT_TRUE(Find<QPushButton>(form, "Button_stop")->isEnabled());
  EXPECT_FALSE(start->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !page->Engine().Running(); }, 120'000));

  const auto cell = [&](int row, int column) { return grid->item(row, column)->text().toStdString(); };
  EXPECT_EQ(cell(0, ProvisioningPage::kColState), "verified");
  EXPECT_EQ(cell(1, ProvisioningPage::kColState), "mismatch");
  EXPECT_EQ(cell(1, ProvisioningPage::kColDiffers), "WORK HOURS RX wanted 3 reported 5");
  EXPECT_EQ(cell(1, ProvisioningPage::kColAttempts), "2");
  EXPECT_EQ(cell(2, ProvisioningPage::kColState), "verified");
  EXPECT_EQ(cell(2, ProvisioningPage::kColLastAnswer), "09:05:03");  // the fixture's clock
  const std::vector<sim::RepeaterState> states = simulator.Repeaters();
  EXPECT_EQ(states[0].rxHours, 3);
  EXPECT_EQ(states[0].wirelessMode, 3);
  EXPECT_EQ(states[2].wirelessMode, 5);

  // The window's log shows each answer as the receive path decodes it,
  // although none of these repeaters is the selected one.
  const QStringList log = form.Memo_log->Lines();
  for (const char* id : {"11111111", "22222222", "33333333"})
    EXPECT_TRUE(log.filter(QStringLiteral("Repeater %1, VLM: 68 ").arg(QLatin1String(id))).size() >= 1) << id;
  EXPECT_TRUE(log.contains(QStringLiteral("WORK HOURS RX = 5")));

  const std::string report = f.dir.filePath(QStringLiteral("report.csv")).toStdString();
  f.prompts.fileAnswers.push_back(report);
  QTest::mouseClick(Find<QPushButton>(form, "Button_exportReport"), Qt::LeftButton);
  std::string text;
  ASSERT_TRUE(ReadWholeFile(report, text, error)) << error;
  EXPECT_EQ(text,
            "id;result;attempts;differs;finished\n"
            "11111111;verified;" +
                cell(0, ProvisioningPage::kColAttempts) +
                ";;2026-12-07T09:05:03\n"
                "22222222;mismatch;2;WORK HOURS RX wanted 3 reported 5;2026-12-07T09:05:03\n"
                "33333333;verified;" +
                cell(2, ProvisioningPage::kColAttempts) + ";;2026-12-07T09:05:03\n");
}

TEST(ProvisioningPage, AddSelectedRepeaterTakesTheWindowsValues) {
  FormFixture f;
  TForm1& form = f.Make();
  auto* grid = Find<QTableWidget>(form, "Grid_jobs");
  auto* add = Find<QPushButton>(form, "Button_addRepeater");
  // No repeater selected: refused with the reason, nothing added.
  form.Edit_repeaterID->setText(QStringLiteral("1234"));
  QTest::mouseClick(add, Qt::LeftButton);
  EXPECT_EQ(grid->rowCount(), 0);
  ASSERT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_EQ(f.prompts.shown[0].text, "repeater ID must be 8 digits: '1234'");

  form.Edit_repeaterID->setText(QStringLiteral("12345678"));
  form.Edit_flag->setText(QStringLiteral("33"));
  form.Edit1->setText(QStringLiteral(""));
  form.Edit_newID->setText(QStringLiteral(""));
  QTest::mouseClick(add, Qt::LeftButton);
  ASSERT_EQ(grid->rowCount(), 1);
  const ProvisionJob& job = Find<ProvisioningPage>(form, "TabSheet_provisioning")->Jobs().at(0);
  EXPECT_EQ(job.id, "12345678");
  EXPECT_TRUE(job.rxStartHour && job.rxHours && job.wirelessMode);
  EXPECT_TRUE(job.setClock);
  EXPECT_EQ(job.flags.count(33), 1u);
  EXPECT_FALSE(job.calibration.has_value());
  EXPECT_TRUE(job.newId.empty());
}

// Whatever the parameter group shows goes into the job, or the job is
// refused with the reason: a job never leaves a shown setting out.
TEST(ProvisioningPage, AddSelectedRepeaterTakesEveryShownSettingOrRefuses) {
  const struct {
    const char* calibration;
    const char* flag;
    const char* newId;
    const char* refusal;  // nullptr: the job is added with all three
  } cases[] = {
      {"32767", "5", "87654321", nullptr},
      {"40000", "5", "", "clock calibration must be 0..32767"},
      {"32768", "", "", "clock calibration must be 0..32767"},
      {"300", "", "1234", "new ID must be 8 digits: '1234'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.calibration);
    FormFixture f;
    TForm1& form = f.Make();
    form.Edit_repeaterID->setText(QStringLiteral("12345678"));
    form.Edit1->setText(QString::fromLatin1(c.calibration));
    form.Check_onClock->setChecked(true);
    form.Edit_flag->setText(QString::fromLatin1(c.flag));
    form.Edit_newID->setText(QString::fromLatin1(c.newId));
    QTest::mouseClick(Find<QPushButton>(form, "Button_addRepeater"), Qt::LeftButton);
    const auto& jobs = Find<ProvisioningPage>(form, "TabSheet_provisioning")->Jobs();
    if (c.refusal) {
      EXPECT_TRUE(jobs.empty());
      ASSERT_EQ(f.prompts.shown.size(), 1u);
      EXPECT_EQ(f.prompts.shown[0].text, c.refusal);
      continue;
    }
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].calibration, 32767);
    EXPECT_TRUE(jobs[0].calibrationOn);
    EXPECT_EQ(jobs[0].flags.count(5), 1u);
    EXPECT_EQ(jobs[0].newId, "87654321");
  }
}

}  // namespace
