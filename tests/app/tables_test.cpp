// The telegram table and the meter ID list as the operator handles them:
// selection, painting, keys, Clear, the chart after each change, the grid
// files through the dialogs, and the log files the failures write.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <string>
#include <vector>

#include "app_test_util.h"
#include "hex.h"
#include "log_memo.h"
#include "program.h"
#include "settings_window.h"
#include "signal_chart_view.h"
#include "telegram_decoder.h"

namespace {

const std::string kStamp = ", encountered at 09:05:03,  07.12.2026\r\n";
const char kImportFailed[] = "Error importing from selected file...";

using TablesFixture = WindowSetFixture;

using Rows = std::vector<std::vector<std::string>>;

// The data rows of a grid, every column.
Rows DataRows(const StringGrid& grid) {
  Rows rows;
  for (int r = 1; r < grid.RowCount(); ++r) rows.push_back(grid.Row(r));
  return rows;
}

void Fill(StringGrid& grid, const Rows& rows) {
  ClearGrid(grid);
  grid.SetRowCount(static_cast<int>(rows.size()) + 1);
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < rows[r].size(); ++c)
      grid.SetCell(static_cast<int>(c), static_cast<int>(r) + 1, rows[r][c]);
}

// A telegram-table row: number, meter ID and signal strength; the other
// columns hold what the decoder writes there.
std::vector<std::string> TableRow(int number, const std::string& id, const std::string& rssi) {
  return {std::to_string(number),
          id,
          "VLM",
          "44332211",
          "44 07",
          "Water",
          rssi,
          "09:05:03",
          "07.12.2026",
          "No encryption",
          "1E 44 2D 2C 78 56 34 12 07 07 7A 41"};
}

std::vector<std::string> EmptyRow(int columns) { return std::vector<std::string>(columns); }

struct Bars {
  QList<qreal> values;
  QStringList labels;
};

Bars ChartBars(TForm1& form) {
  Bars bars;
  for (const ChartBar& bar : form.Chart_db->Bars()) {
    bars.values.append(bar.value);
    bars.labels.append(QString::fromStdString(bar.label));
  }
  return bars;
}

}  // namespace

// --- the telegram table ---------------------------------------------------

