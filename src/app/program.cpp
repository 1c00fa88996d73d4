#include "program.h"

#include <QComboBox>
#include <QLineEdit>
#include <filesystem>

#include "about_form.h"
#include "main_form.h"
#include "settings_window.h"

Program::Program(const ProgramOptions& options, Prompts& prompts, const Clock& clock, LocalFormats formats)
    : m_ini(options.iniPath) {
  const std::string dataFolder = options.dataFolder.empty()
                                     ? std::filesystem::path(options.iniPath).parent_path().string()
                                     : options.dataFolder;
  m_form = std::make_unique<TForm1>(
      FormEnv{&prompts, &clock, std::move(formats), options.programDir, &m_ini, dataFolder});
  m_settings = std::make_unique<TSettings>(options.iniPath, prompts, nullptr, options.devRoot);
  // Only the main window's close ends the program.
  m_settings->setAttribute(Qt::WA_QuitOnClose, false);
  m_form->AboutWindow()->setAttribute(Qt::WA_QuitOnClose, false);
  m_form->AttachSettings(*m_settings);

  if (!options.portForThisRun.isEmpty()) m_settings->SetPortForThisRun(options.portForThisRun);
  // A first start with the simulator shows its repeater's traffic at once.
  if (!options.simulatedRepeaterId.empty() && m_form->Edit_repeaterID->text().isEmpty())
    m_form->Edit_repeaterID->setText(QString::fromStdString(options.simulatedRepeaterId));
}

Program::~Program() {
  m_form.reset();
  m_settings.reset();
}
