#pragma once
// Chart_db, "Signal Strength in dBm": one red bar per row of the telegram
// table over a fixed dBm axis, painted by this widget. A paint costs the
// plot's pixels, not the meters: with more bars than pixel columns each
// column shows the tallest of its bars (ChartColumns), and only the meter
// IDs that fit side by side are written. Rebuilding the bars still reads
// the whole table, so the receive path marks the chart stale and the chart
// draws at the end of a receive event, at line rate no more often than
// every 100 ms (a timer draws what came meanwhile), less often with many
// meters.

#include <QElapsedTimer>
#include <QFont>
#include <QRect>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "signal_chart.h"
#include "string_grid.h"

class QTimer;

class SignalChartView : public QWidget {
  Q_OBJECT

 public:
  // The left axis' fixed range, dBm.
  static constexpr int kAxisMin = 20;
  static constexpr int kAxisMax = 150;

  // `table` is read at every draw; `error` gets the line for the log window
  // when a draw fails.
  SignalChartView(const StringGrid& table, std::function<void(const std::string&)> error,
                  QWidget* parent = nullptr);

  // The bars from `column` of the table, now.
  void Draw(int column);
  // A row was written: the chart is stale.
  void MarkStale() { m_stale = true; }
  // End of a receive event: draw when stale, at most every 100 ms.
  void ReceiveEventDone();

  // What the chart shows. The bars of the last draw, the "0" bar first.
  const std::vector<ChartBar>& Bars() const { return m_bars; }
  QString Title() const;
  QString AxisTitle() const;
  QFont AxisTitleFont() const;
  // Where the bars stand: bottom() is the line of kAxisMin, top() that of kAxisMax.
  QRect PlotArea() const;
  // The dBm values written on the left axis: every 10 where they fit above
  // each other, else coarser.
  QStringList AxisLabels() const;
  int AxisStep() const;
  // The meter IDs written under the bars, turned 90 degrees: every
  // `step`-th one, as many as fit the width side by side (none when the
  // chart is too low for any).
  QStringList ShownLabels() const;
  int LabelStep() const;

  QSize sizeHint() const override { return {400, 240}; }
  QSize minimumSizeHint() const override { return {120, 80}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Where everything goes at the widget's size; made again after a resize,
  // a font change or new bars.
  struct Layout {
    bool valid = false;
    QRect chart;  // the white background
    QRect plot;   // bottom(): the kAxisMin line
    int axisStep = 10;
    int labelStep = 1;
    int labelsTop = 0;  // the bottom labels' ends
    int labelsHeight = 0;
    int dbmLabelsLeft = 0;
    int dbmLabelsWidth = 0;
    std::vector<ChartColumn> columns;
    std::vector<size_t> shown;  // indexes of the bars whose IDs are written
  };
  const Layout& Laid() const;
  int ValueY(const Layout& layout, int value) const;

  const StringGrid& m_table;
  std::function<void(const std::string&)> m_error;
  std::vector<ChartBar> m_bars;
  mutable Layout m_layout;
  bool m_stale = false;   // rows written since the chart was last drawn
  QElapsedTimer m_drawn;  // since the chart was last drawn
  qint64 m_drawMs = 0;    // how long the last draw took
  QTimer* m_timer = nullptr;
};

// The least time between two draws of the receive path after a draw that
// took `lastDrawMs`: 100 ms, longer where drawing takes more than a tenth
// of it (thousands of bars), at most 2 s.
qint64 ChartDrawIntervalMs(qint64 lastDrawMs);
// And with `meters` bars at least 100 ms per 250 meters (400 ms for a
// thousand), at most a second.
qint64 ChartMetersIntervalMs(qint64 meters);
