#pragma once
// StatusBar1 with its three panels (0 port / last device, 1 last command
// result, 2 clock) and the clock timer Timer_time that ticks every second.

#include <QStatusBar>
#include <QString>

#include "local_formats.h"

class QLabel;
class QTimer;

// The texts of one clock tick: status bar panel 2 and Label_datetime.
struct ClockTexts {
  QString statusPanel;
  QString label;
};
ClockTexts MakeClockTexts(const TimeTexts& times);

class StatusBarClock : public QStatusBar {
  Q_OBJECT

 public:
  StatusBarClock(const TimeTexts& times, QWidget* parent = nullptr);

  void SetPanel(int panel, const QString& text);
  QString Panel(int panel) const;
  // One clock tick: panel 2 now, the rest through Ticked.
  void Tick();

  QTimer* Timer_time;

 signals:
  void Ticked(const ClockTexts& texts);

 private:
  const TimeTexts& m_times;
  QLabel* m_panels[3] = {};
};
