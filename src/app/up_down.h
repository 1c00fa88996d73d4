#pragma once
// A spinner beside an edit (its buddy): the arrows step a position within a
// range, without wrapping, and show it as the buddy's text. Text typed into
// the buddy moves the position when it is a number in range.

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
  void StepUp() { SetPosition(m_position + 1); }
  void StepDown() { SetPosition(m_position - 1); }

 signals:
  void PositionChanged(int position);

 protected:
  // Up and Down in the buddy step the spinner, so the keyboard reaches a
  // read-only buddy's value too (the arrow buttons take no focus).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuddyEdited(const QString& text);

  int m_min, m_max, m_position;
  QLineEdit* m_buddy = nullptr;
  QToolButton* m_up;
  QToolButton* m_down;
};
