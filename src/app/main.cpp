// velrpt [--data-dir DIR] [--port NAME] [--simulate]
//
// Start-up order: the application title, the main window (the two ini
// values), the settings window (hidden, every other setting), the about
// window (hidden), then the message loop; the first show opens the port.

#include <QComboBox>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <cstdio>
#include <memory>

#include "about_form.h"
#include "data_folder.h"
#include "local_formats.h"
#include "main_form.h"
#include "main_ini.h"
#include "qt_prompts.h"
#include "settings_window.h"
#include "sim_runner.h"
#include "velrpt_application.h"

namespace {

// --simulate: the simulated transceiver on a pseudo-terminal of this process.
std::unique_ptr<sim::SimulatorRunner> StartSimulator(std::string& error) {
  auto runner = std::make_unique<sim::SimulatorRunner>(sim::SimOptions{});
  if (!runner->Start(&error)) return nullptr;
  return runner;
}

void SetPortName(TSettings& settings, const QString& name) {
  if (auto* box = settings.findChild<QComboBox*>(QStringLiteral("Combo_com_name"))) box->setCurrentText(name);
}

}  // namespace

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
  const std::string folder = DataFolder(parser.value(dataDir).toStdString(), programPath);
  const std::string iniPath = IniFilePath(folder, programPath);

  std::unique_ptr<sim::SimulatorRunner> simulator;
  if (parser.isSet(simulate)) {
    std::string error;
    simulator = StartSimulator(error);
    if (!simulator) {
      std::fprintf(stderr, "velrpt: the simulator could not start: %s\n", error.c_str());
      return 1;
    }
  }

  QtPrompts prompts;
  SystemClock clock;
  IniFileMainStore ini(iniPath);
  TForm1 form(
      FormEnv{&prompts, &clock, LocalFormats::System(), QCoreApplication::applicationDirPath(), &ini});
  TSettings settings(iniPath, prompts);
  // Only the main window's close ends the program.
  settings.setAttribute(Qt::WA_QuitOnClose, false);
  form.AboutWindow()->setAttribute(Qt::WA_QuitOnClose, false);
  form.AttachSettings(settings);

  if (parser.isSet(port)) SetPortName(settings, parser.value(port));
  if (simulator) {
    SetPortName(settings, QString::fromStdString(simulator->SlavePath()));
    // A first start shows the simulated repeater's traffic right away.
    if (form.Edit_repeaterID->text().isEmpty())
      form.Edit_repeaterID->setText(QString::fromStdString(simulator->RepeaterId()));
  }

  if (QScreen* screen = QGuiApplication::primaryScreen())
    form.move(screen->availableGeometry().center() - form.rect().center());
  form.show();
  return app.exec();
}
