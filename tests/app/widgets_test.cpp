#include <gtest/gtest.h>

#include <array>
#include <vector>

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "log_memo.h"
#include "string_grid_model.h"
#include "up_down.h"

TEST(StringGridModel, FollowsEveryKindOfGridChange) {
  StringGrid grid(3, 2);
  StringGridModel model(grid, /*editable=*/false);
  // Fails the test on any inconsistency between signals and counts.
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  QTableView view;
  view.setModel(&model);

  grid.SetCell(0, 0, "No. ");
  EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "No. ");
  grid.SetCell(1, 1, "12345678");
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(model.index(0, 1).data().toString(), "12345678");

  grid.SetRowCount(5);
  EXPECT_EQ(model.rowCount(), 4);
  grid.SetCell(2, 4, "last");
  EXPECT_EQ(model.index(3, 2).data().toString(), "last");

  DeleteGridRow(2, grid);  // bulk change: reported as a reset
  EXPECT_EQ(model.rowCount(), 3);
  EXPECT_EQ(model.index(2, 2).data().toString(), "last");
  EXPECT_EQ(model.index(2, 0).data().toString(), "3");

  grid.SetRowCount(2);
  EXPECT_EQ(model.rowCount(), 1);
  ClearGrid(grid);
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(model.index(0, 1).data().toString(), "");
  EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "No. ");
}

// A telegram rewrites a row cell by cell; the view hears of each row once,
// for the columns written, and never of a row that is gone.
TEST(StringGridModel, ReportsARowWrittenCellByCellOnce) {
  StringGrid grid(11, 5);
  StringGridModel model(grid, /*editable=*/false);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
  const auto reported = [&] {
    std::vector<std::array<int, 3>> out;  // view row, first and last column
    for (const QList<QVariant>& args : spy) {
      const auto from = args[0].value<QModelIndex>(), to = args[1].value<QModelIndex>();
      EXPECT_EQ(from.row(), to.row());
      out.push_back({from.row(), from.column(), to.column()});
    }
    spy.clear();
    return out;
  };

  for (int c = 0; c < 11; ++c) grid.SetCell(c, 2, "r2c" + std::to_string(c));
  for (int c = 3; c <= 5; ++c) grid.SetCell(c, 4, "r4");
  grid.SetCell(1, 2, "again");
  QCoreApplication::processEvents();
  using Rows = std::vector<std::array<int, 3>>;
  EXPECT_EQ(reported(), (Rows{{1, 0, 10}, {3, 3, 5}, {1, 1, 1}}));
  EXPECT_EQ(model.index(1, 1).data().toString(), "again");

  // Cells of a row written just before the grid shrinks below it are
  // reported while the row still exists (the tester checks the indexes).
  grid.SetCell(2, 4, "gone soon");
  grid.SetRowCount(3);
  QCoreApplication::processEvents();
  EXPECT_EQ(reported(), (Rows{{3, 2, 2}}));
  EXPECT_EQ(model.rowCount(), 2);

  // A reset covers what was gathered.
  grid.SetCell(0, 1, "x");
  ClearGrid(grid);
  QCoreApplication::processEvents();
  EXPECT_EQ(reported(), Rows{});
}

TEST(StringGridModel, EditsReachTheGridOnlyWhenEditable) {
  for (bool editable : {true, false}) {
    StringGrid grid(4, 2);
    StringGridModel model(grid, editable);
    const QModelIndex cell = model.index(0, 2);
    EXPECT_EQ(bool(model.flags(cell) & Qt::ItemIsEditable), editable);
    EXPECT_EQ(model.setData(cell, QStringLiteral("note"), Qt::EditRole), editable);
    EXPECT_EQ(grid.Cell(2, 1), editable ? "note" : "");
  }
}

TEST(LogMemo, EveryLineArrivesInOrderAfterOneEventLoopTurn) {
  LogMemo memo;
  const int count = 20000;
  for (int i = 0; i < count; ++i) memo.AppendLine(std::string_view(std::to_string(i)));
  EXPECT_EQ(memo.PendingCount(), count);
  ASSERT_TRUE(QTest::qWaitFor([&] { return memo.PendingCount() == 0; }, 5000));
  const QStringList lines = memo.Lines();
  ASSERT_EQ(lines.size(), count + 1);
  EXPECT_EQ(lines[0], "");  // the window starts with one empty line
  for (int i = 0; i < count; ++i) ASSERT_EQ(lines[i + 1], QString::number(i));

  memo.AppendLine(QStringLiteral("pending"));
  memo.Clear();
  EXPECT_EQ(memo.Lines(), QStringList{});  // the next line added is the first
}

TEST(UpDown, StaysInRangeWithoutWrappingAndFollowsItsBuddy) {
  QLineEdit buddy;
  UpDown spin(1, 6, 1);
  spin.SetBuddy(&buddy);
  EXPECT_EQ(buddy.text(), "1");

  auto* up = spin.findChild<QToolButton*>("up");
  auto* down = spin.findChild<QToolButton*>("down");
  ASSERT_TRUE(up && down);
  QTest::mouseClick(down, Qt::LeftButton);
  EXPECT_EQ(spin.Position(), 1);  // no wrap to 6
  for (int i = 0; i < 8; ++i) QTest::mouseClick(up, Qt::LeftButton);
  EXPECT_EQ(spin.Position(), 6);
  EXPECT_EQ(buddy.text(), "6");

  spin.SetPosition(0);
  EXPECT_EQ(spin.Position(), 1);
  EXPECT_EQ(buddy.text(), "1");

  // Typed text moves the position when it is a number in range.
  QTest::keyClick(&buddy, Qt::Key_Backspace);
  QTest::keyClicks(&buddy, "4");
  EXPECT_EQ(spin.Position(), 4);
  QTest::keyClick(&buddy, Qt::Key_Backspace);
  QTest::keyClicks(&buddy, "9");
  EXPECT_EQ(spin.Position(), 4);
}
