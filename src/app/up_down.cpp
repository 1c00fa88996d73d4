#include "up_down.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

UpDown::UpDown(int min, int max, int position, QWidget* parent)
    : QWidget(parent), m_min(min), m_max(max), m_position(std::clamp(position, min, max)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  m_up = new QToolButton(this);
  m_up->setArrowType(Qt::UpArrow);
  m_up->setObjectName(QStringLiteral("up"));
  m_down = new QToolButton(this);
  m_down->setArrowType(Qt::DownArrow);
  m_down->setObjectName(QStringLiteral("down"));
  for (QToolButton* b : {m_up, m_down}) {
    b->setFixedSize(18, 12);
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(b);
  }
  connect(m_up, &QToolButton::clicked, this, &UpDown::StepUp);
  connect(m_down, &QToolButton::clicked, this, &UpDown::StepDown);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void UpDown::SetBuddy(QLineEdit* buddy) {
  m_buddy = buddy;
  m_buddy->setText(QString::number(m_position));
  connect(m_buddy, &QLineEdit::textEdited, this, &UpDown::BuddyEdited);
  connect(m_buddy, &QLineEdit::editingFinished, this, &UpDown::Commit);
  m_buddy->installEventFilter(this);
}

bool UpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_buddy && event->type() == QEvent::FocusIn) m_typed.clear();
  if (watched == m_buddy && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      m_typed.clear();
      if (key == Qt::Key_Up)
        StepUp();
      else
        StepDown();
      return true;
    }
    if (m_buddy->isReadOnly()) TypeInto(key, static_cast<QKeyEvent*>(event)->text());
  }
  return QWidget::eventFilter(watched, event);
}

void UpDown::SetPosition(int position) {
  position = std::clamp(position, m_min, m_max);
  const bool changed = position != m_position;
  m_position = position;
  if (m_buddy && m_buddy->text() != QString::number(position)) m_buddy->setText(QString::number(position));
  if (changed) emit PositionChanged(position);
}

void UpDown::BuddyEdited(const QString& text) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (ok && value >= m_min && value <= m_max && value != m_position) {
    m_position = value;
    emit PositionChanged(value);
  }
}

bool UpDown::Commit() {
  if (!m_buddy) return false;
  const QString text = m_buddy->text();
  bool number = !text.isEmpty();
  for (QChar c : text) number = number && c.isDigit();
  int position = m_position;
  if (number) {
    bool fits = false;
    const qlonglong value = text.toLongLong(&fits);
    position = fits ? static_cast<int>(std::clamp<qlonglong>(value, m_min, m_max)) : m_max;
  }
  const bool corrected = text != QString::number(position);
  SetPosition(position);
  return corrected;
}

void UpDown::TypeInto(int key, const QString& typed) {
  if (key == Qt::Key_Backspace) {
    m_typed.chop(1);
    if (!m_typed.isEmpty()) SetPosition(m_typed.toInt());
    return;
  }
  if (typed.size() != 1 || !typed[0].isDigit()) return;
  // "1" then "5" is 15; "2" then "5" in 0..23 is 5.
  m_typed += typed;
  if (m_typed.size() > 1 && (m_typed.toInt() < m_min || m_typed.toInt() > m_max)) m_typed = typed;
  const int value = m_typed.toInt();
  if (value >= m_min && value <= m_max) SetPosition(value);
}
