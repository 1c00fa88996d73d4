#include "status_bar_clock.h"

#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <utility>

ClockTexts MakeClockTexts(const TimeTexts& times) {
  const LocalTime now = times.Now();
  const QString date = QString::fromStdString(times.Date(now));
  const QString time = QString::fromStdString(times.Time(now));
  return {QStringLiteral("        ") + time + QStringLiteral(", ") + date, date + QLatin1Char(' ') + time};
}

namespace {

// A panel of fixed size: a new text repaints the panel alone. A label whose
// size may change asks its status bar to lay out again at every new text,
// which at a site's pace cost the window more than the telegrams' rows.
// Its height is one line of its font.
class StatusPanel : public QLabel {
 public:
  explicit StatusPanel(int width, QWidget* parent) : QLabel(parent), m_width(width) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // Opaque: it repaints alone, not the status bar behind it.
    setAutoFillBackground(true);
    FixSize();
  }

 protected:
  void changeEvent(QEvent* event) override {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) FixSize();
  }

 private:
  void FixSize() {
    // As tall as a label of this look holding one line; the clock's panel
    // takes the width that is left.
    QLabel line(QStringLiteral("0"));
    line.setStyle(style());
    line.setFont(font());
    line.setFrameStyle(frameStyle());
    line.setMargin(margin());
    setFixedHeight(line.sizeHint().height());
    if (m_width > 0) setFixedWidth(m_width);
  }
  int m_width;
};

}  // namespace

StatusBarClock::StatusBarClock(const TimeTexts& times, QWidget* parent) : QStatusBar(parent), m_times(times) {
  setObjectName(QStringLiteral("StatusBar1"));
  setSizeGripEnabled(true);
  const int widths[] = {300, 500, 0};
  for (int i = 0; i < 3; ++i) {
    auto* panel = new StatusPanel(widths[i], this);
    panel->setObjectName(QStringLiteral("StatusBar1_Panel%1").arg(i));
    addWidget(panel, widths[i] > 0 ? 0 : 1);
    m_panels[i] = panel;
  }
  Timer_time = new QTimer(this);
  Timer_time->setObjectName(QStringLiteral("Timer_time"));
  Timer_time->setInterval(1000);
  connect(Timer_time, &QTimer::timeout, this, &StatusBarClock::Tick);
  m_pendingTimer = new QTimer(this);
  m_pendingTimer->setSingleShot(true);
  connect(m_pendingTimer, &QTimer::timeout, this, &StatusBarClock::ShowPending);
}

void StatusBarClock::SetPanel(int panel, const QString& text) {
  if (panel < 0 || panel >= 3) return;
  // A text set now replaces one still waiting for the same panel.
  if (panel == m_pendingPanel) {
    m_pendingPanel = -1;
    m_pendingTimer->stop();
  }
  m_panels[panel]->setText(text);
}

void StatusBarClock::SetPanelSoon(int panel, const QString& text) {
  if (panel < 0 || panel >= 3) return;
  if (m_pendingPanel >= 0 && m_pendingPanel != panel) ShowPending();
  const qint64 since = m_shown.isValid() ? m_shown.elapsed() : kPanelIntervalMs;
  if (!m_pendingTimer->isActive() && since >= kPanelIntervalMs) {
    m_panels[panel]->setText(text);
    m_shown.start();
    return;
  }
  m_pendingPanel = panel;
  m_pendingText = text;
  if (!m_pendingTimer->isActive())
    m_pendingTimer->start(static_cast<int>(std::max<qint64>(0, kPanelIntervalMs - since)));
}

void StatusBarClock::ShowPending() {
  m_pendingTimer->stop();
  if (m_pendingPanel < 0) return;
  const int panel = std::exchange(m_pendingPanel, -1);
  m_panels[panel]->setText(m_pendingText);
  m_shown.start();
}

QString StatusBarClock::Panel(int panel) const {
  if (panel == m_pendingPanel) return m_pendingText;
  return panel >= 0 && panel < 3 ? m_panels[panel]->text() : QString();
}

void StatusBarClock::Tick() {
  const ClockTexts texts = MakeClockTexts(m_times);
  SetPanel(2, texts.statusPanel);
  emit Ticked(texts);
}
