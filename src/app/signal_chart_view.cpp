#include "signal_chart_view.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QFontMetrics>
#include <QSet>
#include <QTimer>
#include <QValueAxis>
#include <QtMath>
#include <algorithm>
#include <exception>
#include <vector>

#include "signal_chart.h"
#include "telegram_decoder.h"

namespace {
const QColor kBarRed(255, 0, 0);
// The receive path redraws the chart at most this often ...
constexpr qint64 kChartIntervalMs = 100;
// ... and, where a draw takes long (thousands of bars), leaves the GUI
// thread this many times the draw's time for everything else ...
constexpr qint64 kChartShareInverse = 10;
// ... but follows the table at least this often.
constexpr qint64 kChartMaxIntervalMs = 2000;
// Painting the bars after a draw is not part of the draw's time, and with a
// thousand of them it took more than the draw: one more interval per this
// many meters (at most a second apart on this count alone).
constexpr qint64 kMetersPerInterval = 250;
constexpr qint64 kMetersMaxIntervalMs = 1000;
// Up to this many changed bars are replaced one by one, more refill the set.
constexpr size_t kFewBars = 4;
// Below this height the IDs would leave no room for the bars: none are written.
constexpr int kLabelsMinHeight = 180;
}  // namespace

qint64 ChartDrawIntervalMs(qint64 lastDrawMs) {
  return std::clamp(lastDrawMs * kChartShareInverse, kChartIntervalMs, kChartMaxIntervalMs);
}

qint64 ChartMetersIntervalMs(qint64 meters) {
  const qint64 intervals = std::max<qint64>(1, (meters + kMetersPerInterval - 1) / kMetersPerInterval);
  return std::min(kMetersMaxIntervalMs, kChartIntervalMs * intervals);
}

QStringList ChartCategories(const QStringList& labels) {
  QStringList out;
  out.reserve(labels.size());
  QSet<QString> used;
  for (QString label : labels) {
    if (label.isEmpty()) label = QStringLiteral(" ");
    while (used.contains(label)) label.append(QChar(0x200B));
    used.insert(label);
    out.append(label);
  }
  return out;
}

SignalChartView::SignalChartView(const StringGrid& table, std::function<void(const std::string&)> error,
                                 QWidget* parent)
    : QChartView(parent), m_table(table), m_error(std::move(error)) {
  setObjectName(QStringLiteral("Chart_db"));
  m_chart = new QChart();
  m_chart->setTitle(QStringLiteral("Signal Strength in dBm"));
  m_chart->legend()->hide();
  m_chart->setMargins(QMargins(0, 0, 0, 5));
  m_chart->setBackgroundRoundness(0);

  m_series = new QBarSeries();
  m_series->setObjectName(QStringLiteral("Series1"));
  m_series->setBarWidth(0.1);
  m_series->setLabelsVisible(false);
  // Every bar is drawn pure red; Qt Charts has one colour per set, so one
  // set carries all of them.
  m_barSet = new QBarSet(QString());
  m_barSet->setColor(kBarRed);
  m_barSet->setBorderColor(kBarRed);
  m_series->append(m_barSet);
  m_chart->addSeries(m_series);

  // The category axis places the bars, one per table row; it is not drawn.
  // The IDs are written by a second axis over the same range, which can
  // leave some out when they would not fit side by side.
  m_axisX = new QBarCategoryAxis();
  m_axisX->setLabelsAngle(-90);
  m_chart->addAxis(m_axisX, Qt::AlignBottom);
  m_series->attachAxis(m_axisX);
  m_axisX->setVisible(false);
  m_labelAxis = new QCategoryAxis();
  m_labelAxis->setObjectName(QStringLiteral("Chart_db_labels"));
  m_labelAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  m_labelAxis->setLabelsAngle(-90);
  m_labelAxis->setGridLineVisible(false);
  m_labelAxis->setRange(-0.5, 0.5);
  m_chart->addAxis(m_labelAxis, Qt::AlignBottom);

  m_axisY = new QValueAxis();
  m_axisY->setRange(20, 150);
  // Round steps from the fixed minimum rather than five equal parts of 130.
  m_axisY->setTickType(QValueAxis::TicksDynamic);
  m_axisY->setTickAnchor(20);
  m_axisY->setTickInterval(10);
  m_axisY->setLabelFormat(QStringLiteral("%d"));
  m_axisY->setTitleText(QStringLiteral("dBm"));
  QFont titleFont = m_axisY->titleFont();
  titleFont.setBold(true);
  titleFont.setStretch(QFont::SemiCondensed);
  m_axisY->setTitleFont(titleFont);
  m_chart->addAxis(m_axisY, Qt::AlignLeft);
  m_series->attachAxis(m_axisY);

  setChart(m_chart);
  // Nothing in it to operate: Tab passes it by.
  setFocusPolicy(Qt::NoFocus);
  setRenderHint(QPainter::Antialiasing, false);

  m_timer = new QTimer(this);
  m_timer->setSingleShot(true);
  connect(m_timer, &QTimer::timeout, this, [this] {
    if (m_stale) Draw(kColRssi);
  });
  connect(m_chart, &QChart::plotAreaChanged, this, [this] { FitLabels(); });
}

QStringList SignalChartView::ShownLabels() const { return m_labelAxis->categoriesLabels(); }

