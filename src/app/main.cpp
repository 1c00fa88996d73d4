// velrpt [--data-dir DIR] [--port NAME] [--simulate] [--help] [--version]

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QScreen>
#include <cstdio>
#include <memory>

#include "data_folder.h"
#include "main_form.h"
#include "program.h"
#include "qt_prompts.h"
#include "in_process_korvex.h"
#include "velrpt_application.h"

namespace {

// The options QGuiApplication and QApplication take out of argv for
// themselves. The options are read before the application object exists
// (--help and a mistyped option need no display), so they must be known here.
struct QtOption {
  const char* name;
  bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},
    {"qwindowtitle", true},    {"geometry", true},
    {"display", true},         {"session", true},
    {"style", true},           {"stylesheet", true},
    {"qmljsdebugger", true},   {"reverse", false},
    {"widgetcount", false},    {"testability", false},
};

QStringList Arguments(int argc, char** argv) {
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("VelRpt"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VELRPT_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Battery repeater configuration program"));
  // Qt's own options are single-dash words (-platform wayland).
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                   QStringLiteral("Folder of the ini file and the log folder."),
                                   QStringLiteral("DIR"));
  const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Serial port for this run."),
                                QStringLiteral("NAME"));
  const QCommandLineOption simulate(QStringLiteral("simulate"),
                                    QStringLiteral("Talk to a simulated transceiver and repeater."));
  parser.addOptions({dataDir, port, simulate});
  for (const QtOption& o : kQtOptions) {
    QCommandLineOption qt(QString::fromLatin1(o.name), QString());
    if (o.takesValue) qt.setValueName(QStringLiteral("VALUE"));
    qt.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(qt);
  }
  if (!parser.parse(Arguments(argc, argv))) {
    std::fprintf(stderr, "velrpt: %s\n", qPrintable(parser.errorText()));
    return 2;
  }
  if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
    // Without an application object Qt cannot name the program itself.
    std::fputs(
        qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("velrpt"))),
        stdout);
    return 0;
  }
  if (parser.isSet(version)) {
    std::printf("VelRpt %s\n", VELRPT_VERSION);
    return 0;
  }

  VelRptApplication app(argc, argv);

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
    simulator = sim::MakeSimulator(sim::SimOptions{});
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
    const QSize room =
        RoomOnScreen(screen->geometry(), screen->availableGeometry(), QGuiApplication::platformName());
    form.resize(StartSize(form.size(), form.minimumSizeHint(), room));
    form.move(screen->availableGeometry().center() - form.rect().center());
  }
  form.show();
  return app.exec();
}
