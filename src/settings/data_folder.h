#pragma once
// Where the program keeps its ini file and its log folder "files": the
// program's folder when it is writable and not an installed PREFIX/bin
// (one with PREFIX/share beside it), otherwise $XDG_CONFIG_HOME/velrpt
// (~/.config/velrpt), and on Windows always %APPDATA%\VelRpt; --data-dir
// overrides them. Code builds absolute paths from this folder; nothing
// changes the current directory.

#include <string>

struct DataFolderInputs {
  std::string dataDirOption;  // --data-dir, empty when not given
  std::string programFolder;  // folder of the executable
  std::string xdgConfigHome;  // $XDG_CONFIG_HOME, may be empty
  std::string home;           // $HOME
};

// The data folder for these inputs. A chosen --data-dir or config folder is
// created when missing, so the settings can be saved on the first run.
std::string ChooseDataFolder(const DataFolderInputs& in);

// The same, with the environment of this process.
std::string DataFolder(const std::string& dataDirOption, const std::string& programPath);

// A simulated run's own data folder, "simulate" inside `dataFolder`
// (created): a trial run never touches the real settings and logs.
std::string SimulationDataFolder(const std::string& dataFolder);

// The program's base name with ".ini", in the data folder.
std::string IniFilePath(const std::string& dataFolder, const std::string& programPath);
