// screenshots OUTDIR [SECONDS]: the program's windows as the user manual shows
// them. The windows are built by Program, as velrpt --simulate builds them, fed by the
// simulated transceiver for SECONDS, then grabbed to OUTDIR/main-window.png,
// settings-window.png, about-window.png and survey-page.png. Run it under Xvfb
// (scripts/take-screenshots) so the pictures carry the desktop's own look.

#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

#include "about_form.h"
#include "data_folder.h"
#include "ini_file.h"
#include "local_formats.h"
#include "main_form.h"
#include "main_ini.h"
#include "program.h"
#include "qt_prompts.h"
#include "settings_window.h"
#include "sim_runner.h"
#include "velrpt_application.h"

namespace {

bool Save(QWidget& window, const QString& path) {
  const bool ok = window.grab().save(path, "PNG");
  std::fprintf(ok ? stdout : stderr, "screenshots: %s %s\n", ok ? "wrote" : "cannot write", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  VelRptApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VelRpt"));
  const QStringList args = app.arguments();
  if (args.size() < 2 || args.size() > 3) {
    std::fprintf(stderr, "usage: screenshots OUTDIR [SECONDS]\n");
    return 2;
  }
  const QDir out(args[1]);
  const int seconds = args.size() == 3 ? args[2].toInt() : 8;
  if (!QDir().mkpath(out.path()) || seconds < 1) {
    std::fprintf(stderr, "screenshots: bad folder or time\n");
    return 2;
  }

  // A fresh data folder: the pictures show the first start, not our own settings.
  QTemporaryDir data;
  const std::string programPath = QCoreApplication::applicationFilePath().toStdString();
  const std::string iniPath = IniFilePath(data.path().toStdString(), programPath);

  sim::SimulatorRunner simulator{sim::SimOptions{}};
  std::string error;
  if (!simulator.Start(&error)) {
    std::fprintf(stderr, "screenshots: the simulator could not start: %s\n", error.c_str());
    return 1;
  }

  // The settings window reloads the file when shown: it names the simulated port.
  IniFile file(iniPath);
  file.WriteString("Com port", "Name", simulator.SlavePath());
  file.WriteString("Com port", "Speed", "19200");
  file.WriteString("Com port", "Parity", "None");
  file.WriteString("Misc", "LastRepeater", simulator.RepeaterId());
  if (!file.Save(error)) {
    std::fprintf(stderr, "screenshots: %s\n", error.c_str());
    return 1;
  }

  QtPrompts prompts;
  SystemClock clock;
  ProgramOptions options;
  options.iniPath = iniPath;
  options.programDir = QCoreApplication::applicationDirPath();
  options.portForThisRun = QString::fromStdString(simulator.SlavePath());
  options.simulatedRepeaterId = simulator.RepeaterId();
  Program program(options, prompts, clock, LocalFormats::System());
  TForm1& form = program.Form();
  TSettings& settings = program.Settings();
  // The log shows all traffic, not only the repeater's.
  if (auto* only = form.findChild<QCheckBox*>(QStringLiteral("Check_onlyRepeater"))) only->setChecked(false);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    form.resize(StartSize(form.size(), form.minimumSizeHint(), screen->availableGeometry().size()));
  form.show();

  int failures = 0;
  // Ask the repeater for an answer half-way, so the log shows one.
  QTimer::singleShot(seconds * 500, &form, [&] {
    if (auto* both = form.findChild<QPushButton*>(QStringLiteral("Button3"))) both->click();
  });
  QTimer::singleShot(seconds * 1000, &form, [&] {
    failures += !Save(form, out.filePath(QStringLiteral("main-window.png")));
    // The survey page gathered the same traffic; it shows itself within one refresh.
    auto* pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    pages->setCurrentWidget(form.findChild<QWidget*>(QStringLiteral("TabSheetSurvey")));
    form.Settings1Click();
    form.About1Click();
    QTimer::singleShot(700, &form, [&] {
      failures += !Save(settings, out.filePath(QStringLiteral("settings-window.png")));
      failures += !Save(*form.AboutWindow(), out.filePath(QStringLiteral("about-window.png")));
      failures += !Save(form, out.filePath(QStringLiteral("survey-page.png")));
      app.exit(failures == 0 ? 0 : 1);
    });
  });
  return app.exec();
}
