#include "settings_store.h"

namespace {
const char kComPort[] = "Com port";
const char kMisc[] = "Misc";
}  // namespace

SettingsValues LoadSettings(const IniFile& ini) {
  const SettingsValues d;
  SettingsValues v;
  v.name = ini.ReadString(kComPort, "Name", d.name);
  v.speed = ini.ReadString(kComPort, "Speed", d.speed);
  v.parity = ini.ReadString(kComPort, "Parity", d.parity);
  v.rts = ini.ReadBool(kComPort, "RTS", d.rts);
  v.dtr = ini.ReadBool(kComPort, "DTR", d.dtr);
  v.exportSeparator = ini.ReadString(kMisc, "ExportSeparator", d.exportSeparator);
  v.retry = ini.ReadInteger(kMisc, "Retry", d.retry);
  v.timeout = ini.ReadInteger(kMisc, "Timeout", d.timeout);
  v.wrongCI = ini.ReadBool(kMisc, "WrongCI", d.wrongCI);
  v.protocol = ini.ReadString(kMisc, "Protocol", d.protocol);
  v.version = ini.ReadString(kMisc, "Version", d.version);
  v.medium = ini.ReadString(kMisc, "Medium", d.medium);
  v.reconnect = ini.ReadBool(kMisc, "Reconnect", d.reconnect);
  return v;
}

void StoreSettings(const SettingsValues& v, IniFile& ini) {
  ini.WriteString(kComPort, "Name", v.name);
  ini.WriteString(kComPort, "Speed", v.speed);
  ini.WriteString(kComPort, "Parity", v.parity);
  ini.WriteBool(kComPort, "RTS", v.rts);
  ini.WriteBool(kComPort, "DTR", v.dtr);
  ini.WriteString(kMisc, "ExportSeparator", v.exportSeparator);
  ini.WriteInteger(kMisc, "Retry", v.retry);
  ini.WriteInteger(kMisc, "Timeout", v.timeout);
  ini.WriteString(kMisc, "Protocol", v.protocol);
  ini.WriteString(kMisc, "Version", v.version);
  ini.WriteString(kMisc, "Medium", v.medium);
  ini.WriteBool(kMisc, "WrongCI", v.wrongCI);
  ini.WriteBool(kMisc, "Reconnect", v.reconnect);
}

MainWindowKeys ReadMainWindowKeys(const std::string& iniPath) {
  const IniFile ini(iniPath);
  const MainWindowKeys d;
  return {ini.ReadString(kMisc, "LastRepeater", d.lastRepeater),
          ini.ReadInteger(kMisc, "SetRXTime", d.setRxTime),
          ini.ReadInteger(kMisc, "SplitterTableLog", d.tableHeight),
          ini.ReadInteger(kMisc, "SplitterLogChart", d.logWidth)};
}

bool WriteMainWindowKeys(const std::string& iniPath, const MainWindowKeys& keys, std::string& error) {
  IniFile ini(iniPath);
  ini.WriteString(kMisc, "LastRepeater", keys.lastRepeater);
  ini.WriteInteger(kMisc, "SetRXTime", keys.setRxTime);
  if (keys.tableHeight >= 0) ini.WriteInteger(kMisc, "SplitterTableLog", keys.tableHeight);
  if (keys.logWidth >= 0) ini.WriteInteger(kMisc, "SplitterLogChart", keys.logWidth);
  return ini.Save(error);
}
