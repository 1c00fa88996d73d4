#include "error_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>

#include "meterlist_test_util.h"

namespace {

const char kErrorLine[] = "Error 10, encountered at 14:03:09,  08.12.2026\r\n";
const char kDetailLine[] = "Cannot open x: No such file, encountered at 14:03:09,  08.12.2026\r\n";

TEST(ErrorLogs, LinesGoToTheLogFolderOrElseTheDataFolder) {
  for (bool withFolder : {true, false}) {
    DataFolderFixture f;
    const std::string folder = withFolder ? f.Path("files") : f.Folder();
    if (withFolder) {
      ASSERT_TRUE(QDir(f.dir.path()).mkdir("files"));
    }
    EXPECT_EQ(f.logs.LogFolder(), folder);

    // First failure: the files are created and hold one line each.
    f.logs.WriteErrorLog(10);
    f.logs.WriteDetailedLog("Cannot open x: No such file");
    EXPECT_EQ(ReadFileText(folder + "/glog.txt"), kErrorLine);
    EXPECT_EQ(ReadFileText(folder + "/gloge.txt"), kDetailLine);

    // Later lines are appended in the order of the events.
    f.logs.WriteErrorLog(11);
    f.logs.WriteErrorLog(13);
    EXPECT_EQ(ReadFileText(folder + "/glog.txt"), std::string(kErrorLine) +
                                                      "Error 11, encountered at 14:03:09,  08.12.2026\r\n"
                                                      "Error 13, encountered at 14:03:09,  08.12.2026\r\n");
    EXPECT_TRUE(f.prompts.shown.empty());
    // The program never creates the log folder.
    EXPECT_EQ(QDir(f.dir.path()).exists("files"), withFolder);
  }
}

// A detailed entry is one line whatever the text it records holds (a file
// name with a line break, say): control characters are written escaped.
TEST(ErrorLogs, ADetailedEntryStaysOnOneLine) {
  DataFolderFixture f;
  f.logs.WriteDetailedLog("Cannot open a\nError 1, encountered at 00:00:00,  01.01.2026\r\x07: gone");
  EXPECT_EQ(ReadFileText(f.Path("gloge.txt")),
            "Cannot open a\\nError 1, encountered at 00:00:00,  01.01.2026\\r\\x07: gone"
            ", encountered at 14:03:09,  08.12.2026\r\n");
}

TEST(ErrorLogs, AppendingKeepsWhatIsThere) {
  DataFolderFixture f;
  // An older file whose last line has no line break yet.
  WriteFileText(f.Path("glog.txt"), "Error 11, old\r\nError 13, older");
  f.logs.WriteErrorLog(10);
  EXPECT_EQ(ReadFileText(f.Path("glog.txt")),
            std::string("Error 11, old\r\nError 13, older\r\n") + kErrorLine);
}

TEST(ErrorLogs, FilesThatCannotBeWritten) {
  DataFolderFixture f;
  // A read-only detailed log: it is left alone, reported, and the error log
  // written after it still gets its line.
  const std::string detailed = f.Path("gloge.txt");
  WriteFileText(detailed, "kept\r\n");
  ASSERT_EQ(::chmod(detailed.c_str(), 0444), 0);
  f.logs.WriteDetailedLog("Cannot open x: No such file");
  f.logs.WriteErrorLog(10);
  ASSERT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_EQ(f.prompts.shown[0].caption, "VelRpt");
  EXPECT_EQ(f.prompts.shown[0].icon, Prompts::Icon::Error);
  EXPECT_NE(f.prompts.shown[0].text.find("Unable to write to " + detailed), std::string::npos);
  EXPECT_EQ(ReadFileText(detailed), "kept\r\n");
  EXPECT_EQ(ReadFileText(f.Path("glog.txt")), kErrorLine);

  // A data folder that is gone: neither log can be created.
  DataFolderFixture g;
  ErrorLogs gone(
      g.Path("gone"),
      [] {
        return ErrorLogs::Stamp{"1", "2"};
      },
      g.prompts);
  gone.WriteErrorLog(10);
  gone.WriteDetailedLog("x");
  ASSERT_EQ(g.prompts.shown.size(), 2u);
  EXPECT_EQ(g.prompts.shown[0].caption, "File Error");
  EXPECT_EQ(g.prompts.shown[0].text, "Cannot create log file, no write permission!\nContact administrator!");
  EXPECT_EQ(g.prompts.shown[1].text,
            "Cannot create detailed log file, no write permission!\nContact administrator!");
  EXPECT_FALSE(QDir(QString::fromStdString(g.Path("gone"))).exists());
}

}  // namespace
