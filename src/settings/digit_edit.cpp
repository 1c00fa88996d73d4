#include "digit_edit.h"

#include <QLineEdit>

void KeepDigitsOnly(QLineEdit* edit) {
  QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString& text) {
    QString digits;
    int cursor = 0;
    const int at = edit->cursorPosition();
    for (int i = 0; i < text.size(); ++i) {
      if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9')) continue;
      digits += text[i];
      if (i < at) ++cursor;
    }
    if (digits.size() == text.size()) return;
    edit->setText(digits);
    edit->setCursorPosition(cursor);
  });
}
