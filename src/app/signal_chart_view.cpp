#include "signal_chart_view.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QSet>
#include <QTimer>
#include <QValueAxis>
#include <exception>
#include <vector>

#include "signal_chart.h"
#include "telegram_decoder.h"

namespace {
const QColor kBarRed(255, 0, 0);
// The receive path redraws the chart at most this often.
constexpr qint64 kChartIntervalMs = 100;
// Up to this many changed bars are replaced one by one, more refill the set.
constexpr size_t kFewBars = 4;
}  // namespace

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

  m_axisX = new QBarCategoryAxis();
  m_axisX->setLabelsAngle(-90);
  m_chart->addAxis(m_axisX, Qt::AlignBottom);
  m_series->attachAxis(m_axisX);

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
  setRenderHint(QPainter::Antialiasing, false);

  m_timer = new QTimer(this);
  m_timer->setSingleShot(true);
  connect(m_timer, &QTimer::timeout, this, [this] {
    if (m_stale) Draw(kColRssi);
  });
}

void SignalChartView::ReceiveEventDone() {
  if (!m_stale || m_timer->isActive()) return;
  const qint64 since = m_drawn.isValid() ? m_drawn.elapsed() : kChartIntervalMs;
  if (since >= kChartIntervalMs)
    Draw(kColRssi);
  else
    m_timer->start(static_cast<int>(kChartIntervalMs - since));
}

void SignalChartView::Draw(int column) {
  m_stale = false;
  m_drawn.start();
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
    m_barSet->remove(0, m_barSet->count());
    if (categories != m_labels) {
      m_axisX->setCategories(categories);
      m_labels = std::move(categories);
    }
    m_barSet->append(values);
  } catch (const std::exception& e) {
    m_error(std::string("Exception drawing chart - ") + e.what());
  }
}
