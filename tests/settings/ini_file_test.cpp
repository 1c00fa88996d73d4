#include "ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "data_folder.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class Ini : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  std::string path = dir.filePath("velrpt.ini").toStdString();
};

TEST_F(Ini, ReadsOddFiles) {
  struct Case {
    const char* name;
    std::string content;
    const char* section;
    const char* key;
    std::string expected;  // "<def>" when the default must come back
  };
  const std::string junk("\x01\xff\x00\x7f[=]\x80", 9);
  const std::vector<Case> cases = {
      {"plain", "[Com port]\nName=COM7\n", "Com port", "Name", "COM7"},
      {"names ignore case", "[COM PORT]\nnAmE=COM7\n", "com port", "NAME", "COM7"},
      {"CRLF", "[Misc]\r\nVersion=12\r\n", "Misc", "Version", "12"},
      {"no final line break", "[Misc]\nVersion=12", "Misc", "Version", "12"},
      {"blanks around names and value", "  [ Misc ]  \n  Version  =  12  \n", "Misc", "Version", "12"},
      {"quoted value", "[Misc]\nMedium=\" Water \"\n", "Misc", "Medium", " Water "},
      {"empty value is not missing", "[Misc]\nMedium=\n", "Misc", "Medium", ""},
      {"no sections", "Name=COM7\nSpeed=9600\n", "Com port", "Name", "<def>"},
      {"keys before the first section belong to none", "Name=COM7\n[Com port]\nSpeed=1\n", "Com port", "Name",
       "<def>"},
      {"duplicate key: the first wins", "[Misc]\nVersion=1\nVersion=2\n", "Misc", "Version", "1"},
      {"duplicate section: the first wins", "[Misc]\nA=1\n[Misc]\nVersion=2\n", "Misc", "Version", "<def>"},
      {"key of another section", "[Misc]\n[Com port]\nVersion=2\n", "Misc", "Version", "<def>"},
      {"comment lines are no keys", "[Misc]\n;Version=2\n", "Misc", "Version", "<def>"},
      {"binary junk around", junk + "\n[Misc]\n" + junk + "\nVersion=3\n" + junk, "Misc", "Version", "3"},
      {"value up to 2047 characters", "[Misc]\nMedium=" + std::string(5000, 'w') + "\n", "Misc", "Medium",
       std::string(2047, 'w')},
      {"empty file", "", "Misc", "Version", "<def>"},
  };
  for (const Case& c : cases) {
    WriteText(path, c.content);
    const std::string expected = c.expected == "<def>" ? "dflt" : c.expected;
    EXPECT_EQ(IniFile(path).ReadString(c.section, c.key, "dflt"), expected) << c.name;
  }
  EXPECT_EQ(IniFile(dir.filePath("missing.ini").toStdString()).ReadString("Misc", "Version", "dflt"), "dflt");
}

TEST_F(Ini, IntegerAndBooleanReadings) {
  struct Case {
    const char* text;
    int integer;   // with default 77
    bool boolean;  // with default true
  };
  const std::vector<Case> cases = {
      {"1000", 1000, true},    {"0", 0, false},       {"2", 2, true},       {"-5", -5, true},
      {"0x3E8", 1000, true},   {"0X3e8", 1000, true}, {"$3E8", 1000, true}, {"$0", 0, false},
      {"0x", 77, true},        {"0x0", 0, false},     {"$", 77, true},      {"yes", 77, true},
      {"12a", 77, true},       {"1.5", 77, true},     {"", 77, true},       {"99999999999", 77, true},
      {"$FFFFFFFF", -1, true}, {" 42 ", 42, true},
  };
  for (const Case& c : cases) {
    WriteText(path, std::string("[Misc]\nTimeout=") + c.text + "\n");
    const IniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Misc", "Timeout", 77), c.integer) << c.text;
    EXPECT_EQ(ini.ReadBool("Misc", "Timeout", true), c.boolean) << c.text;
  }
  WriteText(path, "[Misc]\nWrongCI=yes\n");
  EXPECT_FALSE(IniFile(path).ReadBool("Misc", "WrongCI", false));
}

