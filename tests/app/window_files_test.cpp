// The window's files as the operator handles them: cells holding the
// separator come back whole, refused imports say why in the log, a big
// import shows its progress while the window goes on, and every save dialog
// starts where that kind of file was last saved and is followed by a line
// saying what was written.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "app_test_util.h"
#include "log_memo.h"
#include "program.h"
#include "settings_window.h"
#include "telegram_decoder.h"
#include "telegram_table_panel.h"

namespace {

using FilesFixture = WindowSetFixture;

void FillList(StringGrid& grid, const std::vector<std::string>& cells) {
  for (size_t c = 0; c < cells.size(); ++c) grid.SetCell(static_cast<int>(c), 1, cells[c]);
}

const char kImportFailed[] = "Error importing from selected file...";

}  // namespace

// Only a cell the plain form would cut is quoted; every other line is
// written as it always was, and each reads back into the same cells.
TEST(WindowFiles, CellsHoldingTheSeparatorReadBackWhole) {
  struct Case {
    const char* name;
    std::string separator;
    std::vector<std::string> cells;  // the meter ID list's row
    std::string file;
  } cases[] = {
      {"plain", ";", {"1", "12345678", "roof", "10:00"}, "1;12345678;roof;10:00;\r\n"},
      {"quotes alone stay verbatim", ";", {"1", "\"a\"", "say \"hi\"", "\""}, "1;\"a\";say \"hi\";\";\r\n"},
      {"separator in a note", ";", {"1", "12345678", "roof; north", ""}, "1;12345678;\"roof; north\";;\r\n"},
      {"comma separator", ",", {"1", "a,b", "c", "d"}, "1,\"a,b\",c,d,\r\n"},
      {"quote and separator", ";", {"2", "x;\"y\"", "", "z"}, "2;\"x;\"\"y\"\"\";;z;\r\n"},
      {"line break in a cell",
       ";",
       {"3", "two\r\nlines", "cr\ronly", "end"},
       "3;\"two\r\nlines\";\"cr\ronly\";end;\r\n"},
      {"tab separator", "\t", {"4", "a\tb", "c d", ""}, "4\t\"a\tb\"\tc d\t\t\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FilesFixture f;
    TForm1& form = f.Form();
    f.SetSeparator(c.separator);
    FillList(form.MeterList(), c.cells);
    const std::string file = f.Path("list.csv");
    f.prompts.fileAnswers = {file};
    form.Exportlist1->trigger();
    EXPECT_EQ(ReadFile(file), c.file);

    f.prompts.fileAnswers = {file};
    form.Importfromfile1->trigger();
    ASSERT_EQ(form.Table().RowCount(), 3);
    for (size_t k = 0; k < c.cells.size(); ++k)
      EXPECT_EQ(form.Table().Cell(static_cast<int>(k), 1), c.cells[k]) << k;
  }
}

// Files written before quoting existed read as they always did, also where
// a field starts with a quote.
TEST(WindowFiles, FieldsStartingWithAQuoteAreQuotedOnlyWhenTheyHoldTheSeparator) {
  struct Case {
    std::string content;
    std::vector<std::string> fields;
  } cases[] = {
      {"\"a\";b;\r\n", {"\"a\"", "b"}},           // no separator inside: verbatim
      {"\"a;b\";c;\r\n", {"a;b", "c"}},           // quoted
      {"\"a;b\"x;c;\r\n", {"\"a", "b\"x", "c"}},  // not closed before a separator
      {"\"open;\r\nnext;\r\n", {"\"open"}},       // never closed: verbatim, the line ends
      {"\"a\"\"b\";\r\n", {"\"a\"\"b\""}},        // doubled quote without separator
      {"\"x;\"\"y\"\"\";\r\n", {"x;\"y\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    FilesFixture f;
    TForm1& form = f.Form();
    const std::string file = f.Path("in.csv");
    WriteFile(file, c.content);
    f.prompts.fileAnswers = {file};
    form.Importfromfile1->trigger();
    ASSERT_GE(form.Table().RowCount(), 3);
    for (size_t k = 0; k < c.fields.size(); ++k)
      EXPECT_EQ(form.Table().Cell(static_cast<int>(k), 1), c.fields[k]) << k;
  }
}

TEST(WindowFiles, ARefusedImportSaysWhyInOneLogLine) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    std::string reason;  // the log line after "Error importing..."
  } cases[] = {
      {"over 16 MiB",
       [](const std::string& p) {
         WriteFile(p, "a;");
         ASSERT_EQ(::truncate(p.c_str(), (16 << 20) + 1), 0);
       },
       "Cannot read file %1: larger than 16777216 bytes"},
      {"binary", [](const std::string& p) { WriteFile(p, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)); },
       "Cannot import file %1: not a text file"},
      {"mostly control characters",
       [](const std::string& p) { WriteFile(p, std::string(50, '\x01') + "a;b;\r\n"); },
       "Cannot import file %1: not a text file"},
      {"empty", [](const std::string& p) { WriteFile(p, ""); }, "Cannot import file %1: it is empty"},
      {"missing", [](const std::string&) {}, "Cannot open file %1: No such file or directory"},
      {"too many separators",
       [](const std::string& p) { WriteFile(p, "a;\r\n" + std::string(13, ';') + "\r\n"); },
       "Cannot import file %1: line 2 has more than 12 separators"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FilesFixture f;
    TForm1& form = f.Form();
    const std::string file = f.Path("in.csv");
    c.make(file);
    form.Table().SetCell(1, 1, "12345678");
    f.prompts.fileAnswers = {file};
    form.Importfromfile1->trigger();
    EXPECT_EQ(f.Log(), (QStringList{kImportFailed,
                                    QString::fromStdString(c.reason).arg(QString::fromStdString(file))}));
    EXPECT_EQ(form.Table().Cell(1, 1), "12345678");  // the table as it was
  }
}

// 100,000 rows of an exported telegram table: the progress shows, the event
// loop keeps running between the pieces, and the table has every row.
TEST(WindowFiles, ABigImportShowsItsProgressAndTheWindowGoesOn) {
  FilesFixture f;
  TForm1& form = f.Form();
  constexpr int kRows = 100000;
  std::string content;
  content.reserve(kRows * 150);
  for (int r = 1; r <= kRows; ++r)
    content += std::to_string(r) + ";" + std::to_string(10000000 + r) +
               ";VLM;44332211;44 07;Water;77;09:05:03;07.12.2026;No encryption;"
               "68 44 2D 2C 78 56 34 12 07 07 7A 41 00 00 00 0C 13 01 02 16 ;\r\n";
  ASSERT_GT(content.size(), 10u << 20);
  const std::string file = f.Path("big.csv");
  WriteFile(file, content);

  int turns = 0;  // event-loop turns while the import runs
  QTimer beat;
  beat.setInterval(0);
  QObject::connect(&beat, &QTimer::timeout, [&] { ++turns; });
  beat.start();
  bool progressShown = false;
  f.prompts.fileAnswers = {file};
  form.Importfromfile1->trigger();
  auto* panel = form.findChild<TelegramTablePanel*>();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->Importing());
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        if (auto* p = form.findChild<QProgressDialog*>(QStringLiteral("ImportProgress")))
          progressShown = progressShown || p->value() > 0;
        return !panel->Importing();
      },
      60000));
  EXPECT_TRUE(progressShown);
  EXPECT_GT(turns, 10);
  ASSERT_EQ(form.Table().RowCount(), kRows + 2);
  EXPECT_EQ(form.Table().Cell(1, kRows), std::to_string(10000000 + kRows));
  EXPECT_EQ(f.Log(),
            QStringList{QStringLiteral("Imported 100000 rows from ") + QString::fromStdString(file)});
}

