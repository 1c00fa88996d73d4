#include "signal_chart_view.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <exception>

#include "telegram_decoder.h"

namespace {
const QColor kBarRed(255, 0, 0);
// The chart's own colours, whatever the desktop's palette: a white card
// with grey lines and dark grey text.
const QColor kBackground(255, 255, 255);
const QColor kText(0x40, 0x40, 0x44);
const QColor kGridLine(0xe2, 0xe2, 0xe2);
const QColor kAxisLine(0xd6, 0xd6, 0xd6);
// Around the card, and inside it: no margin left, right and top, 5 below.
constexpr int kOuterMargin = 9;
constexpr int kBottomMargin = 5;
constexpr int kTitleGap = 10;
constexpr int kAxisTitleLeft = 4;
constexpr int kDbmTick = 2;
constexpr int kIdTick = 5;
// Below this height the IDs would leave no room for the bars: none are written.
constexpr int kLabelsMinHeight = 180;
// The dBm steps tried, finest first, all from kAxisMin.
constexpr int kAxisSteps[] = {10, 20, 30, 50, 130};
// The receive path redraws the chart at most this often ...
constexpr qint64 kChartIntervalMs = 100;
// ... and, where a draw takes long (thousands of bars), leaves the GUI
// thread this many times the draw's time for everything else ...
constexpr qint64 kChartShareInverse = 10;
// ... but follows the table at least this often.
constexpr qint64 kChartMaxIntervalMs = 2000;
// Reading the table for the bars grows with the meters as well: one more
// interval per this many meters (at most a second apart on this count alone).
constexpr qint64 kMetersPerInterval = 250;
constexpr qint64 kMetersMaxIntervalMs = 1000;

// The axis' value format "###": whole numbers, nothing for 0.
QString DbmText(int value) { return value == 0 ? QString() : QString::number(value); }
}  // namespace

qint64 ChartDrawIntervalMs(qint64 lastDrawMs) {
  return std::clamp(lastDrawMs * kChartShareInverse, kChartIntervalMs, kChartMaxIntervalMs);
}

qint64 ChartMetersIntervalMs(qint64 meters) {
  const qint64 intervals = std::max<qint64>(1, (meters + kMetersPerInterval - 1) / kMetersPerInterval);
  return std::min(kMetersMaxIntervalMs, kChartIntervalMs * intervals);
}

SignalChartView::SignalChartView(const StringGrid& table, std::function<void(const std::string&)> error,
                                 QWidget* parent)
    : QWidget(parent), m_table(table), m_error(std::move(error)) {
  setObjectName(QStringLiteral("Chart_db"));
  // Nothing in it to operate: Tab passes it by.
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  m_timer = new QTimer(this);
  m_timer->setSingleShot(true);
  connect(m_timer, &QTimer::timeout, this, [this] {
    if (m_stale) Draw(kColRssi);
  });
}

QString SignalChartView::Title() const { return QStringLiteral("Signal Strength in dBm"); }

QString SignalChartView::AxisTitle() const { return QStringLiteral("dBm"); }

QFont SignalChartView::AxisTitleFont() const {
  QFont bold = font();
  bold.setBold(true);
  bold.setStretch(QFont::SemiCondensed);
  return bold;
}

QRect SignalChartView::PlotArea() const { return Laid().plot; }

int SignalChartView::AxisStep() const { return Laid().axisStep; }

QStringList SignalChartView::AxisLabels() const {
  QStringList labels;
  for (int v = kAxisMin; v <= kAxisMax; v += Laid().axisStep) labels.append(DbmText(v));
  return labels;
}

QStringList SignalChartView::ShownLabels() const {
  QStringList labels;
  for (size_t i : Laid().shown) labels.append(QString::fromStdString(m_bars[i].label));
  return labels;
}

int SignalChartView::LabelStep() const { return Laid().labelStep; }

const SignalChartView::Layout& SignalChartView::Laid() const {
  Layout& l = m_layout;
  if (l.valid) return l;
  l.valid = true;
  const QFontMetrics fm(font());
  const QFontMetrics titleFm(AxisTitleFont());
  l.chart = rect().adjusted(kOuterMargin, kOuterMargin, -kOuterMargin, -kOuterMargin);

  // Across: the axis title, the dBm labels, the ticks, then the plot to the
  // card's right edge.
  l.dbmLabelsLeft = l.chart.left() + kAxisTitleLeft + titleFm.height() + 3;
  l.dbmLabelsWidth = 0;
  for (int v = kAxisMin; v <= kAxisMax; v += 10)
    l.dbmLabelsWidth = std::max(l.dbmLabelsWidth, fm.horizontalAdvance(DbmText(v)));
  const int plotLeft = l.dbmLabelsLeft + l.dbmLabelsWidth + 4 + kDbmTick + 1;
  const int plotWidth = std::max(0, l.chart.right() + 1 - plotLeft);

  l.columns = ChartColumns(m_bars, plotWidth);
  const size_t count = m_bars.size();
  const double slot = count > 0 ? double(plotWidth) / double(count) : 0;
  l.labelStep = slot > 0 ? std::max(1, int(std::ceil((fm.height() + 2) / slot))) : 1;
  l.shown.clear();
  l.labelsHeight = 0;
  if (height() >= kLabelsMinHeight) {
    for (size_t i = 0; i < count; i += size_t(l.labelStep)) {
      l.shown.push_back(i);
      l.labelsHeight =
          std::max(l.labelsHeight, fm.horizontalAdvance(QString::fromStdString(m_bars[i].label)));
    }
    // Long texts in a low chart are cut rather than squeezing out the bars.
    l.labelsHeight = std::min(l.labelsHeight, l.chart.height() / 2);
  }

  // Down: the title, the plot, the ticks and the IDs, the bottom margin.
  const int labelsBottom = l.chart.bottom() + 1 - kBottomMargin;
  l.labelsTop = labelsBottom - l.labelsHeight;
  // The texts' own leading sits between the ticks and the ink.
  const int plotBottom = l.labelsTop + 1 - kIdTick;
  const int plotTop = std::min(plotBottom, l.chart.top() + fm.height() + kTitleGap);
  l.plot = QRect(QPoint(plotLeft, plotTop), QPoint(plotLeft + plotWidth - 1, plotBottom));

  // The dBm steps: every 10 where the labels fit above each other, else
  // coarser, rather than labels on top of each other.
  const int rowHeight = fm.height() + 2;
  for (int step : kAxisSteps) {
    l.axisStep = step;
    if (double(l.plot.height()) * step / (kAxisMax - kAxisMin) >= rowHeight) break;
  }
  return l;
}

