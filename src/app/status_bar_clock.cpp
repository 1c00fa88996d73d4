#include "status_bar_clock.h"

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

StatusBarClock::StatusBarClock(const TimeTexts& times, QWidget* parent) : QStatusBar(parent), m_times(times) {
  setObjectName(QStringLiteral("StatusBar1"));
  setSizeGripEnabled(true);
  const int widths[] = {300, 500, 0};
  for (int i = 0; i < 3; ++i) {
    auto* panel = new QLabel(this);
    panel->setObjectName(QStringLiteral("StatusBar1_Panel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // The clock and the last device change while nothing else does: an
    // opaque panel repaints alone, not the status bar behind it.
    panel->setAutoFillBackground(true);
    if (widths[i] > 0) panel->setFixedWidth(widths[i]);
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
