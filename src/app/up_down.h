#pragma once
// A spinner beside an edit (its buddy): the arrows step a position within a
// range, without wrapping, and show it as the buddy's text. Text typed into
// the buddy moves the position when it is a number in range; text the
// spinner cannot hold (out of range, empty) is corrected in view when the
// buddy is left or Enter is pressed, and by Commit before the value is used,
// so the box always shows what is sent. Digits typed into a read-only buddy
// move the spinner too (its text stays the spinner's).

#include <QWidget>

class QLineEdit;
class QToolButton;

class UpDown : public QWidget {
  Q_OBJECT

 public:
  UpDown(int min, int max, int position, QWidget* parent = nullptr);

  void SetBuddy(QLineEdit* buddy);
  int Position() const { return m_position; }
  void SetPosition(int position);
  int Min() const { return m_min; }
  int Max() const { return m_max; }
  // From the value the box shows (corrected first).
  void StepUp() {
    Commit();
    SetPosition(m_position + 1);
  }
  void StepDown() {
    Commit();
    SetPosition(m_position - 1);
  }
  // Makes the buddy's text and the position agree: a number in range is
  // taken, one beyond the range becomes its nearest end, anything else
  // (empty) shows the position again. True when the text was corrected.
  bool Commit();

 signals:
  void PositionChanged(int position);

 protected:
  // Up and Down in the buddy step the spinner, so the keyboard reaches a
  // read-only buddy's value too (the arrow buttons take no focus).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuddyEdited(const QString& text);
  // A digit or backspace typed into a read-only buddy: the spinner takes
  // the digits typed since the buddy got the focus while they stay in
  // range, else the last digit alone.
  void TypeInto(int key, const QString& typed);

  int m_min, m_max, m_position;
  QLineEdit* m_buddy = nullptr;
  QString m_typed;  // digits typed into a read-only buddy
  QToolButton* m_up;
  QToolButton* m_down;
};
