#pragma once
// The log window: a read-only list of text lines that paints only the lines
// in view. It holds hundreds of thousands of lines in little memory
// (LogStore) and shows new lines at most once per turn of the event loop and
// at most every kRefreshIntervalMs, however many lines arrive. Lines can be selected with the mouse or the
// keyboard and copied.

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <string_view>

#include "log_sink.h"
#include "log_store.h"

class QTimer;

class LogView : public QAbstractScrollArea, public LogSink {
  Q_OBJECT

 public:
  explicit LogView(QWidget* parent = nullptr);

  void AppendLine(std::string_view line) override;
  // Keeps the frame's bytes, not its text.
  void AppendTelegramLine(std::string_view prefix, std::string_view frame, std::string_view hex) override;
  void AppendLine(const QString& line);
  // Empties the window (File / "Clear log").
  void Clear();

  int LineCount() const { return static_cast<int>(m_store.Count()); }
  QString Line(int index) const;
  QStringList Lines() const;
  const LogStore& Store() const { return m_store; }
  // At most about 60 refreshes a second: painting is what the window costs
  // at line rate, and no one reads faster.
  static constexpr int kRefreshIntervalMs = 16;

  // Lines added but not yet shown (they are within kRefreshIntervalMs).
  int PendingCount() const { return LineCount() - m_shown; }

  // Selected lines, first to last (both -1 when nothing is selected).
  int SelectionFirst() const { return std::min(m_anchor, m_cursor); }
  int SelectionLast() const { return std::max(m_anchor, m_cursor); }
  QString SelectedText() const;
  void SelectAll();
  void CopySelection() const;
  // Shows the lines that arrived since the last turn of the event loop now
  // (tests and benchmarks; the window does it by itself).
  void Flush();

 signals:
  // The window now shows `count` lines (after each Flush).
  void LinesShown(int count);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void ScheduleRefresh();
  void UpdateScrollBars();
  void RepaintNewLines(int shownBefore, int firstBefore);
  int LineHeight() const;
  int VisibleLines() const;
  int LineAt(int y) const;
  void EnsureVisible(int line);

  LogStore m_store;
  std::string m_paintScratch;
  bool m_refreshQueued = false;
  QTimer* m_refreshTimer;
  QElapsedTimer m_flushed;  // since the last refresh
  int m_shown = 0;
  bool m_follow = true;  // keep the newest line in view
  bool m_following = false;  // Flush moves the view to the end itself
  int m_anchor = -1;
  int m_cursor = -1;
};
