#pragma once
// The application object. An exception that escapes an event handler is the
// last line of defence: it is shown in a "VelRpt" message box and the event
// loop carries on, instead of ending the program.

#include <QApplication>
#include <QTimer>
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
  // A text cursor blinks this long after the last key or click, then stays
  // lit (as GTK does): a window left alone must not repaint twice a second.
  static constexpr int kCursorBlinkMs = 10000;

 private:
  void ReportException(const std::string& text);
  void NoteInput(const QEvent* event);

  QTimer m_blinkEnd;
  int m_flashTime = 0;  // the desktop's cursor flash time

  Prompts* m_prompts = nullptr;
  Prompts* m_ownPrompts = nullptr;
};