TEST_F(Ini, WritingKeepsEverythingElse) {
  const std::string before =
      "; my settings\r\n[misc]\r\nversion=3\r\nOther=keep me\r\n\r\n[Foreign]\r\nx=1\r\n# note\r\n[Com "
      "port]\r\nName=COM2";
  WriteText(path, before);
  IniFile ini(path);
  ini.WriteString("Misc", "Version", "12");           // changed in place, its spelling kept
  ini.WriteString("Misc", "Medium", "Water");         // added to the end of its section
  ini.WriteString("Com port", "Speed", "9600");       // after a last line without a break
  ini.WriteString("New", "Line", "a\r\nInjected=1");  // a value stays on its line
  std::string error;
  ASSERT_TRUE(ini.Save(error)) << error;
  EXPECT_EQ(
      ReadText(path),
      "; my settings\r\n[misc]\r\nversion=12\r\nOther=keep me\r\nMedium=Water\r\n\r\n[Foreign]\r\nx=1\r\n"
      "# note\r\n[Com port]\r\nName=COM2\r\nSpeed=9600\r\n[New]\r\nLine=a  Injected=1\r\n");
  const IniFile back(path);
  EXPECT_EQ(back.ReadString("New", "Injected", "none"), "none");
  EXPECT_EQ(back.ReadString("MISC", "VERSION", ""), "12");

  // A new file gets LF lines.
  const std::string fresh = dir.filePath("fresh.ini").toStdString();
  IniFile created(fresh);
  created.WriteInteger("Misc", "Timeout", 1000);
  created.WriteBool("Misc", "WrongCI", false);
  ASSERT_TRUE(created.Save(error)) << error;
  EXPECT_EQ(ReadText(fresh), "[Misc]\nTimeout=1000\nWrongCI=0\n");
}

TEST_F(Ini, FailedSaveLeavesTheFileAsItWas) {
  WriteText(path, "[Misc]\nVersion=3\n");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  IniFile ini(path);
  ini.WriteString("Misc", "Version", "9");
  std::string error;
  EXPECT_FALSE(ini.Save(error));
  EXPECT_EQ(error.rfind("Unable to write to " + path, 0), 0u) << error;
  EXPECT_EQ(ReadText(path), "[Misc]\nVersion=3\n");

  IniFile nowhere(dir.filePath("gone/velrpt.ini").toStdString());
  nowhere.WriteString("Misc", "Version", "9");
  EXPECT_FALSE(nowhere.Save(error));
  // Nothing but the original file in the folder: no temporary left behind.
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"velrpt.ini"});
}

TEST(DataFolder, Choice) {
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString();
  const std::string program = root + "/bin";
  ASSERT_TRUE(QDir(dir.path()).mkdir("bin"));
  const std::string readOnly = root + "/ro";
  ASSERT_TRUE(QDir(dir.path()).mkdir("ro"));
  ASSERT_EQ(::chmod(readOnly.c_str(), 0555), 0);
  const bool rootUser = ::geteuid() == 0;  // root can write anywhere

  EXPECT_EQ(ChooseDataFolder({root + "/opt", program, root + "/xdg", root + "/home"}), root + "/opt");
  EXPECT_TRUE(QDir(QString::fromStdString(root + "/opt")).exists());
  EXPECT_EQ(ChooseDataFolder({"", program, root + "/xdg", root + "/home"}), program);
  if (!rootUser) {
    EXPECT_EQ(ChooseDataFolder({"", readOnly, root + "/xdg", root + "/home"}), root + "/xdg/velrpt");
    EXPECT_EQ(ChooseDataFolder({"", readOnly, "relative", root + "/home"}), root + "/home/.config/velrpt");
  }
  // A program folder that is gone cannot hold the data either.
  EXPECT_EQ(ChooseDataFolder({"", root + "/gone", "", root + "/home"}), root + "/home/.config/velrpt");
  EXPECT_EQ(ChooseDataFolder({"", root + "/gone", root + "/xdg", root + "/home"}), root + "/xdg/velrpt");
  EXPECT_TRUE(QDir(QString::fromStdString(root + "/xdg/velrpt")).exists());
  // A simulated run has a folder of its own inside, made when missing.
  EXPECT_EQ(SimulationDataFolder(root + "/xdg/velrpt"), root + "/xdg/velrpt/simulate");
  EXPECT_TRUE(QDir(QString::fromStdString(root + "/xdg/velrpt/simulate")).exists());

  // An installed program keeps nothing in PREFIX/bin, writable or not (root, ~/.local).
  ASSERT_TRUE(QDir(dir.path()).mkpath("usr/bin"));
  ASSERT_TRUE(QDir(dir.path()).mkpath("usr/share"));
  EXPECT_EQ(ChooseDataFolder({"", root + "/usr/bin", root + "/xdg", root + "/home"}), root + "/xdg/velrpt");
  EXPECT_EQ(ChooseDataFolder({"", root + "/usr/bin/", root + "/xdg", root + "/home"}), root + "/xdg/velrpt");
  // A bin folder without a share beside it is a build or portable folder.
  EXPECT_EQ(ChooseDataFolder({"", program, root + "/xdg", root + "/home"}), program);

  EXPECT_EQ(IniFilePath("/data", "/usr/bin/velrpt"), "/data/velrpt.ini");
  EXPECT_EQ(IniFilePath("/data", "/opt/velrpt.bin"), "/data/velrpt.ini");
}

}  // namespace
