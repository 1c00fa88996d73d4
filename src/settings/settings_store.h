#pragma once
// The settings as plain values: what the settings window loads from and saves
// to the ini file, and what the rest of the program reads from its controls.

#include <string>

#include "ini_file.h"

// Every key of the settings window, with the defaults used when a key is
// missing (at creation and on every later reload alike).
struct SettingsValues {
  // "Com port"
  std::string name = "COM1";
  std::string speed = "19200";
  std::string parity = "None";
  bool rts = false;
  bool dtr = false;
  // "Misc"
  std::string exportSeparator = ";";
  int retry = 1;
  int timeout = 1000;
  bool wrongCI = true;
  std::string protocol = "STANDARD";
  std::string version = "3";
  std::string medium = "Bus/System";
  bool reconnect = true;  // a lost port is opened again when it returns

  bool operator==(const SettingsValues&) const = default;
};

SettingsValues LoadSettings(const IniFile& ini);
// Writes every key, in the file's fixed order.
void StoreSettings(const SettingsValues& values, IniFile& ini);

// What other code reads from the settings window at the moment of use.
struct SettingsSnapshot {
  std::string portName;
  std::string portSpeed;
  std::string portParity;
  bool discardWrongCI = true;
  std::string version;
  std::string exportSeparator;
  bool reconnect = true;
};

// The main window's own keys in the same file: LastRepeater, SetRXTime and
// its splitters' positions in pixels (-1: not stored, the window's default).
struct MainWindowKeys {
  std::string lastRepeater;
  int setRxTime = 2;
  int tableHeight = -1;  // "SplitterTableLog": the tab's height above the log
  int logWidth = -1;     // "SplitterLogChart": the log's width beside the chart
};

MainWindowKeys ReadMainWindowKeys(const std::string& iniPath);
// False (with the reason in `error`) when the file cannot be written.
bool WriteMainWindowKeys(const std::string& iniPath, const MainWindowKeys& keys, std::string& error);
