#include "data_folder.h"

#include <filesystem>
#include <system_error>

#include "platform_files.h"
#include "platform_system.h"

namespace fs = std::filesystem;

namespace {
std::string Created(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  return folder.string();
}

// An installed program lives in PREFIX/bin beside PREFIX/share. Its folder
// is a system folder even when writable (root, a user-owned ~/.local), and
// settings written there would be shared by every user or lost on upgrade.
bool InstalledLayout(const fs::path& programFolder) {
  const fs::path folder = programFolder.lexically_normal();
  const fs::path name = folder.has_filename() ? folder.filename() : folder.parent_path().filename();
  if (name != "bin") return false;
  std::error_code ec;
  return fs::is_directory(folder / ".." / "share", ec);
}
}  // namespace

std::string ChooseDataFolder(const DataFolderInputs& in) {
  if (!in.dataDirOption.empty()) return Created(fs::absolute(in.dataDirOption));
  if (!in.programFolder.empty() && platform::FolderWritable(in.programFolder) &&
      !InstalledLayout(in.programFolder))
    return in.programFolder;
  // XDG: a relative $XDG_CONFIG_HOME is invalid and ignored.
  const fs::path config = !in.xdgConfigHome.empty() && in.xdgConfigHome[0] == '/'
                              ? fs::path(in.xdgConfigHome)
                              : fs::path(in.home) / ".config";
  return Created(config / "velrpt");
}

std::string DataFolder(const std::string& dataDirOption, const std::string& programPath) {
  // A system with a prescribed per-user folder (Windows) uses it.
  const std::string perUser = platform::PerUserDataFolder();
  if (dataDirOption.empty() && !perUser.empty()) return Created(fs::path(perUser));
  return ChooseDataFolder({dataDirOption, fs::path(programPath).parent_path().string(),
                           platform::Env("XDG_CONFIG_HOME"), platform::Env("HOME")});
}

std::string SimulationDataFolder(const std::string& dataFolder) {
  return Created(fs::path(dataFolder) / "simulate");
}

std::string IniFilePath(const std::string& dataFolder, const std::string& programPath) {
  return (fs::path(dataFolder) / fs::path(programPath).filename().replace_extension(".ini")).string();
}
