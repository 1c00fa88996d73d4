#include "grid_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "meterlist_test_util.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows DataRows(const StringGrid& grid) {
  Rows rows;
  for (int r = 1; r < grid.RowCount(); ++r) rows.push_back(grid.Row(r));
  return rows;
}

SeparatorSource Fixed(std::string separator) {
  return [separator] { return separator; };
}

class GridFiles : public ::testing::Test {
 protected:
  DataFolderFixture f;
};

TEST_F(GridFiles, ExportThenImportGivesBackTheCells) {
  for (int cols : {4, 11}) {
    for (const std::string sep : {";", ",", "\t", "|", ":", " "}) {
      StringGrid grid(cols, 4);
      for (int r = 1; r < 4; ++r)
        for (int c = 0; c < cols; ++c)
          if ((r + c) % 3 != 0) grid.SetCell(c, r, "r" + std::to_string(r) + "c" + std::to_string(c));
      grid.SetCell(0, 3, "");  // a row starting with an empty cell
      const std::string file = f.Path("grid" + std::to_string(cols) + ".csv");
      f.prompts.fileAnswers.push_back(file);
      ExportGrid(grid, "meters.csv", Fixed(sep), f.prompts, f.logs);

      StringGrid back(cols, 2);
      ASSERT_TRUE(ImportGrid(file, sep, back, f.prompts, f.logs)) << cols << " '" << sep << "'";
      Rows expected = DataRows(grid);
      expected.push_back(std::vector<std::string>(static_cast<size_t>(cols)));  // the empty row at the end
      EXPECT_EQ(DataRows(back), expected) << cols << " '" << sep << "'";
    }
  }
  EXPECT_EQ(ReadFileText(f.Path("glog.txt")), "");
}

TEST_F(GridFiles, ExportWritesEveryCellFollowedByTheSeparator) {
  StringGrid list(4, 3);
  list.SetCell(0, 0, "No.");  // the title row is not written
  list.SetCell(0, 1, "A");
  list.SetCell(1, 1, "B");
  list.SetCell(3, 1, "D");
  f.prompts.fileAnswers.push_back(f.Path("out.csv"));
  ExportGrid(list, "12345678_meters.csv", Fixed(";"), f.prompts, f.logs);
  EXPECT_EQ(ReadFileText(f.Path("out.csv")), "A;B;;D;\r\n;;;;\r\n");

  ASSERT_EQ(f.prompts.shown.size(), 1u);
  const auto& dialog = f.prompts.shown[0].dialog;
  EXPECT_EQ(f.prompts.shown[0].kind, "save");
  EXPECT_EQ(dialog.title, "Save log data");
  EXPECT_EQ(dialog.proposedName, "12345678_meters.csv");
  EXPECT_EQ(dialog.filter, "CSV|*.csv|TXT|*.txt");  // a table's file is a CSV file
  EXPECT_EQ(dialog.defaultExt, "csv");
}

TEST_F(GridFiles, ExportAsksForTheSeparatorForEveryCell) {
  StringGrid grid(2, 2);
  int calls = 0;
  f.prompts.fileAnswers.push_back(f.Path("out.csv"));
  ExportGrid(
      grid, "meters.csv", [&calls] { return ++calls == 1 ? std::string(";") : std::string(","); }, f.prompts,
      f.logs);
  EXPECT_EQ(ReadFileText(f.Path("out.csv")), ";,\r\n");
}

