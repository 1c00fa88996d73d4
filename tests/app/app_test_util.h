#pragma once
// Shared pieces of the GUI tests: a main window on a fixed clock and fixed
// date formats, with scripted prompts and an ini store kept in memory, and
// the whole window set over a temporary data folder.

#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QStringList>

#include "log_memo.h"
#include "main_form.h"
#include "program.h"
#include "scripted_prompts.h"
#include "settings_window.h"

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

// The whole window set, as main() builds it, over a temporary data folder.
struct WindowSetFixture {
  QTemporaryDir dir;
  ScriptedPrompts prompts;
  FixedClock clock{LocalTime{2026, 12, 7, 9, 5, 3}};
  std::unique_ptr<Program> program;

  WindowSetFixture() { Start(); }
  // A new start of the program over the same data folder.
  void Start() {
    program.reset();
    ProgramOptions options;
    options.iniPath = Path("velrpt.ini");
    options.programDir = dir.path();
    options.devRoot = dir.path();
    program = std::make_unique<Program>(
        options, prompts, clock, LocalFormats(QStringLiteral("dd.MM.yyyy"), QStringLiteral("HH:mm:ss"), '.'));
  }
  TForm1& Form() { return program->Form(); }
  std::string Path(const std::string& name) const {
    return dir.filePath(QString::fromStdString(name)).toStdString();
  }
  void SetSeparator(const std::string& separator) {
    program->Settings()
        .findChild<QLineEdit*>(QStringLiteral("Edit_export_separator"))
        ->setText(QString::fromStdString(separator));
  }
  // What was shown since the last call.
  std::vector<ScriptedPrompts::Shown> TakeShown() {
    std::vector<ScriptedPrompts::Shown> shown = std::move(prompts.shown);
    prompts.shown.clear();
    return shown;
  }
  // The log window's lines after its first empty one.
  QStringList Log() { return Form().Memo_log->Lines().mid(1); }
};

// A file's whole content; "<missing>" when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll().toStdString();
}

inline void WriteFile(const std::string& path, const std::string& content) {
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(content.data(), static_cast<qint64>(content.size()));
}
