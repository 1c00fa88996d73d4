#include "log_view.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>

namespace {

// The log's vertical scroll bar, repainted only when what it shows changes.
// At line rate the range and the value grow by a few lines sixty times a
// second, which in a long log leaves the slider on the same pixels; painting
// the bar anyway was a tenth of the window's time.
class LogScrollBar : public QScrollBar {
 public:
  using QScrollBar::QScrollBar;

 protected:
  void sliderChange(SliderChange change) override {
    if ((change == SliderRangeChange || change == SliderValueChange) && m_painted) {
      // Range and value change one after the other as lines arrive: look
      // at the picture once both are set.
      if (!m_checkQueued) {
        m_checkQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
              m_checkQueued = false;
              if (!m_painted || Current() != m_look) update();
            },
            Qt::QueuedConnection);
      }
      return;
    }
    QScrollBar::sliderChange(change);
  }
  void paintEvent(QPaintEvent* event) override {
    m_look = Current();
    m_painted = true;
    QScrollBar::paintEvent(event);
  }
  void changeEvent(QEvent* event) override {
    m_painted = false;  // style, font, enabled state: paint as asked
    QScrollBar::changeEvent(event);
  }

 private:
  struct Look {
    QRect slider;
    bool atMinimum = false;
    bool atMaximum = false;
    bool operator==(const Look&) const = default;
  };
  Look Current() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
            value() == minimum(), value() == maximum()};
  }
  Look m_look;
  bool m_painted = false;
  bool m_checkQueued = false;
};

}  // namespace

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent), m_refreshTimer(new QTimer(this)) {
  m_refreshTimer->setSingleShot(true);
  m_refreshTimer->setTimerType(Qt::PreciseTimer);
  connect(m_refreshTimer, &QTimer::timeout, this, &LogView::Flush);
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setVerticalScrollBar(new LogScrollBar(Qt::Vertical, this));
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  viewport()->setCursor(Qt::IBeamCursor);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    m_follow = value >= verticalScrollBar()->maximum();
    if (!m_following) viewport()->update();
  });
}

void LogView::AppendLine(std::string_view line) {
  m_store.Append(line);
  ScheduleRefresh();
}

void LogView::AppendTelegramLine(std::string_view prefix, std::string_view frame, std::string_view) {
  m_store.AppendTelegram(prefix, frame);
  ScheduleRefresh();
}

void LogView::AppendLine(const QString& line) {
  const QByteArray utf8 = line.toUtf8();
  AppendLine(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

void LogView::Clear() {
  m_store.Clear();
  m_shown = 0;
  m_anchor = m_cursor = -1;
  m_follow = true;
  ScheduleRefresh();
}

QString LogView::Line(int index) const {
  std::string scratch;
  const std::string_view l = m_store.LineView(static_cast<size_t>(index), scratch);
  return QString::fromUtf8(l.data(), static_cast<qsizetype>(l.size()));
}

QStringList LogView::Lines() const {
  QStringList lines;
  lines.reserve(LineCount());
  for (int i = 0; i < LineCount(); ++i) lines.append(Line(i));
  return lines;
}

QString LogView::SelectedText() const {
  if (m_anchor < 0) return {};
  QStringList lines;
  for (int i = SelectionFirst(); i <= SelectionLast() && i < LineCount(); ++i) lines.append(Line(i));
  return lines.join('\n');
}

void LogView::SelectAll() {
  if (LineCount() == 0) return;
  m_anchor = 0;
  m_cursor = LineCount() - 1;
  viewport()->update();
}

void LogView::CopySelection() const {
  if (m_anchor >= 0) QApplication::clipboard()->setText(SelectedText());
}

void LogView::ScheduleRefresh() {
  if (m_refreshQueued) return;
  m_refreshQueued = true;
  const qint64 since = m_flushed.isValid() ? m_flushed.elapsed() : kRefreshIntervalMs;
  if (since >= kRefreshIntervalMs)
    QMetaObject::invokeMethod(this, &LogView::Flush, Qt::QueuedConnection);
  else
    m_refreshTimer->start(static_cast<int>(kRefreshIntervalMs - since));
}

void LogView::Flush() {
  m_refreshTimer->stop();
  m_refreshQueued = false;
  m_flushed.start();
  const int shownBefore = m_shown;
  const int firstBefore = verticalScrollBar()->value();
  m_shown = LineCount();
  const bool follow = m_follow;
  UpdateScrollBars();
  if (follow) {
    m_following = true;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    m_following = false;
  }
  RepaintNewLines(shownBefore, firstBefore);
  emit LinesShown(m_shown);
}

void LogView::scrollContentsBy(int, int) {
  // The view paints by line index; Flush moves the rows itself when it follows.
  if (!m_following) viewport()->update();
}

void LogView::RepaintNewLines(int shownBefore, int firstBefore) {
  // Lines are only ever added at the end: the lines already in view move up
  // by as many rows as the view followed, and only the rows from the first
  // new line down need painting. Moving the pixels instead of drawing every
  // row again is most of what a telegram costs the window.
  const int first = verticalScrollBar()->value();
  const int moved = first - firstBefore;
  const int lineHeight = LineHeight();
  if (shownBefore > m_shown || moved < 0 || moved >= VisibleLines() || firstBefore > shownBefore) {
    viewport()->update();
    return;
  }
  if (moved > 0) viewport()->scroll(0, -moved * lineHeight);
  const int top = (shownBefore - first) * lineHeight;
  if (top < viewport()->height()) viewport()->update(0, top, viewport()->width(), viewport()->height() - top);
}

int LogView::LineHeight() const { return std::max(1, fontMetrics().lineSpacing()); }

int LogView::VisibleLines() const { return std::max(1, viewport()->height() / LineHeight()); }

void LogView::UpdateScrollBars() {
  const int visible = VisibleLines();
  QScrollBar* v = verticalScrollBar();
  const bool follow = m_follow;
  v->setPageStep(visible);
  v->setSingleStep(1);
  v->setRange(0, std::max(0, LineCount() - visible));
  m_follow = follow;
  QScrollBar* h = horizontalScrollBar();
  const int width =
      static_cast<int>(m_store.MaxLength()) * fontMetrics().horizontalAdvance(QLatin1Char('0')) + 8;
  h->setPageStep(viewport()->width());
  h->setSingleStep(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 4);
  h->setRange(0, std::max(0, width - viewport()->width()));
}

void LogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  const bool follow = m_follow;
  UpdateScrollBars();
  if (follow) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) UpdateScrollBars();
}

