#include "main_ini.h"

#include "settings_store.h"

MainIniValues IniFileMainStore::Load() {
  const MainWindowKeys keys = ReadMainWindowKeys(m_path);
  return {keys.lastRepeater, keys.setRxTime, keys.tableHeight, keys.logWidth};
}

bool IniFileMainStore::Save(const MainIniValues& values) {
  m_error.clear();
  return WriteMainWindowKeys(
      m_path, MainWindowKeys{values.lastRepeater, values.setRxTime, values.tableHeight, values.logWidth},
      m_error);
}
