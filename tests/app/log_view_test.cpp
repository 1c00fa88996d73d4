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
#include <cstdio>

#include "held_image.h"
#include "hex.h"

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

// New lines move the rows in view instead of painting them all again: what
// the window holds (its backing store) must then look exactly as a fresh
// paint of the same view, whatever the step and wherever the view stands.
TEST(LogView, MovedRowsLookAsIfPaintedAnew) {
  LogView view;
  view.resize(400, 200);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  QScrollBar* bar = view.verticalScrollBar();
  int next = 0;
  struct Step {
    const char* what;
    int lines;     // appended, then shown
    int scrollTo;  // -1: leave the view where it is; -2: to the end
  };
  const Step steps[] = {
      {"the first line", 1, -1},          {"a few, the view not yet full", 3, -1},
      {"filling the view", 12, -1},       {"one more, following", 1, -1},
      {"two", 2, -1},                      {"almost a page", 9, -1},
      {"more than a page", 40, -1},       {"one while scrolled up", 1, 5},
      {"a page while scrolled up", 20, -1}, {"back at the end, one", 1, -2},
      {"three", 3, -1},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.scrollTo == -2) bar->setValue(bar->maximum());
    if (step.scrollTo >= 0) bar->setValue(step.scrollTo);
    for (int i = 0; i < step.lines; ++i) view.AppendLine("line " + std::to_string(next++) + " of the log");
    view.Flush();
    // Painting happens on the event loop; wait until the window caught up.
    const bool same = QTest::qWaitFor([&] { return LooksAsIfPaintedAnew(*view.viewport()); }, 3000);
    EXPECT_TRUE(same);
    if (!same) break;
  }
}

namespace {
// A frame of `size` bytes, the bytes running from `first`.
std::string Frame(size_t size, int first) {
  std::string f;
  for (size_t i = 0; i < size; ++i) f.push_back(static_cast<char>((first + static_cast<int>(i)) & 0xFF));
  return f;
}
}  // namespace

// A received frame's line is kept as its bytes and reads back as exactly the
// text it stands for, among text lines, whatever its prefix.
TEST(LogStore, ReceivedFramesReadBackAsTheirText) {
  struct Case {
    const char* prefix;
    std::string frame;  // empty: a text line of `prefix`
  };
  const std::vector<Case> cases = {
      {"08.12.2026, 21:00:00: ", Frame(58, 0x68)},
      {"", Frame(58, 0x10)},  // the hex line below a wrong CI field
      {"Wrong CI-field - 7B, full frame below, at 21:00:00, 08.12.2026", ""},
      {"08.12.2026, 21:00:00: ", Frame(256, 0)},  // every byte value
      {"08.12.2026, 21:00:01: ", Frame(1, 0xFF)},
      {"08.12.2026, 21:00:00: ", Frame(12, 0xA0)},  // an earlier second again
      {"", ""},
      {"8/12/26, 9:00:01 PM: ", Frame(3, 0x16)},
  };
  LogStore store;
  std::vector<std::string> expected;
  for (int round = 0; round < 2; ++round) {
    for (const Case& c : cases) {
      if (c.frame.empty()) {
        store.Append(c.prefix);
        expected.emplace_back(c.prefix);
      } else {
        store.AppendTelegram(c.prefix, c.frame);
        expected.push_back(c.prefix + HexText(c.frame));
      }
    }
    ASSERT_EQ(store.Count(), expected.size());
    std::string scratch;
    size_t longest = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(store.Line(i), expected[i]) << i;
      EXPECT_EQ(store.LineView(i, scratch), expected[i]) << i;
      longest = std::max(longest, expected[i].size());
    }
    EXPECT_EQ(store.MaxLength(), longest);
    // Emptied, it starts again from nothing.
    store.Clear();
    expected.clear();
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_EQ(store.MaxLength(), 0u);
  }
}