TEST(TelegramTable, DeleteRemovesTheSelectedRowRenumbersAndRebuildsTheChart) {
  struct Case {
    int rows;      // data rows before
    int selected;  // the row selected before Delete
    std::vector<std::string> idsAfter;
    int selectedAfter;
  } cases[] = {
      {5, 3, {"11111111", "22222222", "44444444", "55555555"}, 3},
      {5, 1, {"22222222", "33333333", "44444444", "55555555"}, 1},
      // The last row goes; the row above becomes the operator's row.
      {5, 5, {"11111111", "22222222", "33333333", "44444444"}, 4},
      // The only row stays, emptied; the chart keeps just its "0" bar.
      {1, 1, {""}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rows << " rows, row " << c.selected);
    FormFixture f;
    TForm1& form = f.Make();
    Rows rows;
    for (int r = 1; r <= c.rows; ++r)
      rows.push_back(TableRow(r, std::string(8, char('0' + r)), "4" + std::to_string(r)));
    Fill(form.Table(), rows);
    form.DrawSignalChart(kColRssi);
    QTableView* view = form.Grid_values;
    view->selectionModel()->setCurrentIndex(view->model()->index(c.selected - 1, 2),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ASSERT_EQ(form.SelectedRow(), c.selected);

    QTest::keyClick(view, Qt::Key_Delete);

    const StringGrid& table = form.Table();
    ASSERT_EQ(table.RowCount(), static_cast<int>(c.idsAfter.size()) + 1);
    QStringList labels{"0"};
    QList<qreal> values{0};
    for (int r = 1; r < table.RowCount(); ++r) {
      EXPECT_EQ(table.Cell(kColMeterId, r), c.idsAfter[r - 1]);
      if (c.idsAfter[r - 1].empty()) continue;
      EXPECT_EQ(table.Cell(kColNumber, r), std::to_string(r));
      labels.append(QString::fromStdString(c.idsAfter[r - 1]));
      values.append(std::stoi(table.Cell(kColRssi, r)));
    }
    if (c.rows == 1) {
      EXPECT_EQ(table.Row(1), EmptyRow(kTableColumns));
    }
    EXPECT_EQ(form.SelectedRow(), c.selectedAfter);
    EXPECT_TRUE(view->selectionModel()->isRowSelected(c.selectedAfter - 1, {}));
    const Bars bars = ChartBars(form);
    EXPECT_EQ(bars.labels, labels);
    EXPECT_EQ(bars.values, values);
  }
}

TEST(TelegramTable, CtrlCCopiesTheSelectedRowTabSeparated) {
  FormFixture f;
  TForm1& form = f.Make();
  Fill(form.Table(), {TableRow(1, "11111111", "40"), TableRow(2, "22222222", "50")});
  QTableView* view = form.Grid_values;
  view->selectionModel()->setCurrentIndex(view->model()->index(1, 4),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(QStringLiteral("before"));

  // C alone is no command.
  QTest::keyClick(view, Qt::Key_C);
  EXPECT_EQ(clipboard->text(), "before");

  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(),
            "2\t22222222\tVLM\t44332211\t44 07\tWater\t50\t09:05:03\t07.12.2026\tNo encryption\t"
            "1E 44 2D 2C 78 56 34 12 07 07 7A 41");
  // Copying changes nothing in the table.
  EXPECT_EQ(form.Table().RowCount(), 3);
}

TEST(TelegramTable, ClearEmptiesTheTableAndTheChartFollows) {
  FormFixture f;
  TForm1& form = f.Make();
  Fill(form.Table(),
       {TableRow(1, "11111111", "40"), TableRow(2, "22222222", "50"), TableRow(3, "33333333", "60")});
  form.DrawSignalChart(kColRssi);
  ASSERT_EQ(ChartBars(form).values.size(), 4);
  form.Grid_values->selectionModel()->setCurrentIndex(
      form.Grid_values->model()->index(2, 0),
      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);

  QTest::mouseClick(form.BitBtn6, Qt::LeftButton);

  EXPECT_EQ(DataRows(form.Table()), Rows{EmptyRow(kTableColumns)});
  EXPECT_EQ(form.Table().Cell(kColMeterId, 0), "Meter ID ");
  EXPECT_EQ(form.Grid_values->model()->rowCount(), 1);
  EXPECT_EQ(form.SelectedRow(), 1);
  const Bars bars = ChartBars(form);
  EXPECT_EQ(bars.labels, QStringList{"0"});
  EXPECT_EQ(bars.values, QList<qreal>{0});
}

TEST(TelegramTable, TheOperatorsRowIsPaintedInTheHighlightColour) {
  FormFixture f;
  TForm1& form = f.Make();
  Fill(form.Table(),
       {TableRow(1, "11111111", "40"), TableRow(2, "22222222", "50"), TableRow(3, "33333333", "60")});
  QTableView* view = form.Grid_values;
  QPalette palette = view->palette();
  const QColor highlight(10, 200, 30);
  const QColor base(250, 250, 240);
  palette.setColor(QPalette::Highlight, highlight);
  palette.setColor(QPalette::Base, base);
  view->setPalette(palette);

  // One cell through the table's delegate, in the middle of a larger image,
  // so that anything painted outside the cell shows.
  const QColor outside(0, 0, 255);
  const QRect cell(20, 10, 64, 18);
  auto paintCell = [&](int row, int col) {
    QImage image(120, 40, QImage::Format_RGB32);
    image.fill(outside);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.rect = cell;
    option.palette = view->palette();
    option.font = view->font();
    option.state = QStyle::State_Enabled;
    option.widget = view;
    view->itemDelegate()->paint(&painter, option, view->model()->index(row - 1, col));
    return image;
  };
  auto textArea = [&](const QImage& image, QColor background) {
    QRect area;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
      for (int x = cell.left(); x <= cell.right(); ++x)
        if (image.pixelColor(x, y) != background) area |= QRect(x, y, 1, 1);
    return area;
  };

  struct Case {
    int selectCol, selectRow;
    int paintedRow;
    bool highlighted;
  } cases[] = {
      {3, 2, 2, true},
      {3, 2, 1, false},
      {3, 2, 3, false},
      {0, 3, 3, true},
      // A selection of the title row highlights no data row.
      {0, 0, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "selected " << c.selectRow << ", painted " << c.paintedRow);
    form.Grid_valuesSelectCell(c.selectCol, c.selectRow);
    const QImage image = paintCell(c.paintedRow, kColMeterId);
    const QColor background = c.highlighted ? highlight : base;
    // Corner to corner the cell's colour; where the text is, it is not.
    EXPECT_EQ(image.pixelColor(cell.bottomRight()), background);
    EXPECT_EQ(image.pixelColor(cell.right(), cell.top()), background);
    const QRect text = textArea(image, background);
    ASSERT_FALSE(text.isEmpty());
    // At the top-left corner, no margin: the first glyph starts within its
    // own side bearing.
    EXPECT_LE(text.left() - cell.left(), 2);
    EXPECT_LE(text.top() - cell.top(), 5);
    // Nothing outside the cell.
    for (int x = 0; x < image.width(); ++x) {
      EXPECT_EQ(image.pixelColor(x, cell.top() - 1), outside);
      EXPECT_EQ(image.pixelColor(x, cell.bottom() + 1), outside);
    }
    for (int y = 0; y < image.height(); ++y) {
      EXPECT_EQ(image.pixelColor(cell.left() - 1, y), outside);
      EXPECT_EQ(image.pixelColor(cell.right() + 1, y), outside);
    }
  }

  // A long text is cut at the cell's right edge.
  form.Table().SetCell(kColNotes, 1, std::string(60, 'W'));
  form.Grid_valuesSelectCell(0, 1);
  const QImage cut = paintCell(1, kColNotes);
  EXPECT_EQ(textArea(cut, highlight).right(), cell.right());

  // The whole view: the title row never takes the highlight colour; with
  // the title row as the selected row nothing does.
  view->resize(800, 120);
  auto highlightPixels = [&](QWidget* widget) {
    const QImage image = widget->grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == highlight;
    return count;
  };
  for (int selected : {0, 1, 3}) {
    SCOPED_TRACE(selected);
    form.Grid_valuesSelectCell(0, selected);
    EXPECT_EQ(highlightPixels(view->horizontalHeader()), 0);
    if (selected == 0)
      EXPECT_EQ(highlightPixels(view->viewport()), 0);
    else
      EXPECT_GT(highlightPixels(view->viewport()), 0);
  }
}

// --- the meter ID list ----------------------------------------------------

TEST(MeterList, PopupMenuInItsOrderAndTheItemsWithoutActionDoNothing) {
  TablesFixture f;
  TForm1& form = f.Form();
  auto* menu = Find<QMenu>(form, "PopupGrid");
  ASSERT_NE(menu, nullptr);
  QStringList texts;
  QStringList names;
  for (QAction* action : menu->actions()) {
    texts << action->text();
    names << action->objectName();
  }
  EXPECT_EQ(texts, (QStringList{"Delete ID", "Export list", "Import from file", "Send this ID",
                                "Send all and clear", "Delete all and clear", "Clear table"}));
  EXPECT_EQ(names, (QStringList{"DeleteID1", "Exportlist1", "Importfromfile1", "SendthisID1",
                                "Sendallandclear1", "Deleteallandclear1", "Cleartable1"}));

  // A right click in the list opens it.
  const QPoint at(10, 10);
  QContextMenuEvent click(QContextMenuEvent::Mouse, at, form.StringGrid1->viewport()->mapToGlobal(at));
  QApplication::sendEvent(form.StringGrid1->viewport(), &click);
  EXPECT_TRUE(menu->isVisible());
  menu->hide();

  Fill(form.MeterList(), {{"1", "12345678", "roof", "10:00"}});
  Fill(form.Table(), {TableRow(1, "11111111", "40")});
  const Rows meters = DataRows(form.MeterList());
  const Rows table = DataRows(form.Table());
  const QStringList log = form.Memo_log->Lines();
  for (const char* name : {"DeleteID1", "SendthisID1", "Sendallandclear1", "Deleteallandclear1"}) {
    SCOPED_TRACE(name);
    Find<QAction>(form, name)->trigger();
    EXPECT_TRUE(f.prompts.shown.empty());
    EXPECT_EQ(DataRows(form.MeterList()), meters);
    EXPECT_EQ(DataRows(form.Table()), table);
    EXPECT_EQ(form.Memo_log->Lines(), log);
  }

  // "Clear table" clears the list, not the telegram table.
  form.MeterList().SetRowCount(4);
  form.Cleartable1->trigger();
  EXPECT_EQ(DataRows(form.MeterList()), Rows{EmptyRow(4)});
  EXPECT_EQ(form.MeterList().Row(0), (std::vector<std::string>{"No.", "Serial ID", "Note ", "Time "}));
  EXPECT_EQ(DataRows(form.Table()), table);
}

TEST(MeterList, ExportListAndCtrlEProposeTheRepeaterIdAndWriteTheCells) {
  TablesFixture f;
  TForm1& form = f.Form();
  QTableView* grid = form.StringGrid1;
  const std::string file = f.Path("list.csv");

  struct Case {
    const char* repeater;
    const char* how;
    const char* proposed;
  } cases[] = {
      {"12345678", "menu", "12345678_meters.csv"},
      {"", "menu", "_meters.csv"},
      {"0042", "ctrl+e", "0042_meters.csv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how + std::string(" ") + c.repeater);
    form.Edit_repeaterID->setText(QString::fromLatin1(c.repeater));
    f.prompts.fileAnswers = {file};
    if (std::string(c.how) == "menu")
      form.Exportlist1->trigger();
    else
      QTest::keyClick(grid, Qt::Key_E, Qt::ControlModifier);
    const auto shown = f.TakeShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, "save");
    EXPECT_EQ(shown[0].dialog.title, "Save log data");
    EXPECT_EQ(shown[0].dialog.proposedName, c.proposed);
    EXPECT_EQ(shown[0].dialog.filter, "CSV|*.csv|TXT|*.txt");
    EXPECT_EQ(shown[0].dialog.defaultExt, "csv");
    // The untouched list: one line of four separators.
    EXPECT_EQ(ReadFile(file), ";;;;\r\n");
  }

  // E without Ctrl is the grid's: it starts editing, no dialog.
  grid->setCurrentIndex(grid->model()->index(0, 1));
  QTest::keyClick(grid, Qt::Key_E);
  EXPECT_TRUE(f.prompts.shown.empty());

  // Typed cells, and Ctrl+E pressed in the cell still being edited: the
  // text typed so far goes out with the rest.
  QLineEdit* editor = grid->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  QTest::keyClicks(editor, QStringLiteral("1234"));
  form.MeterList().SetCell(0, 1, "A");
  form.MeterList().SetCell(3, 1, "D");
  f.prompts.fileAnswers = {file};
  QTest::keyClick(editor, Qt::Key_E, Qt::ControlModifier);
  ASSERT_EQ(f.TakeShown().size(), 1u);
  EXPECT_EQ(ReadFile(file), "A;e1234;;D;\r\n");
  // Typing goes on where the cursor is.
  QTest::keyClick(editor, Qt::Key_Home);
  QTest::keyClicks(editor, QStringLiteral("98"));
  EXPECT_EQ(editor->text(), "98e1234");
}

// --- the grid files through the window ------------------------------------

TEST(GridFiles, ExportThenImportGivesBackTheCellsWithEverySeparator) {
  const Rows table = {TableRow(1, "11111111", "40"), TableRow(2, "22222222", "55"),
                      TableRow(3, "33333333", "")};
  const Rows meters = {{"1", "12345678", "roof, north", "10:00"}};
  for (const std::string separator : {";", ",", "\t", "|", "#"}) {
    SCOPED_TRACE("separator '" + separator + "'");
    TablesFixture f;
    TForm1& form = f.Form();
    f.SetSeparator(separator);
    const std::string tableFile = f.Path("table.csv");
    const std::string listFile = f.Path("list.csv");
    // The meter list's note holds a comma: with "," as separator it is
    // quoted, and read back whole.
    const Rows expectedMeters = meters;

    Fill(form.Table(), table);
    f.prompts.fileAnswers = {tableFile};
    QTest::mouseClick(form.BitBtn7, Qt::LeftButton);
    Fill(form.MeterList(), meters);
    f.prompts.fileAnswers = {listFile};
    form.Exportlist1->trigger();
    const auto saves = f.TakeShown();
    ASSERT_EQ(saves.size(), 2u);
    EXPECT_EQ(saves[0].dialog.proposedName, "meters.csv");
    EXPECT_EQ(saves[0].dialog.title, "Save log data");

    // Every cell followed by the separator, every line ended by CR LF.
    std::string expected;
    for (const auto& row : table) {
      for (const auto& cell : row) expected += cell + separator;
      expected += "\r\n";
    }
    EXPECT_EQ(ReadFile(tableFile), expected);

    // Back into the telegram table: the same cells, one empty row below.
    QTest::mouseClick(form.BitBtn6, Qt::LeftButton);
    f.prompts.fileAnswers = {tableFile};
    form.Importfromfile1->trigger();
    Rows back = table;
    back.push_back(EmptyRow(kTableColumns));
    EXPECT_EQ(DataRows(form.Table()), back);
    const Bars bars = ChartBars(form);
    EXPECT_EQ(bars.labels, (QStringList{"0", "11111111", "22222222"}));
    EXPECT_EQ(bars.values, (QList<qreal>{0, 40, 55}));

    // The meter list's file also goes into the telegram table, field k into
    // column k - 1; the list itself is left alone.
    f.prompts.fileAnswers = {listFile};
    form.Importfromfile1->trigger();
    ASSERT_EQ(form.Table().RowCount(), 3);
    for (size_t k = 0; k < expectedMeters[0].size(); ++k)
      EXPECT_EQ(form.Table().Cell(static_cast<int>(k), 1), expectedMeters[0][k]) << k;
    EXPECT_EQ(form.Table().Cell(static_cast<int>(expectedMeters[0].size()), 1), "");
    EXPECT_EQ(DataRows(form.MeterList()), meters);
    // No meter ID in a list row's signal column: only the "0" bar.
    EXPECT_EQ(ChartBars(form).values.size(), 1);

    const auto opens = f.TakeShown();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].kind, "open");
    EXPECT_EQ(opens[0].dialog.title, "Choose file for import");
    EXPECT_EQ(opens[0].dialog.filter, "CSV|*.csv|TXT|*.txt");
    EXPECT_EQ(opens[0].dialog.defaultExt, "csv");
    // Each file written and read says so.
    EXPECT_EQ(form.Memo_log->Lines(),
              (QStringList{QString(), QString::fromStdString("Saved 3 rows to " + tableFile),
                           QString::fromStdString("Saved 1 row to " + listFile),
                           QString::fromStdString("Imported 3 rows from " + tableFile),
                           QString::fromStdString("Imported 1 row from " + listFile)}));
  }
}

