#include "log_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

TEST(LogStore, KeepsEveryLineCompactly) {
  LogStore store;
  std::string longLine(3 << 20, 'x');  // larger than a block
  const int n = 100000;
  for (int i = 0; i < n; ++i) store.Append("line " + std::to_string(i));
  store.Append(longLine);
  store.Append("");
  ASSERT_EQ(store.Count(), size_t(n + 2));
  EXPECT_EQ(store.Line(0), "line 0");
  EXPECT_EQ(store.Line(n - 1), "line " + std::to_string(n - 1));
  EXPECT_EQ(store.Line(n), longLine);
  EXPECT_EQ(store.Line(n + 1), "");
  EXPECT_EQ(store.MaxLength(), longLine.size());
  // Characters plus a 12-byte reference per line, in 1 MiB blocks.
  EXPECT_LT(store.MemoryBytes(), size_t(n) * (11 + 24) + longLine.size() + (3u << 20));
  store.Clear();
  EXPECT_EQ(store.Count(), 0u);
  EXPECT_EQ(store.MaxLength(), 0u);
}

TEST(LogView, FollowsNewLinesUnlessScrolledUpAndCopiesSelection) {
  LogView view;
  view.resize(400, 200);
  view.show();
  for (int i = 0; i < 500; ++i) view.AppendLine("line " + std::to_string(i));
  view.Flush();
  QScrollBar* bar = view.verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_GT(bar->maximum(), 0);

  // Scrolled up to read: new lines do not pull the view down.
  bar->setValue(10);
  view.AppendLine(std::string("newest"));
  view.Flush();
  EXPECT_EQ(bar->value(), 10);
  EXPECT_EQ(view.Line(view.LineCount() - 1), "newest");

  // Back at the bottom it follows again.
  bar->setValue(bar->maximum());
  view.AppendLine(std::string("after"));
  view.Flush();
  EXPECT_EQ(bar->value(), bar->maximum());

  // Click a line, shift-click another: both and those between are copied.
  bar->setValue(0);
  const int h = view.fontMetrics().lineSpacing();
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(5, h / 2 + 2 * h));
  QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(5, h / 2 + 4 * h));
  EXPECT_EQ(view.SelectedText(), "line 2\nline 3\nline 4");
  QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "line 2\nline 3\nline 4");

  view.Clear();
  EXPECT_EQ(view.LineCount(), 0);
  EXPECT_EQ(view.SelectedText(), "");
}

// Only the characters in view are drawn; wherever the window is scrolled,
// the picture is the one the whole lines give.
TEST(LogView, LongLinesScrolledSidewaysLookAsIfDrawnWhole) {
  LogView view;
  QFont mono(QStringList{QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
  mono.setPointSize(9);
  view.setFont(mono);
  view.resize(320, 140);
  view.show();
  std::string hex;
  for (int i = 0; i < 200; ++i) hex += "0123456789ABCDEF"[i % 16] + std::string("7 ");
  const std::vector<std::string> lines = {"08.12.2026, 15:58:59: " + hex,
                                          "short",
                                          "",
                                          "Zähler " + hex,  // not ASCII: drawn whole
                                          "tab\t" + hex,    // a tab is wider than a character
                                          hex.substr(0, 90)};
  for (const auto& l : lines) view.AppendLine(std::string_view(l));
  view.Flush();
  QScrollBar* h = view.horizontalScrollBar();
  ASSERT_GT(h->maximum(), 500);

  for (int scroll : {0, 1, 7, 333, 560, h->maximum()}) {
    SCOPED_TRACE(scroll);
    h->setValue(scroll);
    const QImage got = view.viewport()->grab().toImage();
    QImage want(got.size(), got.format());
    want.setDevicePixelRatio(got.devicePixelRatio());
    want.fill(view.palette().color(QPalette::Base));
    QPainter p(&want);
    p.setFont(view.font());
    p.setPen(view.palette().color(QPalette::Text));
    const int lineHeight = view.fontMetrics().lineSpacing();
    for (int i = 0; i < view.LineCount(); ++i)
      p.drawText(2 - h->value(), i * lineHeight + view.fontMetrics().ascent(), view.Line(i));
    p.end();
    EXPECT_TRUE(got == want);
  }
}

// Lines arriving on every turn of the event loop are shown at most once
// per refresh interval, and the newest line stays in view throughout.
TEST(LogView, ShowsAStreamOfLinesAtMostSixtyTimesASecondFollowingTheEnd) {
  LogView view;
  view.resize(400, 200);
  view.show();
  int refreshes = 0;
  bool followed = true;
  QObject::connect(&view, &LogView::LinesShown, &view, [&](int count) {
    ++refreshes;
    followed = followed && count == view.LineCount() &&
               view.verticalScrollBar()->value() == view.verticalScrollBar()->maximum();
  });
  QElapsedTimer clock;
  clock.start();
  int appended = 0;
  QTimer feed;
  QObject::connect(&feed, &QTimer::timeout, &view, [&] {
    for (int i = 0; i < 5; ++i) view.AppendLine("line " + std::to_string(appended++));
  });
  feed.start(0);
  QTest::qWait(400);
  feed.stop();
  const qint64 elapsed = clock.elapsed();
  ASSERT_TRUE(QTest::qWaitFor([&] { return view.PendingCount() == 0; }, 5000));
  EXPECT_GT(appended, 100);
  EXPECT_GE(refreshes, 1);
  EXPECT_LE(refreshes, elapsed / LogView::kRefreshIntervalMs + 2);
  EXPECT_TRUE(followed);
  EXPECT_EQ(view.Line(view.LineCount() - 1), QString::fromStdString("line " + std::to_string(appended - 1)));
}
