// velrpt [--data-dir DIR] [--port NAME] [--simulate]

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QScreen>
#include <cstdio>
#include <memory>

#include "data_folder.h"
#include "main_form.h"
#include "program.h"
#include "qt_prompts.h"
#include "sim_runner.h"
#include "velrpt_application.h"

int main(int argc, char** argv) {
  VelRptApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VelRpt"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Battery repeater configuration program"));
  parser.addHelpOption();
  const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                   QStringLiteral("Folder of the ini file and the log folder."),
                                   QStringLiteral("DIR"));
  const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Serial port for this run."),
                                QStringLiteral("NAME"));
  const QCommandLineOption simulate(QStringLiteral("simulate"),
                                    QStringLiteral("Talk to a simulated transceiver and repeater."));
  parser.addOptions({dataDir, port, simulate});
  parser.process(app);

  const std::string programPath = QCoreApplication::applicationFilePath().toStdString();
  std::string folder = DataFolder(parser.value(dataDir).toStdString(), programPath);
  // A simulated run keeps its settings and logs apart from the real ones.
  if (parser.isSet(simulate)) folder = SimulationDataFolder(folder);

  ProgramOptions options;
  options.iniPath = IniFilePath(folder, programPath);
  options.dataFolder = folder;
  options.programDir = QCoreApplication::applicationDirPath();
  if (parser.isSet(port)) options.portForThisRun = parser.value(port);

  // Declared before the windows, so the port is closed before the
  // simulated device goes away.
  std::unique_ptr<sim::SimulatorRunner> simulator;
  if (parser.isSet(simulate)) {
    simulator = std::make_unique<sim::SimulatorRunner>(sim::SimOptions{});
    std::string error;
    if (!simulator->Start(&error)) {
      std::fprintf(stderr, "velrpt: the simulator could not start: %s\n", error.c_str());
      return 1;
    }
    options.portForThisRun = QString::fromStdString(simulator->SlavePath());
    options.simulatedRepeaterId = simulator->RepeaterId();
  }

  QtPrompts prompts;
  SystemClock clock;
  Program program(options, prompts, clock, LocalFormats::System());
  TForm1& form = program.Form();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    form.resize(StartSize(form.size(), form.minimumSizeHint(), screen->availableGeometry().size()));
    form.move(screen->availableGeometry().center() - form.rect().center());
  }
  form.show();
  return app.exec();
}
