#include "main_ini.h"

#include <filesystem>

#include "ini_file.h"

namespace {
const char kMisc[] = "Misc";
const char* const kFolderKeys[] = {"FolderLog", "FolderMeterList", "FolderTable", "FolderSurvey",
                                   "FolderReport"};
}  // namespace

MainIniValues IniFileMainStore::Load() { return ReadMainWindowKeys(m_path); }

bool IniFileMainStore::Save(const MainIniValues& values) {
  std::string error;
  return WriteMainWindowKeys(m_path, values, error);
}

std::string IniFileMainStore::Folder(const std::string& key) {
  return IniFile(m_path).ReadString(kMisc, key, std::string());
}

void IniFileMainStore::SetFolder(const std::string& key, const std::string& folder) {
  IniFile ini(m_path);
  ini.WriteString(kMisc, key, folder);
  // A folder that cannot be kept is no failure of the save it follows.
  std::string error;
  (void)ini.Save(error);
}

std::string FileFolders::Folder(Kind kind, const std::string& fallback) const {
  const auto k = static_cast<size_t>(kind);
  std::string folder = m_folders[k];
  if (folder.empty() && m_ini) folder = m_ini->Folder(kFolderKeys[k]);
  std::error_code ec;
  return !folder.empty() && std::filesystem::is_directory(folder, ec) ? folder : fallback;
}

void FileFolders::Remember(Kind kind, const std::string& file) {
  const auto k = static_cast<size_t>(kind);
  std::string folder = std::filesystem::path(file).parent_path().string();
  if (folder.empty() || folder == m_folders[k]) return;
  m_folders[k] = folder;
  if (m_ini) m_ini->SetFolder(kFolderKeys[k], folder);
}