TEST(GridFiles, ImportLimits) {
  struct Case {
    const char* name;
    std::string content;
    Rows rows;  // the table afterwards, without the empty last row
  } cases[] = {
      {"twelve separators",
       "a;b;c;d;e;f;g;h;i;j;k;l;\r\n",
       {{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"}}},
      {"text after the last separator", "a;b\r\n", {{"a"}}},
      {"empty line and no separator", "\r\nplain\n", {{"1"}, {"2"}}},
      {"line cut after 4096 characters",
       std::string(4095, 'x') + ";y;\r\n" + "z;\r\n",
       {{std::string(4095, 'x')}, {"z"}}},
      {"other separator in the file", "a,b,\r\nc,d,\r\n", {{"1"}, {"2"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TablesFixture f;
    TForm1& form = f.Form();
    const std::string file = f.Path("in.csv");
    WriteFile(file, c.content);
    f.prompts.fileAnswers = {file};
    form.Importfromfile1->trigger();
    Rows expected;
    for (auto row : c.rows) {
      row.resize(kTableColumns);
      expected.push_back(row);
    }
    expected.push_back(EmptyRow(kTableColumns));
    EXPECT_EQ(DataRows(form.Table()), expected);
    EXPECT_EQ(f.TakeShown().size(), 1u);  // the open dialog, no message
    EXPECT_EQ(form.Memo_log->Lines(),
              (QStringList{QString(), QString::fromStdString("Imported " + std::to_string(c.rows.size()) +
                                                             (c.rows.size() == 1 ? " row" : " rows") +
                                                             " from " + file)}));
  }
}

TEST(GridFiles, ImportFailuresLeaveTheTableAsItWasAndSaySo) {
  struct Case {
    const char* name;
    std::optional<std::string> content;  // nothing: the file does not exist
    bool dialogFails;
    std::optional<std::string> answer;  // the open dialog's answer
    std::vector<std::string> messages;  // caption / text
    std::string logLine;                // the reason after "Error importing..."; empty: none
    std::string glog;
    bool detailed;
  } cases[] = {
      {"too many separators",
       "a;b;\r\n" + std::string(13, ';') + "\r\n",
       false,
       "in.csv",
       {"VelRpt", "You are trying to import too many data!!!\nCorrect csv file and try again!"},
       "Cannot import file %1: line 2 has more than 12 separators",
       "",
       false},
      {"empty file", "", false, "in.csv", {}, "Cannot import file %1: it is empty", "", false},
      {"missing file",
       std::nullopt,
       false,
       "in.csv",
       {"File Error", "You chose wrong file for import!\nContact administrator!"},
       "Cannot open file %1: No such file or directory",
       "Error 11" + kStamp,
       true},
      {"dialog cancelled", "a;\r\n", false, std::nullopt, {}, "", "", false},
      {"dialog cannot be shown", "a;\r\n", true, "in.csv", {}, "", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TablesFixture f;
    TForm1& form = f.Form();
    const std::string file = f.Path("in.csv");
    if (c.content) WriteFile(file, *c.content);
    Fill(form.Table(), {TableRow(1, "11111111", "40")});
    form.DrawSignalChart(kColRssi);
    const Rows before = DataRows(form.Table());
    f.prompts.fileAnswers = {c.answer ? std::optional<std::string>(file) : std::nullopt};
    f.prompts.failDialogs = c.dialogFails;

    form.Importfromfile1->trigger();

    EXPECT_EQ(DataRows(form.Table()), before);
    EXPECT_EQ(ChartBars(form).values, (QList<qreal>{0, 40}));
    const auto shown = f.TakeShown();
    ASSERT_EQ(shown.size(), c.messages.empty() ? 1u : 2u);
    if (!c.messages.empty()) {
      EXPECT_EQ(shown[1].kind, "message");
      EXPECT_EQ(shown[1].caption, c.messages[0]);
      EXPECT_EQ(shown[1].text, c.messages[1]);
      EXPECT_EQ(shown[1].icon, c.messages[0] == "VelRpt" ? Prompts::Icon::None : Prompts::Icon::Warning);
    }
    QStringList log{QString()};
    if (!c.logLine.empty())
      log << kImportFailed << QString::fromStdString(c.logLine).arg(QString::fromStdString(file));
    EXPECT_EQ(form.Memo_log->Lines(), log);
    EXPECT_EQ(ReadFile(f.Path("glog.txt")), c.glog.empty() ? "<missing>" : c.glog);
    const std::string detailed = ReadFile(f.Path("gloge.txt"));
    if (c.detailed) {
      const std::string reason = c.dialogFails ? "The dialog could not be shown"
                                               : "Cannot open file " + file + ": No such file or directory";
      EXPECT_EQ(detailed, reason + kStamp);
    } else {
      EXPECT_EQ(detailed, "<missing>");
    }
  }
}

TEST(GridFiles, ExportCancelledOrFailingWithTheLogFolderPresentOrAbsent) {
  for (const bool folderPresent : {false, true}) {
    SCOPED_TRACE(folderPresent ? "files/ present" : "files/ absent");
    TablesFixture f;
    TForm1& form = f.Form();
    if (folderPresent) {
      ASSERT_TRUE(QDir(f.dir.path()).mkdir(QStringLiteral("files")));
    }
    const std::string logs = (folderPresent ? f.Path("files") : f.dir.path().toStdString()) + "/";
    const std::string unwritable = f.Path("no-such-folder/meters.csv");

    // Cancelled: nothing at all.
    f.prompts.fileAnswers = {std::nullopt};
    QTest::mouseClick(form.BitBtn7, Qt::LeftButton);
    EXPECT_EQ(f.TakeShown().size(), 1u);

    // Three failures in a row: the table's export, the list's export and
    // the list's export by Ctrl+E.
    f.prompts.fileAnswers = {unwritable, unwritable, unwritable};
    QTest::mouseClick(form.BitBtn7, Qt::LeftButton);
    form.Exportlist1->trigger();
    QTest::keyClick(form.StringGrid1, Qt::Key_E, Qt::ControlModifier);
    auto shown = f.TakeShown();
    ASSERT_EQ(shown.size(), 6u);
    for (int i = 1; i < 6; i += 2) {
      EXPECT_EQ(shown[i].caption, "Error saving file");
      EXPECT_EQ(shown[i].text, "File cannot be written, no rights!\nContact administrator.");
      EXPECT_EQ(shown[i].icon, Prompts::Icon::Error);
    }
    const std::string reason = "Unable to write to " + unwritable + ": No such file or directory";
    EXPECT_EQ(ReadFile(logs + "glog.txt"), "Error 10" + kStamp + "Error 10" + kStamp + "Error 10" + kStamp);
    EXPECT_EQ(ReadFile(logs + "gloge.txt"), reason + kStamp + reason + kStamp + reason + kStamp);

    // The dialog cannot be shown: its own message, the detailed log only.
    f.prompts.failDialogs = true;
    QTest::mouseClick(form.BitBtn7, Qt::LeftButton);
    shown = f.TakeShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].caption, "Error saving file");
    EXPECT_EQ(shown[1].text, "File cannot be written or open!\nContact administrator.");
    EXPECT_EQ(shown[1].icon, Prompts::Icon::Error);
    EXPECT_EQ(ReadFile(logs + "glog.txt"), "Error 10" + kStamp + "Error 10" + kStamp + "Error 10" + kStamp);
    EXPECT_EQ(ReadFile(logs + "gloge.txt"),
              reason + kStamp + reason + kStamp + reason + kStamp + "The dialog could not be shown" + kStamp);

    // The program never makes the log folder; without it the logs sit in
    // the data folder itself.
    EXPECT_EQ(QDir(f.dir.path()).exists(QStringLiteral("files")), folderPresent);
    if (folderPresent) {
      EXPECT_EQ(ReadFile(f.Path("glog.txt")), "<missing>");
    }
    EXPECT_EQ(form.Memo_log->Lines(), QStringList{QString()});
  }
}

// --- "File" > "Save log file" ---------------------------------------------

TEST(SaveLogFile, WritesEveryLineWithCrLfReplacingTheFile) {
  for (const bool folderPresent : {false, true}) {
    SCOPED_TRACE(folderPresent ? "files/ present" : "files/ absent");
    TablesFixture f;
    TForm1& form = f.Form();
    if (folderPresent) {
      ASSERT_TRUE(QDir(f.dir.path()).mkdir(QStringLiteral("files")));
    }
    const std::string file = f.Path("saved.txt");
    WriteFile(file, "an older and much longer content\r\n\r\n\r\n");

    form.Memo_log->AppendLine(std::string_view("07.12.2026 09:05:03 68 44 2D 2C"));
    form.Memo_log->AppendLine(std::string_view("Exception - bad answer"));
    f.prompts.fileAnswers = {file};
    form.Savelogfile1->trigger();
    // The log window starts with its empty line.
    EXPECT_EQ(ReadFile(file), "\r\n07.12.2026 09:05:03 68 44 2D 2C\r\nException - bad answer\r\n");
    const auto shown = f.TakeShown();
    ASSERT_EQ(shown.size(), 1u);  // the dialog; a successful save shows nothing
    EXPECT_EQ(shown[0].kind, "save");
    EXPECT_EQ(shown[0].dialog.title, "Save log data");
    EXPECT_EQ(shown[0].dialog.proposedName, "general_log.txt");
    EXPECT_EQ(shown[0].dialog.filter, "TXT|*.txt|CSV|*.csv");
    EXPECT_EQ(shown[0].dialog.defaultExt, "csv");
    EXPECT_EQ(shown[0].dialog.folder, folderPresent ? f.Path("files") : f.dir.path().toStdString());

    // After "Clear log" the first line is the first one added since.
    form.Clearlog1->trigger();
    form.Memo_log->AppendLine(std::string_view("Last line"));
    f.prompts.fileAnswers = {file};
    form.Savelogfile1->trigger();
    EXPECT_EQ(ReadFile(file), "Last line\r\n");

    // Cancelled: the file stays.
    form.Memo_log->AppendLine(std::string_view("not saved"));
    f.prompts.fileAnswers = {std::nullopt};
    form.Savelogfile1->trigger();
    EXPECT_EQ(ReadFile(file), "Last line\r\n");
    EXPECT_EQ(f.TakeShown().size(), 2u);
    EXPECT_EQ(ReadFile(f.Path("glog.txt")), "<missing>");
  }
}

// A received frame's line is saved as the text the window shows.
TEST(SaveLogFile, ReceivedFramesAreSavedAsTheirText) {
  TablesFixture f;
  TForm1& form = f.Form();
  const std::string file = f.Path("saved.txt");
  const std::string frame("\x68\x04\x44\x2D\x2C\x80\x16", 7);
  form.Memo_log->AppendTelegramLine("07.12.2026, 09:05:03: ", frame, HexText(frame));
  form.Memo_log->AppendTelegramLine("", frame, HexText(frame));
  form.Memo_log->AppendLine(std::string_view("Exception - bad answer"));
  f.prompts.fileAnswers = {file};
  form.Savelogfile1->trigger();
  EXPECT_EQ(ReadFile(file),
            "\r\n07.12.2026, 09:05:03: 68 04 44 2D 2C 80 16 \r\n68 04 44 2D 2C 80 16 \r\nException - bad "
            "answer\r\n");
}

TEST(SaveLogFile, FailuresAreShownAndLogged) {
  for (const bool folderPresent : {false, true}) {
    SCOPED_TRACE(folderPresent ? "files/ present" : "files/ absent");
    TablesFixture f;
    TForm1& form = f.Form();
    if (folderPresent) {
      ASSERT_TRUE(QDir(f.dir.path()).mkdir(QStringLiteral("files")));
    }
    const std::string logs = (folderPresent ? f.Path("files") : f.dir.path().toStdString()) + "/";
    const std::string readOnly = f.Path("locked.txt");
    WriteFile(readOnly, "kept\r\n");
    ASSERT_TRUE(QFile::setPermissions(QString::fromStdString(readOnly), QFileDevice::ReadOwner));

    f.prompts.fileAnswers = {f.Path("no-such-folder/general_log.txt"), readOnly};
    form.Savelogfile1->trigger();
    form.Savelogfile1->trigger();
    const auto shown = f.TakeShown();
    ASSERT_EQ(shown.size(), 4u);
    for (int i : {1, 3}) {
      EXPECT_EQ(shown[i].kind, "message");
      EXPECT_EQ(shown[i].caption, "File Error");
      EXPECT_EQ(shown[i].text, "Error saving log file!\nContact administrator!");
      EXPECT_EQ(shown[i].icon, Prompts::Icon::Warning);
    }
    EXPECT_EQ(ReadFile(readOnly), "kept\r\n");
    EXPECT_EQ(ReadFile(logs + "glog.txt"), "Error 13" + kStamp + "Error 13" + kStamp);
    EXPECT_EQ(ReadFile(logs + "gloge.txt"), "Unable to write to " + f.Path("no-such-folder/general_log.txt") +
                                                ": No such file or directory" + kStamp +
                                                "Unable to write to " + readOnly + ": Permission denied" +
                                                kStamp);
    // The log window keeps its lines.
    EXPECT_EQ(form.Memo_log->Lines(), QStringList{QString()});

    // A dialog that cannot be shown is reported like any unexpected failure.
    f.prompts.failDialogs = true;
    form.Savelogfile1->trigger();
    const auto failed = f.TakeShown();
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[1].caption, "VelRpt");
    EXPECT_EQ(failed[1].text, "The dialog could not be shown");
  }
}
