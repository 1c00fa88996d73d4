#pragma once
// The program's windows, created in the start-up order: the main window
// (with its two ini values), the settings window (hidden, every other
// setting), the about window (hidden, owned by the main window). Showing the
// main window then opens the port.

#include <QString>
#include <memory>
#include <string>

#include "local_formats.h"
#include "main_ini.h"
#include "prompts.h"

class TForm1;
class TSettings;

struct ProgramOptions {
  std::string iniPath;
  // The log folder "files" lives here; empty: the ini file's folder.
  std::string dataFolder;
  QString programDir;
  // --port, or the simulator's port: shown in the name box for this run.
  QString portForThisRun;
  // --simulate: filled into an empty Edit_repeaterID.
  std::string simulatedRepeaterId;
  QString devRoot = QStringLiteral("/dev");  // where the settings window lists serial devices
};

class Program {
 public:
  Program(const ProgramOptions& options, Prompts& prompts, const Clock& clock, LocalFormats formats);
  ~Program();

  TForm1& Form() { return *m_form; }
  TSettings& Settings() { return *m_settings; }

 private:
  IniFileMainStore m_ini;
  // Declared first, destroyed last: the main window may still talk to it
  // while it closes the port.
  std::unique_ptr<TSettings> m_settings;
  std::unique_ptr<TForm1> m_form;
};
