#include "status_bar_clock.h"

#include <QLabel>
#include <QTimer>

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
    if (widths[i] > 0) panel->setFixedWidth(widths[i]);
    addWidget(panel, widths[i] > 0 ? 0 : 1);
    m_panels[i] = panel;
  }
  Timer_time = new QTimer(this);
  Timer_time->setObjectName(QStringLiteral("Timer_time"));
  Timer_time->setInterval(1000);
  connect(Timer_time, &QTimer::timeout, this, &StatusBarClock::Tick);
}

void StatusBarClock::SetPanel(int panel, const QString& text) {
  if (panel >= 0 && panel < 3) m_panels[panel]->setText(text);
}

QString StatusBarClock::Panel(int panel) const {
  return panel >= 0 && panel < 3 ? m_panels[panel]->text() : QString();
}

void StatusBarClock::Tick() {
  const ClockTexts texts = MakeClockTexts(m_times);
  SetPanel(2, texts.statusPanel);
  emit Ticked(texts);
}