TEST_F(GridFiles, ExportCancelledOrFailing) {
  StringGrid grid(4, 2);
  grid.SetCell(1, 1, "12345678");

  // Cancelled, or an empty name: nothing written, nothing shown.
  f.prompts.fileAnswers = {std::nullopt, std::string()};
  ExportGrid(grid, "meters.csv", Fixed(";"), f.prompts, f.logs);
  ExportGrid(grid, "meters.csv", Fixed(";"), f.prompts, f.logs);
  EXPECT_EQ(f.prompts.shown.size(), 2u);
  EXPECT_EQ(f.prompts.shown.back().dialog.folder, f.logs.DataFolder());  // where settings and logs are

  // The dialog cannot be shown: a box and the detailed log only.
  f.prompts.shown.clear();
  f.prompts.failDialogs = true;
  ExportGrid(grid, "meters.csv", Fixed(";"), f.prompts, f.logs);
  f.prompts.failDialogs = false;
  ASSERT_EQ(f.prompts.shown.size(), 2u);
  EXPECT_EQ(f.prompts.shown[1].kind, "message");
  EXPECT_EQ(f.prompts.shown[1].caption, "Error saving file");
  EXPECT_EQ(f.prompts.shown[1].text, "File cannot be written or open!\nContact administrator.");
  EXPECT_EQ(f.prompts.shown[1].icon, Prompts::Icon::Error);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(f.Path("glog.txt"))));
  EXPECT_EQ(ReadFileText(f.Path("gloge.txt")),
            "The dialog could not be shown, encountered at 14:03:09,  08.12.2026\r\n");

  // A read-only target and a folder that does not exist: the box, code 10
  // and the failure text; the read-only file keeps its content.
  const std::string readOnly = f.Path("locked.csv");
  WriteFileText(readOnly, "old\r\n");
  ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
  for (const std::string& target : {readOnly, f.Path("missing/out.csv")}) {
    f.prompts.shown.clear();
    f.prompts.fileAnswers.push_back(target);
    ExportGrid(grid, "meters.csv", Fixed(";"), f.prompts, f.logs);
    ASSERT_EQ(f.prompts.shown.size(), 2u) << target;
    EXPECT_EQ(f.prompts.shown[1].caption, "Error saving file");
    EXPECT_EQ(f.prompts.shown[1].text, "File cannot be written, no rights!\nContact administrator.");
    EXPECT_EQ(f.prompts.shown[1].icon, Prompts::Icon::Error);
  }
  EXPECT_EQ(ReadFileText(readOnly), "old\r\n");
  EXPECT_EQ(ReadFileText(f.Path("glog.txt")),
            "Error 10, encountered at 14:03:09,  08.12.2026\r\n"
            "Error 10, encountered at 14:03:09,  08.12.2026\r\n");
  const std::string detailed = ReadFileText(f.Path("gloge.txt"));
  EXPECT_NE(detailed.find("Unable to write to " + readOnly), std::string::npos) << detailed;
  EXPECT_NE(detailed.find("Unable to write to " + f.Path("missing/out.csv")), std::string::npos) << detailed;
}