int SignalChartView::ValueY(const Layout& l, int value) const {
  // Bars start at 0 and the axis at 20: only what lies inside the range shows.
  const int v = std::clamp(value, kAxisMin, kAxisMax);
  const int span = l.plot.bottom() - l.plot.top();
  return l.plot.bottom() - int(std::lround(double(v - kAxisMin) * span / (kAxisMax - kAxisMin)));
}

void SignalChartView::resizeEvent(QResizeEvent* event) {
  m_layout.valid = false;
  QWidget::resizeEvent(event);
}

void SignalChartView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) m_layout.valid = false;
  QWidget::changeEvent(event);
}

void SignalChartView::paintEvent(QPaintEvent* event) {
  const Layout& l = Laid();
  const QFontMetrics fm(font());
  // Laying out the texts is what a paint costs; none of them is in the plot.
  const bool texts = !l.plot.contains(event->rect());
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  p.fillRect(l.chart, kBackground);
  p.setClipRect(l.chart);
  p.setPen(kText);
  if (texts)
    p.drawText(QRect(l.chart.left(), l.chart.top() + 1, l.chart.width(), fm.height()),
               Qt::AlignHCenter | Qt::AlignTop, Title());

  // The dBm lines and labels.
  for (int v = kAxisMin; v <= kAxisMax; v += l.axisStep) {
    const int y = ValueY(l, v);
    if (v != kAxisMin) {
      p.setPen(kGridLine);
      p.drawLine(l.plot.left(), y, l.plot.right(), y);
    }
    p.setPen(kAxisLine);
    p.drawLine(l.plot.left() - 1 - kDbmTick, y, l.plot.left() - 2, y);
    if (!texts) continue;
    p.setPen(kText);
    p.drawText(QRect(l.dbmLabelsLeft, y - fm.height() / 2, l.dbmLabelsWidth, fm.height()),
               Qt::AlignRight | Qt::AlignVCenter, DbmText(v));
  }

  // The bars, above the kAxisMin line.
  for (const ChartColumn& c : l.columns) {
    const int top = ValueY(l, c.value);
    if (top < l.plot.bottom())
      p.fillRect(l.plot.left() + c.left, top, c.width, l.plot.bottom() - top, kBarRed);
  }

  p.setPen(kAxisLine);
  p.drawLine(l.plot.left() - 1, l.plot.top(), l.plot.left() - 1, l.plot.bottom());
  p.drawLine(l.plot.left() - 1, l.plot.bottom(), l.plot.right(), l.plot.bottom());
  if (!texts) return;

  // "dBm", turned to read upwards along the axis.
  p.save();
  p.setFont(AxisTitleFont());
  p.setPen(kText);
  p.translate(l.chart.left() + kAxisTitleLeft, l.plot.center().y());
  p.rotate(-90);
  p.drawText(QRect(-l.plot.height() / 2, 0, l.plot.height(), QFontMetrics(p.font()).height()),
             Qt::AlignCenter, AxisTitle());
  p.restore();

  // The IDs, turned 90 degrees, each ending under the middle of its bar.
  const double slot = m_bars.empty() ? 0 : double(l.plot.width()) / double(m_bars.size());
  for (size_t i : l.shown) {
    const int x = l.plot.left() + int((double(i) + 0.5) * slot);
    p.setPen(kAxisLine);
    p.drawLine(x, l.plot.bottom() + 1, x, l.plot.bottom() + kIdTick - 1);
    p.save();
    p.setPen(kText);
    p.translate(x, l.labelsTop);
    p.rotate(-90);
    p.drawText(QRect(-l.labelsHeight, -fm.height() / 2, l.labelsHeight, fm.height()),
               Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(m_bars[i].label));
    p.restore();
  }
}

void SignalChartView::ReceiveEventDone() {
  if (!m_stale || m_timer->isActive()) return;
  // One bar per meter after the "0" bar.
  const qint64 interval = std::max(ChartDrawIntervalMs(m_drawMs),
                                   ChartMetersIntervalMs(std::max<qint64>(0, qint64(m_bars.size()) - 1)));
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
    std::vector<ChartBar> bars = SignalChartBars(m_table, column);
    if (bars == m_bars) return;
    // Where only the values moved, the frame around the bars stays as laid
    // out: only the plot is painted again, not every text of the chart.
    const bool sameFrame = m_layout.valid && std::equal(bars.begin(), bars.end(), m_bars.begin(), m_bars.end(),
                                                        [](const ChartBar& a, const ChartBar& b) {
                                                          return a.x == b.x && a.label == b.label;
                                                        });
    const QRect plot = m_layout.plot;
    m_bars = std::move(bars);
    m_layout.valid = false;
    if (sameFrame)
      update(plot);
    else
      update();
  } catch (const std::exception& e) {
    m_error(std::string("Exception drawing chart - ") + e.what());
  }
}
