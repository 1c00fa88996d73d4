// The one file reader: only regular files, never a wait in open() or read(),
// and a size cap for the files read whole.

#include "text_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "grid_files.h"
#include "meterlist_test_util.h"

namespace {

// A file of `size` bytes without writing them (a sparse file).
void MakeSizedFile(const std::string& path, off_t size) {
  WriteFileText(path, "");
  ASSERT_EQ(::truncate(path.c_str(), size), 0);
}

// Names that are no regular file, or one over the cap. None may block or be
// read without end; each is refused with a text naming the file.
TEST(TextFiles, ReadWholeFileRefusesWhatIsNotARegularFileOrTooLarge) {
  DataFolderFixture f;
  ASSERT_EQ(::mkfifo(f.Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", f.Path("zero").c_str()), 0);
  ASSERT_EQ(::mkdir(f.Path("folder").c_str(), 0700), 0);
  MakeSizedFile(f.Path("large"), 20 << 20);
  MakeSizedFile(f.Path("one-over"), static_cast<off_t>(kMaxReadFileSize) + 1);
  struct Case {
    const char* name;
    const char* reason;
  } cases[] = {
      {"fifo", "not a regular file"},
      {"zero", "not a regular file"},
      {"folder", "not a regular file"},
      {"large", "larger than 16777216 bytes"},
      {"one-over", "larger than 16777216 bytes"},
      {"missing", "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string content = "old", error;
    EXPECT_FALSE(ReadWholeFile(f.Path(c.name), content, error));
    EXPECT_EQ(content, "");
    EXPECT_NE(error.find(f.Path(c.name)), std::string::npos) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }

  // Exactly at the cap is still read, and a small cap holds for what is read.
  MakeSizedFile(f.Path("at-cap"), static_cast<off_t>(kMaxReadFileSize));
  std::string content, error;
  EXPECT_TRUE(ReadWholeFile(f.Path("at-cap"), content, error)) << error;
  EXPECT_EQ(content.size(), kMaxReadFileSize);
  WriteFileText(f.Path("small"), "0123456789");
  EXPECT_FALSE(ReadWholeFile(f.Path("small"), content, error, 9));
  EXPECT_TRUE(ReadWholeFile(f.Path("small"), content, error, 10));
  EXPECT_EQ(content, "0123456789");
}

// A name with a line break is written escaped into the reason, so the
// detailed log cannot get a forged line.
TEST(TextFiles, ControlCharactersInNamesAreEscaped) {
  DataFolderFixture f;
  std::string content, error;
  EXPECT_FALSE(ReadWholeFile(f.Path("a\nError 1, forged"), content, error));
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  EXPECT_NE(error.find("a\\nError 1, forged"), std::string::npos) << error;
}

// The streaming reader has no cap but the same refusals.
TEST(TextFiles, ReadFileInPiecesStreamsAnySizeAndRefusesTheRest) {
  DataFolderFixture f;
  const off_t size = static_cast<off_t>(kMaxReadFileSize) + 12345;
  MakeSizedFile(f.Path("capture"), size);
  size_t total = 0, pieces = 0;
  std::string error;
  EXPECT_TRUE(ReadFileInPieces(
      f.Path("capture"),
      [&](std::string_view piece) {
        total += piece.size();
        ++pieces;
        return true;
      },
      error))
      << error;
  EXPECT_EQ(total, static_cast<size_t>(size));
  EXPECT_GT(pieces, 1u);

  // A false return stops early without an error.
  pieces = 0;
  EXPECT_TRUE(ReadFileInPieces(
      f.Path("capture"), [&](std::string_view) { return ++pieces < 2; }, error));
  EXPECT_EQ(pieces, 2u);

  ASSERT_EQ(::mkfifo(f.Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", f.Path("zero").c_str()), 0);
  for (const char* name : {"fifo", "zero"}) {
    SCOPED_TRACE(name);
    bool called = false;
    EXPECT_FALSE(ReadFileInPieces(
        f.Path(name), [&](std::string_view) { return called = true; }, error));
    EXPECT_FALSE(called);
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  }
}

// "Import from file" of a FIFO or a 20 MiB file: the import's own message,
// error code 11, and the grid as it was.
TEST(TextFiles, ImportOfAFifoOrAnOversizedFileLeavesTheGridAsItWas) {
  for (const char* kind : {"fifo", "large"}) {
    SCOPED_TRACE(kind);
    DataFolderFixture f;
    const std::string file = f.Path("meters.csv");
    if (std::string(kind) == "fifo") {
      ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    } else {
      WriteFileText(file, std::string(20 << 20, ';'));
    }
    StringGrid grid(11, 2);
    grid.SetCell(0, 1, "1");
    grid.SetCell(1, 1, "12345678");
    const std::vector<std::string> before = grid.Row(1);

    EXPECT_FALSE(ImportGrid(file, ";", grid, f.prompts, f.logs));
    ASSERT_EQ(f.prompts.shown.size(), 1u);
    EXPECT_EQ(f.prompts.shown[0].caption, "File Error");
    EXPECT_EQ(f.prompts.shown[0].text, "You chose wrong file for import!\nContact administrator!");
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Row(1), before);
    EXPECT_EQ(ReadFileText(f.Path("glog.txt")), "Error 11, encountered at 14:03:09,  08.12.2026\r\n");
  }
}

}  // namespace
