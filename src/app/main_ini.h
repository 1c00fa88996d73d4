#pragma once
// The two values the main window keeps in the ini file itself (section
// "Misc"); the rest of the file belongs to the settings window.

#include <string>

struct MainIniValues {
  std::string lastRepeater;  // "LastRepeater", default empty
  int setRxTime = 2;         // "SetRXTime", default 2
};

class MainIniStore {
 public:
  virtual ~MainIniStore() = default;
  // Missing file or keys give the defaults.
  virtual MainIniValues Load() = 0;
  // False when the file cannot be written.
  virtual bool Save(const MainIniValues& values) = 0;
};
