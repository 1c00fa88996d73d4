#pragma once
// The values the main window keeps in the ini file itself (section "Misc");
// the rest of the file belongs to the settings window.

#include <string>
#include <utility>

#include "settings_store.h"

// "LastRepeater", "SetRXTime" and the splitters' positions.
using MainIniValues = MainWindowKeys;

class MainIniStore {
 public:
  virtual ~MainIniStore() = default;
  // Missing file or keys give the defaults.
  virtual MainIniValues Load() = 0;
  // False when the file cannot be written.
  virtual bool Save(const MainIniValues& values) = 0;
  // The folder last saved to, under `key` in "Misc"; empty when none.
  // Written at once, so a folder survives a crash.
  virtual std::string Folder(const std::string& key) {
    (void)key;
    return {};
  }
  virtual void SetFolder(const std::string& key, const std::string& folder) { (void)key, (void)folder; }
};

// The folder each kind of file was last saved to, where its next dialog
// starts (kept in the ini file as "Folder" + the kind's name).
class FileFolders {
 public:
  enum class Kind { Log, MeterList, Table, Survey, Report };
  explicit FileFolders(MainIniStore* ini) : m_ini(ini) {}
  // The kind's folder, or `fallback` before anything was saved.
  std::string Folder(Kind kind, const std::string& fallback) const;
  // Remembers the folder of a file just written.
  void Remember(Kind kind, const std::string& file);

 private:
  MainIniStore* m_ini;
  std::string m_folders[5];
};

// The real store: the program's ini file in the data folder.
class IniFileMainStore : public MainIniStore {
 public:
  explicit IniFileMainStore(std::string iniPath) : m_path(std::move(iniPath)) {}
  MainIniValues Load() override;
  bool Save(const MainIniValues& values) override;
  std::string Folder(const std::string& key) override;
  void SetFolder(const std::string& key, const std::string& folder) override;

 private:
  std::string m_path;
};
