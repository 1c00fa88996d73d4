#include "key_filters.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "digit_edit.h"
#include "field_decoders.h"

bool FlagTextMustRestart(const QString& textBeforeKey) {
  if (textBeforeKey.isEmpty()) return true;
  for (QChar c : textBeforeKey)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return true;
  bool ok = false;
  const int value = textBeforeKey.toInt(&ok);
  return !ok || value > 32;
}

DigitKeyFilter::DigitKeyFilter(QLineEdit* edit, Hook beforeInsert)
    : QObject(edit), m_edit(edit), m_beforeInsert(std::move(beforeInsert)) {
  edit->installEventFilter(this);
  // Text that comes in without a key press is filtered as it arrives.
  KeepDigitsOnly(edit);
  // Pasting or dropping text would go around the key filter.
  edit->setContextMenuPolicy(Qt::NoContextMenu);
  edit->setAcceptDrops(false);
}

bool DigitKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_edit) return false;
  if (event->type() == QEvent::ShortcutOverride) {
    // Clipboard shortcuts would otherwise reach the edit as commands.
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & Qt::ControlModifier) event->accept();
    return false;
  }
  if (event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (m_clipboard) {
    if (key->matches(QKeySequence::Paste)) {
      PasteDigits();
      return true;
    }
    for (QKeySequence::StandardKey k : {QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Cut,
                                        QKeySequence::Undo, QKeySequence::Redo})
      if (key->matches(k)) return false;  // the edit's own
  }
  // Focus moves are the window's, not typed characters.
  if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) return false;
  // Keys without a character (arrows, Home, Delete) are not typed characters.
  char typed = 0;
  if (key->key() == Qt::Key_Backspace) {
    typed = 8;
  } else if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    typed = 13;
  } else if (key->modifiers() & Qt::ControlModifier) {
    typed = 1;  // Ctrl+V, Ctrl+C, ...: control characters, never digits
  } else {
    const QString text = key->text();
    if (text.isEmpty()) return false;
    const char16_t c = text.at(0).unicode();
    typed = c < 128 ? static_cast<char>(c) : 1;
  }
  const char filtered = FilterDigitKey(typed);
  if (m_beforeInsert) m_beforeInsert(*m_edit, filtered);
  return filtered == 27;
}

void DigitKeyFilter::PasteDigits() {
  QString digits;
  for (QChar c : QGuiApplication::clipboard()->text()) {
    const char filtered = FilterDigitKey(c.unicode() < 128 ? static_cast<char>(c.unicode()) : 1);
    if (filtered >= '0' && filtered <= '9') digits += QLatin1Char(filtered);
  }
  if (!digits.isEmpty()) m_edit->insert(digits);
}