namespace {
// Printable ASCII: one character, one advance (a tab is wider).
bool IsPlainAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}
}  // namespace

void LogView::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  const int lineHeight = LineHeight();
  const int first = verticalScrollBar()->value();
  const int x = 2 - horizontalScrollBar()->value();
  const int ascent = fontMetrics().ascent();
  const QPalette& pal = palette();
  const int last = std::min(LineCount() - 1, first + VisibleLines());
  // Laying out text is what painting costs, and a telegram's line is far
  // wider than the window. In a fixed-pitch font an ASCII character k sits
  // at k advances, so only the characters in view are drawn, where the
  // whole line would have put them.
  const bool fixedPitch = QFontInfo(font()).fixedPitch();
  const qreal advance = QFontMetricsF(font()).horizontalAdvance(QLatin1Char('0'));
  const size_t firstCol =
      fixedPitch && advance > 0 && x < 0 ? static_cast<size_t>(std::max(0.0, -x / advance - 1)) : 0;
  const size_t cols = fixedPitch && advance > 0 ? static_cast<size_t>(viewport()->width() / advance) + 3 : 0;
  for (int i = first, y = 0; i <= last; ++i, y += lineHeight) {
    const bool selected = m_anchor >= 0 && i >= SelectionFirst() && i <= SelectionLast();
    if (selected) {
      p.fillRect(0, y, viewport()->width(), lineHeight, pal.highlight());
      p.setPen(pal.color(QPalette::HighlightedText));
    } else {
      p.setPen(pal.color(QPalette::Text));
    }
    const std::string_view line = m_store.LineView(static_cast<size_t>(i), m_paintScratch);
    if (cols > 0 && IsPlainAscii(line.substr(0, firstCol + cols))) {
      if (firstCol >= line.size()) continue;
      const std::string_view part = line.substr(firstCol, cols);
      p.drawText(QPointF(x + static_cast<qreal>(firstCol) * advance, y + ascent),
                 QString::fromLatin1(part.data(), static_cast<qsizetype>(part.size())));
    } else {
      p.drawText(x, y + ascent, QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    }
  }
}

int LogView::LineAt(int y) const {
  return std::clamp(verticalScrollBar()->value() + y / LineHeight(), 0, std::max(0, LineCount() - 1));
}

void LogView::EnsureVisible(int line) {
  QScrollBar* v = verticalScrollBar();
  if (line < v->value())
    v->setValue(line);
  else if (line >= v->value() + VisibleLines())
    v->setValue(line - VisibleLines() + 1);
}

void LogView::mousePressEvent(QMouseEvent* event) {
  if (LineCount() == 0 || event->button() != Qt::LeftButton) return;
  const int line = LineAt(event->position().toPoint().y());
  if (!(event->modifiers() & Qt::ShiftModifier) || m_anchor < 0) m_anchor = line;
  m_cursor = line;
  viewport()->update();
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || m_anchor < 0) return;
  m_cursor = LineAt(event->position().toPoint().y());
  EnsureVisible(m_cursor);
  viewport()->update();
}

void LogView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) return CopySelection();
  if (event->matches(QKeySequence::SelectAll)) return SelectAll();
  QScrollBar* v = verticalScrollBar();
  switch (event->key()) {
    case Qt::Key_Up:
      v->setValue(v->value() - 1);
      return;
    case Qt::Key_Down:
      v->setValue(v->value() + 1);
      return;
    case Qt::Key_PageUp:
      v->setValue(v->value() - v->pageStep());
      return;
    case Qt::Key_PageDown:
      v->setValue(v->value() + v->pageStep());
      return;
    case Qt::Key_Home:
      v->setValue(0);
      return;
    case Qt::Key_End:
      v->setValue(v->maximum());
      return;
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(tr("Copy"), this, &LogView::CopySelection);
  copy->setEnabled(m_anchor >= 0);
  menu.addAction(tr("Select all"), this, &LogView::SelectAll);
  menu.exec(event->globalPos());
}
