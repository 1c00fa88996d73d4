#pragma once
// Chart_db, "Signal Strength in dBm": one red bar per row of the telegram
// table. Redrawing lays out every bar again, which with a thousand meters
// costs more than decoding the telegrams, so the receive path marks the
// chart stale and the chart draws at the end of a receive event, at line
// rate no more often than every 100 ms (a timer draws what came meanwhile).

#include <QChartView>
#include <QElapsedTimer>
#include <QStringList>
#include <functional>
#include <string>

#include "string_grid.h"

class QBarCategoryAxis;
class QCategoryAxis;
class QBarSeries;
class QBarSet;
class QChart;
class QTimer;
class QValueAxis;

class SignalChartView : public QChartView {
  Q_OBJECT

 public:
  // `table` is read at every draw; `error` gets the line for the log window
  // when a draw fails.
  SignalChartView(const StringGrid& table, std::function<void(const std::string&)> error,
                  QWidget* parent = nullptr);

  QBarSeries* Series() const { return m_series; }
  // The bars from `column` of the table, now.
  void Draw(int column);
  // A row was written: the chart is stale.
  void MarkStale() { m_stale = true; }
  // End of a receive event: draw when stale, at most every 100 ms.
  void ReceiveEventDone();
  // The meter IDs shown under the bars: every `step`-th one, as many as
  // fit the width side by side (0 when the chart is too low for any).
  QStringList ShownLabels() const;
  int LabelStep() const { return m_step; }

 private:
  const StringGrid& m_table;
  std::function<void(const std::string&)> m_error;
  QChart* m_chart = nullptr;
  QBarSeries* m_series = nullptr;
  QBarSet* m_barSet = nullptr;
  QBarCategoryAxis* m_axisX = nullptr;
  QValueAxis* m_axisY = nullptr;
  // Lays the bottom labels out for the plot's width: with hundreds of meters
  // only every n-th ID is written, and bars stay at least a pixel wide.
  void FitLabels();

  QCategoryAxis* m_labelAxis = nullptr;  // the IDs that are written
  int m_step = 1;
  bool m_fitting = false;
  QStringList m_labels;   // the bottom axis' categories as last set
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

// Category labels for the chart's bottom axis: the axis drops empty and
// repeated names, so those are made distinct with invisible characters.
QStringList ChartCategories(const QStringList& labels);
