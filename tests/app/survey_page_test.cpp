// The "Meter survey" page as the operator meets it: beside the repeater
// page, fed by the receive path, refreshed by its timer, sorted, filtered,
// cleared and exported through the save dialog of the other tables.
#include <gtest/gtest.h>

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "app_test_util.h"
#include "program.h"
#include "settings_window.h"
#include "survey_page.h"

namespace {

// A telegram of `id` (8 hex digits) with CI 0x7A and the given
// configuration byte and signal byte.
Bytes Frame(const std::string& id, std::uint8_t config, std::uint8_t rssi) {
  Bytes t("\x44\x93\x15", 3);
  for (int k = 3; k >= 0; --k) t.push_back(static_cast<char>(std::stoi(id.substr(k * 2, 2), nullptr, 16)));
  t += Bytes("\x33\x07\x7A\x2A\x00", 5);
  t.push_back(static_cast<char>(config));
  t += Bytes("\x05\x2F\x2F", 3);
  Bytes f("\x68", 1);
  f.push_back(static_cast<char>(t.size() + 1));
  return f + t + static_cast<char>(rssi) + '\x16';
}

QString Cell(QTableView* view, int row, int col) { return view->model()->index(row, col).data().toString(); }

}  // namespace

TEST(SurveyPage, FollowsTheReceivePathSortsFiltersClearsAndExports) {
  QTemporaryDir dir;
  ScriptedPrompts prompts;
  FixedClock clock{LocalTime{2026, 12, 7, 9, 5, 3}};
  ProgramOptions options;
  options.iniPath = dir.filePath("velrpt.ini").toStdString();
  options.programDir = dir.path();
  options.devRoot = dir.path();
  Program program(options, prompts, clock,
                  LocalFormats(QStringLiteral("dd.MM.yyyy"), QStringLiteral("HH:mm:ss"), '.'));
  TForm1& form = program.Form();
  Find<QLineEdit>(program.Settings(), "Edit_export_separator")->setText("|");

  auto* pages = Find<QTabWidget>(form, "PageControl1");
  auto* page = Find<SurveyPage>(form, "TabSheetSurvey");
  ASSERT_EQ(pages->indexOf(page), 1);
  EXPECT_EQ(pages->tabText(1), "Meter survey");
  auto* grid = Find<QTableView>(form, "Grid_survey");
  form.show();
  pages->setCurrentIndex(1);

  // Meter 2 only through the repeater, meter 1 both ways, meter 3 directly.
  Bytes stream = Frame("00000002", 0x41, 0xA0) + Frame("00000001", 0x40, 0x80) +
                 Frame("00000001", 0x41, 0x87) + Frame("00000003", 0x00, 0x90) +
                 Frame("00000003", 0x00, 0x92);
  form.Receiver().ReceiveBytes(stream, DecodeOptions{});
  EXPECT_EQ(grid->model()->rowCount(), 0);  // not per telegram: the timer brings it
  QTRY_COMPARE_WITH_TIMEOUT(grid->model()->rowCount(), 3, 10000);
  EXPECT_EQ(Cell(grid, 0, 0), "00000001");
  EXPECT_EQ(Cell(grid, 0, 16), "both (-3.0)");  // 64 direct, 67 (weaker) repeated
  EXPECT_EQ(Cell(grid, 1, 16), "repeater only");
  EXPECT_EQ(Cell(grid, 2, 16), "direct only");
  EXPECT_EQ(Find<QLabel>(form, "Label_surveyCount")->text(), "3 meters");

  // A click on a header sorts by that column, a second one the other way.
  QHeaderView* header = grid->horizontalHeader();
  auto clickHeader = [&](int col) {
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(col) + 5, header->height() / 2));
  };
  clickHeader(4);  // direct count
  QStringList ids;
  for (int r = 0; r < 3; ++r) ids << Cell(grid, r, 0);
  EXPECT_EQ(ids, (QStringList{"00000002", "00000001", "00000003"}));
  clickHeader(4);
  EXPECT_EQ(Cell(grid, 0, 0), "00000003");

  Find<QSpinBox>(form, "Edit_minCount")->setValue(2);
  EXPECT_EQ(grid->model()->rowCount(), 2);

  // The export: the rows shown, a header row, the settings' separator.
  const QString file = dir.filePath("survey.csv");
  prompts.fileAnswers.push_back(file.toStdString());
  Find<QPushButton>(form, "BitBtn_exportSurvey")->click();
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = f.readAll().split('\n');
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[0].startsWith("id|manufacturer|medium|role|direct_count|")) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].startsWith("00000003|ELS|Water|meter|2|73|72|72.5|73|0|||||"))
      << lines[1].toStdString();
  EXPECT_TRUE(lines[2].startsWith("00000001|ELS|Water|meter|1|64|64|64.0|64|1|67|67|67.0|67|"));
  EXPECT_TRUE(lines[2].endsWith("|both|\r"));
  ASSERT_FALSE(prompts.shown.empty());
  EXPECT_EQ(prompts.shown.back().kind, "save");

  Find<QPushButton>(form, "BitBtn_clearSurvey")->click();
  EXPECT_EQ(grid->model()->rowCount(), 0);
  EXPECT_EQ(Find<QLabel>(form, "Label_surveyCount")->text(), "0 meters");
}
