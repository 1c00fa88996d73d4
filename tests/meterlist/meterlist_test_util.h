#pragma once
// Shared bits of the meterlist tests: a temporary data folder with its error
// logs, and small file helpers.

#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <string>

#include "error_log.h"
#include "scripted_prompts.h"

inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct DataFolderFixture {
  QTemporaryDir dir;
  ScriptedPrompts prompts;
  ErrorLogs logs{Folder(), [] { return ErrorLogs::Stamp{"14:03:09", "08.12.2026"}; }, prompts};

  std::string Folder() const { return dir.path().toStdString(); }
  std::string Path(const std::string& name) const { return Folder() + "/" + name; }
};
