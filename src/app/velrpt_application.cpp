#include "velrpt_application.h"

#include <QMetaObject>
#include <exception>

#include "qt_prompts.h"

VelRptApplication::VelRptApplication(int& argc, char** argv) : QApplication(argc, argv) {
  m_ownPrompts = new QtPrompts();
  m_prompts = m_ownPrompts;
}

VelRptApplication::~VelRptApplication() { delete m_ownPrompts; }

bool VelRptApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ReportException(e.what());
  } catch (...) {
    ReportException("Unknown exception");
  }
  return false;
}

void VelRptApplication::ReportException(const std::string& text) {
  // The dispatch that threw is half unwound: a modal box opened here would
  // spin a nested loop on top of it. Show it from a clean turn of the loop.
  QMetaObject::invokeMethod(
      this,
      [this, text] {
        if (m_prompts) m_prompts->Message(kErrorCaption, text, Prompts::Icon::Error);
      },
      Qt::QueuedConnection);
}