void SignalChartView::FitLabels() {
  if (m_fitting) return;
  m_fitting = true;
  const qsizetype count = m_labels.size();
  const qreal slot = count > 0 ? m_chart->plotArea().width() / count : 0;
  const int step =
      slot > 0 ? std::max(1, qCeil((QFontMetrics(m_labelAxis->labelsFont()).height() + 2) / slot)) : 1;
  const bool visible = height() >= kLabelsMinHeight;
  QStringList wanted;
  if (visible)
    for (qsizetype i = 0; i < count; i += step) wanted.append(m_labels[i]);
  if (wanted != m_labelAxis->categoriesLabels() || m_labelAxis->max() != count - 0.5) {
    for (const QString& label : m_labelAxis->categoriesLabels()) m_labelAxis->remove(label);
    m_labelAxis->setRange(-0.5, std::max<qreal>(0.5, count - 0.5));
    for (qsizetype i = 0; i < wanted.size(); ++i) m_labelAxis->append(wanted[i], i * step);
  }
  m_step = step;
  // The dBm steps: every 10 where the labels fit above each other, else
  // coarser, rather than labels cut to "...".
  const qreal plotHeight = m_chart->plotArea().height();
  const int rowHeight = QFontMetrics(m_axisY->labelsFont()).height() + 2;
  qreal interval = 10;
  for (qreal candidate : {10.0, 20.0, 30.0, 50.0, 130.0}) {
    interval = candidate;
    if (plotHeight * candidate / (m_axisY->max() - m_axisY->min()) >= rowHeight) break;
  }
  if (m_axisY->tickInterval() != interval) m_axisY->setTickInterval(interval);
  // A bar narrower than a pixel may not be drawn at all.
  const qreal width = slot > 0 ? std::clamp(1.0 / slot, 0.1, 1.0) : 0.1;
  if (m_series->barWidth() != width) m_series->setBarWidth(width);
  m_fitting = false;
}

void SignalChartView::ReceiveEventDone() {
  if (!m_stale || m_timer->isActive()) return;
  // One bar per meter after the "0" bar.
  const qint64 interval = std::max(ChartDrawIntervalMs(m_drawMs),
                                   ChartMetersIntervalMs(std::max<qint64>(0, m_barSet->count() - 1)));
  const qint64 since = m_drawn.isValid() ? m_drawn.elapsed() : interval;
  if (since >= interval)
    Draw(kColRssi);
  else
    m_timer->start(static_cast<int>(interval - since));
}

void SignalChartView::Draw(int column) {
  m_stale = false;
  m_drawn.start();
  struct Took {
    SignalChartView& view;
    ~Took() { view.m_drawMs = view.m_drawn.elapsed(); }
  } took{*this};
  try {
    const std::vector<ChartBar> bars = SignalChartBars(m_table, column);
    QList<qreal> values;
    QStringList labels;
    values.reserve(static_cast<qsizetype>(bars.size()));
    labels.reserve(static_cast<qsizetype>(bars.size()));
    for (const ChartBar& bar : bars) {
      values.append(bar.value);
      labels.append(QString::fromStdString(bar.label));
    }
    // Qt Charts lays out again for every change of the set or the axis, which
    // costs tens of milliseconds with a thousand meters. Usually one meter's
    // value changed and nothing else: change just that bar.
    QStringList categories = ChartCategories(labels);
    if (categories == m_labels && m_barSet->count() == values.size()) {
      // Each replace lays out all bars again: past a few changed values one
      // refill is cheaper.
      std::vector<qsizetype> changed;
      for (qsizetype i = 0; i < values.size() && changed.size() <= kFewBars; ++i)
        if (m_barSet->at(i) != values[i]) changed.push_back(i);
      if (changed.size() <= kFewBars) {
        for (qsizetype i : changed) m_barSet->replace(i, values[i]);
        return;
      }
    }
    // Meters new to the table come at its end, the usual change while a
    // site fills it: the axis takes just the new categories. Setting all of
    // them again compares each with every other one, which took most of a
    // second per draw with thousands of meters.
    const qsizetype known = m_labels.size();
    if (known > 0 && categories.size() > known && m_barSet->count() == known &&
        std::equal(m_labels.cbegin(), m_labels.cend(), categories.cbegin())) {
      std::vector<qsizetype> changed;
      for (qsizetype i = 0; i < known && changed.size() <= kFewBars; ++i)
        if (m_barSet->at(i) != values[i]) changed.push_back(i);
      m_axisX->append(categories.mid(known));
      if (changed.size() <= kFewBars) {
        for (qsizetype i : changed) m_barSet->replace(i, values[i]);
        m_barSet->append(values.mid(known));
      } else {
        m_barSet->remove(0, m_barSet->count());
        m_barSet->append(values);
      }
      m_labels = std::move(categories);
      FitLabels();
      return;
    }
    m_barSet->remove(0, m_barSet->count());
    const bool relabel = categories != m_labels;
    if (relabel) {
      m_axisX->setCategories(categories);
      m_labels = std::move(categories);
    }
    m_barSet->append(values);
    if (relabel) FitLabels();
  } catch (const std::exception& e) {
    m_error(std::string("Exception drawing chart - ") + e.what());
  }
}