TEST_F(GridFiles, ExportReplacesAnExistingFileAndKeepsItsPermissions) {
  const std::string file = f.Path("out.csv");
  WriteFileText(file, "a much longer old content\r\nsecond line\r\n");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  StringGrid grid(2, 2);
  f.prompts.fileAnswers.push_back(file);
  ExportGrid(grid, "meters.csv", Fixed(";"), f.prompts, f.logs);
  EXPECT_EQ(ReadFileText(file), ";;\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // No temporary file stays behind.
  EXPECT_EQ(QDir(f.dir.path()).entryList(QDir::Files), QStringList{"out.csv"});
}

TEST_F(GridFiles, ImportSplitsLinesIntoColumns) {
  struct Case {
    const char* name;
    std::string content;
    std::string separator;
    Rows expected;  // data rows before the final empty row, 4 columns
  };
  const std::string twelve = "0;1;2;3;4;5;6;7;8;9;10;11;";
  const std::vector<Case> cases = {
      {"fields end with separators", "a;b;c;d;\r\n", ";", {{"a", "b", "c", "d"}}},
      {"text after the last separator is dropped", "a;b\r\n", ";", {{"a", "", "", ""}}},
      {"a line without separator keeps its number",
       "abc\r\n\r\nx;\r\n",
       ";",
       {{"1", "", "", ""}, {"2", "", "", ""}, {"x", "", "", ""}}},
      {"empty first field replaces the number", ";b;\r\n", ";", {{"", "b", "", ""}}},
      {"other separator matches nothing", "a;b;\r\nc;d;\r\n", ",", {{"1", "", "", ""}, {"2", "", "", ""}}},
      {"LF, CR and no final break",
       "a;\nb;\rc;",
       ";",
       {{"a", "", "", ""}, {"b", "", "", ""}, {"c", "", "", ""}}},
      {"twelve separators, extra fields not shown", twelve + "\r\n", ";", {{"0", "1", "2", "3"}}},
      {"separator of two characters never matches", "a;;b;;\r\n", ";;", {{"1", "", "", ""}}},
      {"empty separator never matches", "a;b;\r\n", "", {{"1", "", "", ""}}},
      {"tab separator", "a\tb\t\r\n", "\t", {{"a", "b", "", ""}}},
      {"a line is cut after 4096 characters", std::string(4096, 'x') + ";\r\n", ";", {{"1", "", "", ""}}},
  };
  for (const Case& c : cases) {
    const std::string file = f.Path("in.csv");
    WriteFileText(file, c.content);
    StringGrid grid(4, 3);
    grid.SetCell(0, 0, "No.");
    grid.SetCell(1, 2, "old");
    ASSERT_TRUE(ImportGrid(file, c.separator, grid, f.prompts, f.logs)) << c.name;
    Rows expected = c.expected;
    expected.push_back({"", "", "", ""});
    EXPECT_EQ(DataRows(grid), expected) << c.name;
    EXPECT_EQ(grid.Cell(0, 0), "No.") << c.name;
  }
  EXPECT_TRUE(f.prompts.shown.empty());
}

TEST_F(GridFiles, ImportOfTwelveSeparatorsFillsTwelveColumns) {
  const std::string file = f.Path("in.csv");
  WriteFileText(file, "0;1;2;3;4;5;6;7;8;9;10;11;\r\n");
  StringGrid grid(12, 2);
  ASSERT_TRUE(ImportGrid(file, ";", grid, f.prompts, f.logs));
  for (int c = 0; c < 12; ++c) EXPECT_EQ(grid.Cell(c, 1), std::to_string(c));
}

TEST_F(GridFiles, ImportThatWouldFailLeavesTheGridAsItWas) {
  StringGrid grid(11, 3);
  grid.SetCell(0, 1, "1");
  grid.SetCell(1, 1, "12345678");
  grid.SetCell(0, 2, "2");
  const Rows before = DataRows(grid);

  // Thirteen separators on the second line, even beyond column 11.
  WriteFileText(f.Path("many.csv"), "a;b;\r\n" + std::string(13, ';') + "\r\nc;\r\n");
  EXPECT_FALSE(ImportGrid(f.Path("many.csv"), ";", grid, f.prompts, f.logs));
  ASSERT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_EQ(f.prompts.shown[0].caption, "VelRpt");
  EXPECT_EQ(f.prompts.shown[0].text,
            "You are trying to import too many data!!!\nCorrect csv file and try again!");
  EXPECT_EQ(f.prompts.shown[0].icon, Prompts::Icon::None);
  EXPECT_EQ(DataRows(grid), before);

  // An empty file: false, nothing shown, grid unchanged.
  f.prompts.shown.clear();
  WriteFileText(f.Path("empty.csv"), "");
  EXPECT_FALSE(ImportGrid(f.Path("empty.csv"), ";", grid, f.prompts, f.logs));
  EXPECT_TRUE(f.prompts.shown.empty());
  EXPECT_EQ(DataRows(grid), before);

  // A file that cannot be read: the box, code 11 and the failure text.
  EXPECT_FALSE(ImportGrid(f.Path("nothing.csv"), ";", grid, f.prompts, f.logs));
  ASSERT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_EQ(f.prompts.shown[0].caption, "File Error");
  EXPECT_EQ(f.prompts.shown[0].text, "You chose wrong file for import!\nContact administrator!");
  EXPECT_EQ(f.prompts.shown[0].icon, Prompts::Icon::Warning);
  EXPECT_EQ(DataRows(grid), before);
  EXPECT_EQ(ReadFileText(f.Path("glog.txt")), "Error 11, encountered at 14:03:09,  08.12.2026\r\n");
  EXPECT_NE(ReadFileText(f.Path("gloge.txt")).find(f.Path("nothing.csv")), std::string::npos);
}

TEST_F(GridFiles, ImportFromDialog) {
  StringGrid grid(4, 2);
  WriteFileText(f.Path("in.csv"), "a;b;\r\n");

  f.prompts.failDialogs = true;
  EXPECT_EQ(ImportGridFromDialog(";", grid, f.prompts, f.logs), ImportResult::Cancelled);
  f.prompts.failDialogs = false;
  ASSERT_EQ(f.prompts.shown.size(), 1u);  // the dialog, and no box
  EXPECT_EQ(f.prompts.shown[0].kind, "open");
  EXPECT_EQ(f.prompts.shown[0].dialog.title, "Choose file for import");
  EXPECT_EQ(f.prompts.shown[0].dialog.filter, "CSV|*.csv|TXT|*.txt");
  EXPECT_EQ(f.prompts.shown[0].dialog.defaultExt, "csv");
  EXPECT_EQ(f.prompts.shown[0].dialog.folder, f.logs.DataFolder());  // where settings and logs are
  EXPECT_FALSE(f.logs.DataFolder().empty());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(f.Path("glog.txt"))));
  EXPECT_EQ(ReadFileText(f.Path("gloge.txt")),
            "The dialog could not be shown, encountered at 14:03:09,  08.12.2026\r\n");

  f.prompts.fileAnswers = {std::nullopt, std::string(), f.Path("in.csv"), f.Path("gone.csv")};
  EXPECT_EQ(ImportGridFromDialog(";", grid, f.prompts, f.logs), ImportResult::Cancelled);
  EXPECT_EQ(ImportGridFromDialog(";", grid, f.prompts, f.logs), ImportResult::Cancelled);
  EXPECT_EQ(DataRows(grid), (Rows{{"", "", "", ""}}));
  EXPECT_EQ(ImportGridFromDialog(";", grid, f.prompts, f.logs), ImportResult::Imported);
  EXPECT_EQ(grid.Cell(1, 1), "b");
  EXPECT_EQ(ImportGridFromDialog(";", grid, f.prompts, f.logs), ImportResult::Failed);
  EXPECT_EQ(grid.Cell(1, 1), "b");
}

}  // namespace
