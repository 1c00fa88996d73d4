#pragma once
// Shared pieces of the GUI tests: a main window on a fixed clock and fixed
// date formats, with scripted prompts and an ini store kept in memory.

#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>
#include <vector>

#include "main_form.h"
#include "scripted_prompts.h"

class MemoryIni : public MainIniStore {
 public:
  std::optional<MainIniValues> stored;  // nothing: no file
  std::vector<MainIniValues> saves;
  bool writable = true;

  MainIniValues Load() override { return stored.value_or(MainIniValues{}); }
  bool Save(const MainIniValues& values) override {
    if (!writable) return false;
    saves.push_back(values);
    stored = values;
    return true;
  }
};

struct FormFixture {
  ScriptedPrompts prompts;
  FixedClock clock{LocalTime{2026, 12, 7, 9, 5, 3}};
  MemoryIni ini;
  QTemporaryDir dir;
  std::unique_ptr<TForm1> form;

  // The port the window opens when shown; by default a device that does
  // not exist, so no test touches the machine's own serial ports.
  std::string portName;

  TForm1& Make() {
    FormEnv env{
        &prompts,   &clock, LocalFormats(QStringLiteral("dd.MM.yyyy"), QStringLiteral("HH:mm:ss"), '.'),
        dir.path(), &ini,   dir.path().toStdString()};
    form = std::make_unique<TForm1>(std::move(env));
    if (portName.empty()) portName = dir.filePath(QStringLiteral("no-such-tty")).toStdString();
    form->SetSettingsReader([this] {
      SettingsSnapshot s;
      s.portName = portName;
      s.portSpeed = "19200";
      s.portParity = "None";
      s.version = "3";
      return s;
    });
    return *form;
  }
};

template <class T>
T* Find(QObject& root, const char* name) {
  return root.findChild<T*>(QString::fromLatin1(name));
}