// Each kind of file has its own folder: the next dialog of that kind starts
// where the last one saved, also after a new start; a line says what was
// written; a table's dialog offers CSV first.
TEST(WindowFiles, SaveDialogsStartWhereThatKindWasLastSaved) {
  struct Kind {
    const char* name;
    std::function<void(TForm1&)> save;
    const char* filter;
    const char* what;  // the log line's count and noun
  } kinds[] = {
      {"log", [](TForm1& form) { form.Savelogfile1->trigger(); }, "TXT|*.txt|CSV|*.csv", "1 line"},
      {"telegram table", [](TForm1& form) { QTest::mouseClick(form.BitBtn7, Qt::LeftButton); },
       "CSV|*.csv|TXT|*.txt", "1 row"},
      {"meter ID list", [](TForm1& form) { form.Exportlist1->trigger(); }, "CSV|*.csv|TXT|*.txt", "1 row"},
  };
  FilesFixture f;
  ASSERT_TRUE(QDir(f.dir.path()).mkpath(QStringLiteral("a")));
  ASSERT_TRUE(QDir(f.dir.path()).mkpath(QStringLiteral("b")));
  ASSERT_TRUE(QDir(f.dir.path()).mkpath(QStringLiteral("files")));
  for (size_t k = 0; k < std::size(kinds); ++k) {
    SCOPED_TRACE(kinds[k].name);
    const Kind& kind = kinds[k];
    const std::string first = f.Path(k == 0 ? "files" : "");
    f.prompts.shown.clear();
    const std::string target = f.Path(std::string(k % 2 ? "a" : "b") + "/out" + std::to_string(k) + ".csv");
    f.prompts.fileAnswers = {target};
    kind.save(f.Form());
    ASSERT_EQ(f.prompts.shown.size(), 1u);
    EXPECT_EQ(QDir(QString::fromStdString(f.prompts.shown[0].dialog.folder)).canonicalPath(),
              QDir(QString::fromStdString(first)).canonicalPath());
    EXPECT_EQ(f.prompts.shown[0].dialog.filter, kind.filter);
    EXPECT_EQ(f.Form().Memo_log->Lines().last().toStdString(),
              "Saved " + std::string(kind.what) + " to " + target);
    EXPECT_NE(ReadFile(target), "<missing>");

    // Cancelled next time: the dialog started where the file went.
    f.prompts.fileAnswers = {std::nullopt};
    kind.save(f.Form());
    EXPECT_EQ(f.prompts.shown.back().dialog.folder,
              QFileInfo(QString::fromStdString(target)).path().toStdString());
  }
  // After a new start every kind still knows its folder; the import starts
  // where the table was saved.
  f.Start();
  for (size_t k = 0; k < std::size(kinds); ++k) {
    SCOPED_TRACE(kinds[k].name);
    f.prompts.shown.clear();
    f.prompts.fileAnswers = {std::nullopt};
    kinds[k].save(f.Form());
    ASSERT_EQ(f.prompts.shown.size(), 1u);
    EXPECT_EQ(f.prompts.shown[0].dialog.folder, f.Path(k % 2 ? "a" : "b"));
  }
  f.prompts.shown.clear();
  f.prompts.fileAnswers = {std::nullopt};
  f.Form().Importfromfile1->trigger();
  ASSERT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_EQ(f.prompts.shown[0].dialog.folder, f.Path("a"));
}
