#pragma once
// The application object. An exception that escapes an event handler is the
// last line of defence: it is shown in a "VelRpt" message box and the event
// loop carries on, instead of ending the program.

#include <QApplication>
#include <string>

#include "prompts.h"

class VelRptApplication : public QApplication {
  Q_OBJECT

 public:
  VelRptApplication(int& argc, char** argv);
  ~VelRptApplication() override;

  // Where the error box goes; tests install a scripted one. Not owned.
  void SetPrompts(Prompts* prompts) { m_prompts = prompts; }
  Prompts* GetPrompts() const { return m_prompts; }

  bool notify(QObject* receiver, QEvent* event) override;

  static constexpr const char* kErrorCaption = "VelRpt";

 private:
  void ReportException(const std::string& text);

  Prompts* m_prompts = nullptr;
  Prompts* m_ownPrompts = nullptr;
};