// A busy day: two hundred thousand telegrams, twelve a second, each line
// held in well under 100 bytes with its reference.
TEST(LogStore, ATelegramLineTakesItsFrameAndLittleMore) {
  LogStore store;
  const int n = 200000;
  const std::string frame = Frame(58, 0x68);
  for (int i = 0; i < n; ++i) {
    char prefix[32];
    const int s = i / 12;
    std::snprintf(prefix, sizeof prefix, "08.12.2026, %02d:%02d:%02d: ", s / 3600, s / 60 % 60, s % 60);
    store.AppendTelegram(prefix, frame);
  }
  EXPECT_LE(store.MemoryBytes() / n, 100u);
  EXPECT_EQ(store.Line(n - 1), "08.12.2026, 04:37:46: " + HexText(frame));
  EXPECT_EQ(store.Line(0), "08.12.2026, 00:00:00: " + HexText(frame));
}

// The window shows, selects and copies a received frame's line exactly as
// the same line given as text.
TEST(LogView, ReceivedFramesLookAndCopyAsTheirText) {
  LogView asText, asFrames;
  for (LogView* view : {&asText, &asFrames}) {
    QFont mono(QStringList{QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
    mono.setPointSize(9);
    view->setFont(mono);
    view->resize(360, 160);
    view->show();
  }
  for (int i = 0; i < 300; ++i) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "08.12.2026, 21:%02d:%02d: ", i / 60, i % 60);
    const std::string frame = Frame(20 + static_cast<size_t>(i % 50), i);
    const std::string hex = HexText(frame);
    asText.AppendLine(std::string(prefix) + hex);
    asFrames.AppendTelegramLine(prefix, frame, hex);
    if (i % 7 == 0) {
      asText.AppendLine(std::string("Exception receiving - ") + std::to_string(i));
      asFrames.AppendLine(std::string("Exception receiving - ") + std::to_string(i));
    }
  }
  asText.Flush();
  asFrames.Flush();
  EXPECT_EQ(asFrames.Lines(), asText.Lines());
  asText.SelectAll();
  asFrames.SelectAll();
  EXPECT_EQ(asFrames.SelectedText(), asText.SelectedText());
  asFrames.CopySelection();
  EXPECT_EQ(QApplication::clipboard()->text(), asText.SelectedText());
  for (int scroll : {0, 200}) {
    for (LogView* view : {&asText, &asFrames}) {
      view->horizontalScrollBar()->setValue(scroll);
      view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    }
    EXPECT_EQ(asFrames.viewport()->grab().toImage(), asText.viewport()->grab().toImage()) << scroll;
  }
}

namespace {
// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

void Settle() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}
}  // namespace

// The vertical scroll bar is painted again exactly when its picture changes:
// lines arriving at a long log leave it alone, wherever the slider is, and
// any change it shows (slider moved or resized, end reached or left) is painted.
TEST(LogView, ScrollBarRepaintsExactlyWhenItsPictureChanges) {
  struct Case {
    const char* what;
    int lines, added;
    int scrollTo;  // -1: follow the end
    bool repaint;
  } cases[] = {
      {"long log, one line more", 20000, 1, -1, false},
      {"long log, a burst", 20000, 9, -1, false},
      {"long log scrolled up, lines added", 20000, 5, 3, false},
      {"short log, one line more", 30, 1, -1, true},
      {"short log scrolled to the top, lines added", 30, 5, 0, true},
      {"a screenful fills", 2, 40, -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LogView view;
    view.resize(400, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    for (int i = 0; i < c.lines; ++i) view.AppendLine("line " + std::to_string(i));
    view.Flush();
    QScrollBar* bar = view.verticalScrollBar();
    if (c.scrollTo >= 0) bar->setValue(c.scrollTo);
    Settle();
    PaintCounter counter(bar);
    const QImage before = bar->grab().toImage();
    const int paintsBefore = counter.paints;
    for (int i = 0; i < c.added; ++i) view.AppendLine(std::string("more"));
    view.Flush();
    Settle();
    const bool repainted = counter.paints > paintsBefore;
    const QImage after = bar->grab().toImage();
    EXPECT_EQ(repainted, c.repaint);
    EXPECT_EQ(repainted, before != after);
    EXPECT_EQ(bar->value(), c.scrollTo >= 0 ? c.scrollTo : bar->maximum());
  }
}
