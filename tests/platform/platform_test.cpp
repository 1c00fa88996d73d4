#include <gtest/gtest.h>

#include <QDateTime>
#include <filesystem>
#include <string>

#include "platform_system.h"
#include "text_files.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder per test, removed afterwards.
class Folder {
 public:
  explicit Folder(const char* name) : m_path(fs::temp_directory_path() / name) {
    fs::remove_all(m_path);
    fs::create_directories(m_path);
  }
  ~Folder() {
    std::error_code ec;
    fs::permissions(m_path / "kept.txt", fs::perms::owner_all, ec);
    fs::remove_all(m_path, ec);
  }
  std::string File(const char* name) const { return (m_path / name).string(); }
  std::string Path() const { return m_path.string(); }
  size_t Entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(m_path), {})); }

 private:
  fs::path m_path;
};

std::string EveryByte() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes + "\r\n\n\x1a tail";  // text mode would fold or stop at these
}

}  // namespace

TEST(PlatformFiles, ReplaceReadAndAppendKeepEveryByte) {
  const Folder folder("velrpt_platform_bytes");
  const std::string path = folder.File("data.bin");
  std::string error;
  std::string back;

  ASSERT_TRUE(ReplaceFile(path, EveryByte(), error)) << error;
  ASSERT_TRUE(ReadWholeFile(path, back, error)) << error;
  EXPECT_EQ(back, EveryByte());

  // Over an existing file, in one step, with no temporary file left behind.
  const std::string second = "second\x1a\r\n" + EveryByte();
  ASSERT_TRUE(ReplaceFile(path, second, error)) << error;
  ASSERT_TRUE(ReadWholeFile(path, back, error)) << error;
  EXPECT_EQ(back, second);
  EXPECT_EQ(folder.Entries(), 1u);

  // The file ends without a line break: the appended line gets one first.
  bool wasMissing = true;
  ASSERT_TRUE(AppendToFile(path, "line\r\n", wasMissing, error)) << error;
  EXPECT_FALSE(wasMissing);
  ASSERT_TRUE(ReadWholeFile(path, back, error)) << error;
  EXPECT_EQ(back, second + "\r\nline\r\n");

  const std::string fresh = folder.File("fresh.txt");
  ASSERT_TRUE(AppendToFile(fresh, "first\r\n", wasMissing, error)) << error;
  EXPECT_TRUE(wasMissing);
  ASSERT_TRUE(AppendToFile(fresh, "second\r\n", wasMissing, error)) << error;
  std::string pieces;
  ASSERT_TRUE(ReadFileInPieces(
      fresh,
      [&](std::string_view piece) {
        pieces.append(piece);
        return true;
      },
      error));
  EXPECT_EQ(pieces, "first\r\nsecond\r\n");
}

TEST(PlatformFiles, AReadOnlyFileOrAMissingOneIsRefusedAndLeftAlone) {
  const Folder folder("velrpt_platform_refusals");
  const std::string kept = folder.File("kept.txt");
  std::string error;
  ASSERT_TRUE(ReplaceFile(kept, "old", error)) << error;
  fs::permissions(kept, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  EXPECT_FALSE(ReplaceFile(kept, "new", error));
  EXPECT_EQ(error.rfind("Unable to write to " + kept + ": ", 0), 0u) << error;
  bool wasMissing = false;
  EXPECT_FALSE(AppendToFile(kept, "more", wasMissing, error));
  std::string back;
  ASSERT_TRUE(ReadWholeFile(kept, back, error)) << error;
  EXPECT_EQ(back, "old");

  EXPECT_FALSE(ReadWholeFile(folder.File("absent.txt"), back, error));
  EXPECT_EQ(error.rfind("Cannot open file ", 0), 0u) << error;
  EXPECT_FALSE(ReadWholeFile(folder.Path(), back, error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST(PlatformSystem, LocalTimeAgreesWithQt) {
  platform::CivilTime now;
  ASSERT_TRUE(platform::LocalNow(now));
  const QDateTime mine(QDate(now.year, now.month, now.day),
                       QTime(now.hour, now.minute, now.second, now.msec));
  ASSERT_TRUE(mine.isValid());
  EXPECT_LE(std::abs(mine.msecsTo(QDateTime::currentDateTime())), 2000);
}
