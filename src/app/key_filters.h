#pragma once
// The per-key filters of the numeric edits. Every typed character passes
// through FilterDigitKey; what comes back as ESC is not inserted.

#include <QObject>
#include <QString>
#include <functional>

class QLineEdit;

// The Edit_flag range rule: given the edit's text before the typed key,
// true when it must be emptied first (not a whole decimal number, or above
// 32), so the key starts a new value.
bool FlagTextMustRestart(const QString& textBeforeKey);

// Filters the key presses of one edit. `beforeInsert` (optional) runs after
// the filter and before the key reaches the edit.
class DigitKeyFilter : public QObject {
  Q_OBJECT

 public:
  using Hook = std::function<void(QLineEdit& edit, char filtered)>;
  DigitKeyFilter(QLineEdit* edit, Hook beforeInsert = {});
  // The ID boxes: Ctrl+A, copy, cut, undo work, and a paste (Ctrl+V,
  // Shift+Insert) inserts the clipboard's text as the filter lets it
  // through, digit by digit, up to the box's length.
  void AllowClipboard() { m_clipboard = true; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PasteDigits();

  QLineEdit* m_edit;
  Hook m_beforeInsert;
  bool m_clipboard = false;
};
