#pragma once
// StatusBar1 with its three panels (0 port / last device, 1 last command
// result, 2 clock) and the clock timer Timer_time that ticks every second.

#include <QElapsedTimer>
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
  // The same for a text that changes at line rate ("Last read device: ..."):
  // shown at once after a quiet spell, else at most every kPanelIntervalMs,
  // the latest text winning. Each new text lays the status bar out again,
  // which per telegram cost the window more than the telegram itself.
  void SetPanelSoon(int panel, const QString& text);
  // The panel's text, including one set and not yet shown.
  QString Panel(int panel) const;
  static constexpr int kPanelIntervalMs = 16;
  // One clock tick: panel 2 now, the rest through Ticked.
  void Tick();

  QTimer* Timer_time;

 signals:
  void Ticked(const ClockTexts& texts);

 private:
  void ShowPending();

  const TimeTexts& m_times;
  QLabel* m_panels[3] = {};
  int m_pendingPanel = -1;  // the panel whose text waits for m_pendingTimer
  QString m_pendingText;
  QTimer* m_pendingTimer = nullptr;
  QElapsedTimer m_shown;  // since a text set soon was last shown
};
