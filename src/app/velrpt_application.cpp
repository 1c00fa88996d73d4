#include "velrpt_application.h"

#include <QEvent>
#include <QMetaObject>
#include <QStyleHints>
#include <exception>

#include "qt_prompts.h"

VelRptApplication::VelRptApplication(int& argc, char** argv) : QApplication(argc, argv) {
  m_ownPrompts = new QtPrompts();
  m_prompts = m_ownPrompts;
  m_flashTime = styleHints()->cursorFlashTime();
  m_blinkEnd.setSingleShot(true);
  m_blinkEnd.setInterval(kCursorBlinkMs);
  connect(&m_blinkEnd, &QTimer::timeout, this, [] { QApplication::styleHints()->setCursorFlashTime(0); });
  if (m_flashTime > 0) m_blinkEnd.start();
}

VelRptApplication::~VelRptApplication() { delete m_ownPrompts; }

void VelRptApplication::NoteInput(const QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::InputMethod:
    case QEvent::FocusIn:
      break;
    default:
      return;
  }
  if (m_flashTime <= 0) return;
  if (styleHints()->cursorFlashTime() != m_flashTime) styleHints()->setCursorFlashTime(m_flashTime);
  m_blinkEnd.start();
}

bool VelRptApplication::notify(QObject* receiver, QEvent* event) {
  NoteInput(event);
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
