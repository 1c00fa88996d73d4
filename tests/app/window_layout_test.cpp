// The main window at the sizes people use: the smallest window against a
// 1366x768 screen, the grids' titles, the splitters and their ini values.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtMath>

#include "app_test_util.h"
#include "provisioning_page.h"
#include "signal_chart_view.h"
#include "telegram_decoder.h"

namespace {

// Room a desktop takes from a 1366x768 screen around the window: the title
// bar and the frame, and a panel along one edge.
constexpr int kTitleAndFrame = 32;
constexpr int kPanel = 40;
constexpr int kFrameWidth = 10;

}  // namespace

// Run once as it is and once with QT_SCALE_FACTOR=1.25 (see CMakeLists.txt):
// in the window's own pixels a 125% screen is 1093x614. At 100% the window
// also fits a 1024x768 screen and 1366x768 under a 32-pixel panel.
TEST(WindowLayout, SmallestWindowFitsA1366x768Screen) {
  FormFixture f;
  TForm1& form = f.Make();
  const qreal scale = qApp->devicePixelRatio();
  struct Screen {
    int width, height, panel;
  } screens[] = {{1366, 768, kPanel}, {1024, 768, 32}, {1366, 768, 32}};
  const QSize smallest = form.minimumSizeHint().expandedTo(form.minimumSize());
  for (const Screen& s : screens) {
    if (scale > 1 && s.width < 1366) continue;  // 1024x768 at 125% is no laptop's screen
    const QSize screen(qFloor(s.width / scale), qFloor(s.height / scale));
    std::string parts;  // which part asks for the width
    for (const char* name :
         {"CommandStrip", "GroupBox1", "MeterIdList", "TelegramTablePanel", "PageControl1"})
      if (auto* w = Find<QWidget>(form, name))
        parts += std::string(" ") + name + "=" + std::to_string(w->minimumSizeHint().width());
    EXPECT_LE(smallest.width() + kFrameWidth, screen.width()) << s.width << "x" << s.height << parts;
    EXPECT_LE(smallest.height() + kTitleAndFrame + s.panel, screen.height()) << s.width << "x" << s.height;
    // Where the program puts it at start: wholly on the screen, status bar included.
    const QSize start = StartSize(form.size(), smallest, screen - QSize(0, s.panel));
    EXPECT_LE(start.width() + kFrameWidth, screen.width());
    EXPECT_LE(start.height() + kTitleAndFrame + s.panel, screen.height());
  }

  // At that size every control still has its own minimum: nothing is cut.
  form.resize(smallest);
  form.show();
  QApplication::processEvents();
  for (QWidget* w : form.findChildren<QWidget*>()) {
    if (!w->isVisible() || w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
      continue;
    if (w->minimumSize() == w->maximumSize()) continue;  // a size chosen for it
    const QSize min = w->minimumSizeHint().expandedTo(w->minimumSize());
    if (!min.isValid()) continue;
    EXPECT_GE(w->width(), min.width()) << w->objectName().toStdString();
    EXPECT_GE(w->height(), min.height()) << w->objectName().toStdString();
  }
  form.hide();
}

// Every column title fits its column at the start, and sits at the left.
TEST(WindowLayout, ColumnTitlesAreFullyVisible) {
  FormFixture f;
  TForm1& form = f.Make();
  for (QTableView* view : {form.StringGrid1, form.Grid_values}) {
    QHeaderView* header = view->horizontalHeader();
    EXPECT_TRUE(header->defaultAlignment() & Qt::AlignLeft) << view->objectName().toStdString();
    const QFontMetrics metrics(header->font());
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int c = 0; c < view->model()->columnCount(); ++c) {
      const QString title = view->model()->headerData(c, Qt::Horizontal).toString();
      EXPECT_GE(view->columnWidth(c), metrics.horizontalAdvance(title) + 2 * margin)
          << view->objectName().toStdString() << " \"" << title.toStdString() << '"';
    }
  }
}

// The splitters' positions go to the ini file at close and come back at the
// next start; a stored position the window cannot hold is cut to fit, and a
// window that was never shown leaves the stored ones alone.
TEST(WindowLayout, SplitterPositionsRoundTripThroughTheIni) {
  FormFixture f;
  TForm1& form = f.Make();
  form.show();
  const QList<int> heights = form.Splitter_tableLog->sizes();
  const QList<int> widths = form.Splitter_logChart->sizes();
  ASSERT_EQ(heights.size(), 2);
  ASSERT_EQ(widths.size(), 2);
  // Somewhere else than where the window put them, within their ranges.
  const int tableHeight = heights[0] + 40;
  const int logWidth = widths[0] - 120;
  form.Splitter_tableLog->setSizes({tableHeight, heights[0] + heights[1] - tableHeight});
  form.Splitter_logChart->setSizes({logWidth, widths[0] + widths[1] - logWidth});
  ASSERT_EQ(form.Splitter_tableLog->sizes()[0], tableHeight);
  ASSERT_EQ(form.Splitter_logChart->sizes()[0], logWidth);
  f.prompts.confirmAnswers = {true};
  ASSERT_TRUE(form.close());
  ASSERT_EQ(f.ini.saves.size(), 1u);
  EXPECT_EQ(f.ini.saves[0].tableHeight, tableHeight);
  EXPECT_EQ(f.ini.saves[0].logWidth, logWidth);

  FormFixture next;
  next.ini.stored = f.ini.stored;
  TForm1& again = next.Make();
  again.show();
  EXPECT_EQ(again.Splitter_tableLog->sizes()[0], tableHeight);
  EXPECT_EQ(again.Splitter_logChart->sizes()[0], logWidth);
  again.hide();

  // Far beyond the window: each part keeps at least its minimum.
  FormFixture big;
  big.ini.stored = MainIniValues{"", 2, 100000, 100000};
  TForm1& huge = big.Make();
  huge.show();
  for (QSplitter* s : {huge.Splitter_tableLog, huge.Splitter_logChart}) {
    const bool vertical = s->orientation() == Qt::Vertical;
    for (int i = 0; i < 2; ++i) {
      const QSize min = s->widget(i)->minimumSizeHint().expandedTo(s->widget(i)->minimumSize());
      EXPECT_GE(s->sizes()[i], vertical ? min.height() : min.width()) << s->objectName().toStdString() << i;
    }
  }
  huge.hide();

  FormFixture unseen;
  unseen.ini.stored = MainIniValues{"1", 3, 222, 333};
  unseen.Make().FormClose();
  ASSERT_EQ(unseen.ini.saves.size(), 1u);
  EXPECT_EQ(unseen.ini.saves[0].tableHeight, 222);
  EXPECT_EQ(unseen.ini.saves[0].logWidth, 333);
}

// The real ini file keeps the positions in "Misc" beside the other keys.
TEST(WindowLayout, SplitterKeysInTheIniFile) {
  QTemporaryDir dir;
  const std::string path = dir.filePath(QStringLiteral("velrpt.ini")).toStdString();
  IniFileMainStore store(path);
  EXPECT_EQ(store.Load().tableHeight, -1);
  EXPECT_EQ(store.Load().logWidth, -1);
  ASSERT_TRUE(store.Save(MainIniValues{"12345678", 3, 310, 520}));
  const MainIniValues back = store.Load();
  EXPECT_EQ(back.lastRepeater, "12345678");
  EXPECT_EQ(back.setRxTime, 3);
  EXPECT_EQ(back.tableHeight, 310);
  EXPECT_EQ(back.logWidth, 520);
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(file.readAll());
  EXPECT_TRUE(text.contains(QStringLiteral("[Misc]")));
  EXPECT_TRUE(text.contains(QStringLiteral("SplitterTableLog=310")));
  EXPECT_TRUE(text.contains(QStringLiteral("SplitterLogChart=520")));
}

// With a few meters every ID is written under its bar; with hundreds or
// thousands only as many as fit side by side, evenly spaced, while there is
// still one bar for every row.
TEST(WindowLayout, ChartWithManyMetersWritesOnlyTheIdsThatFit) {
  FormFixture f;
  TForm1& form = f.Make();
  form.show();
  auto* chart = Find<SignalChartView>(form, "Chart_db");
  ASSERT_NE(chart, nullptr);
  const int plotWidth = chart->PlotArea().width();
  ASSERT_GT(plotWidth, 100);
  const int labelHeight = QFontMetrics(chart->font()).height();

  struct Case {
    int meters;
    bool thinned;
  } cases[] = {{3, false}, {300, true}, {3000, true}};
  for (const Case& c : cases) {
    StringGrid& table = form.Table();
    table.SetRowCount(c.meters + 1);
    for (int r = 1; r <= c.meters; ++r) {
      table.SetCell(kColMeterId, r, std::to_string(10000000 + r));
      table.SetCell(kColRssi, r, std::to_string(40 + r % 100));
    }
    form.DrawSignalChart(kColRssi);
    QApplication::processEvents();
    const int bars = c.meters + 1;  // and the "0" bar in front
    EXPECT_EQ(chart->Bars().size(), size_t(bars)) << c.meters;
    const QStringList shown = chart->ShownLabels();
    ASSERT_FALSE(shown.isEmpty()) << c.meters;
    EXPECT_EQ(shown.size(), (bars + chart->LabelStep() - 1) / chart->LabelStep()) << c.meters;
    if (!c.thinned) {
      EXPECT_EQ(chart->LabelStep(), 1);
      continue;
    }
    EXPECT_GT(chart->LabelStep(), 1) << c.meters;
    // Side by side without overlapping: one label height apart at least.
    EXPECT_GE(qreal(plotWidth) / bars * chart->LabelStep(), labelHeight) << c.meters;
    EXPECT_LE(shown.size() * labelHeight, plotWidth + labelHeight) << c.meters;
    const qreal plotHeight = chart->PlotArea().height();
    EXPECT_GE(plotHeight * chart->AxisStep() / (SignalChartView::kAxisMax - SignalChartView::kAxisMin),
              labelHeight)
        << "dBm labels one above the other";
    EXPECT_EQ(shown[1], QString::number(10000000 + chart->LabelStep())) << c.meters;
  }
  form.hide();
}

// A job's row on the provisioning page: the whole ID in its column, and
// every cell's text in its tooltip where the column cuts it.
TEST(WindowLayout, ProvisioningRowsShowTheWholeIdAndTooltips) {
  FormFixture f;
  TForm1& form = f.Make();
  form.show();
  form.Edit_repeaterID->setText(QStringLiteral("87654321"));
  form.Edit1->setText(QStringLiteral("300"));
  QTest::mouseClick(Find<QPushButton>(form, "Button_addRepeater"), Qt::LeftButton);
  auto* jobs = Find<QTableWidget>(form, "Grid_jobs");
  ASSERT_NE(jobs, nullptr);
  ASSERT_EQ(jobs->rowCount(), 1);
  const QTableWidgetItem* id = jobs->item(0, ProvisioningPage::kColId);
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->text(), "87654321");
  const int margin = jobs->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, jobs) + 1;
  EXPECT_GE(jobs->columnWidth(ProvisioningPage::kColId),
            QFontMetrics(jobs->font()).horizontalAdvance(id->text()) + 2 * margin);
  for (int c = 0; c < jobs->columnCount(); ++c)
    if (const QTableWidgetItem* item = jobs->item(0, c)) {
      EXPECT_EQ(item->toolTip(), item->text()) << c;
    }
  EXPECT_FALSE(jobs->item(0, ProvisioningPage::kColWanted)->toolTip().isEmpty());
  form.hide();
}

// Wayland tells no window where the panels are: the room left for one.
TEST(WindowLayout, RoomOnScreenLeavesAPanelWhereThePlatformCannotTell) {
  const QRect screen(0, 0, 1366, 768);
  struct Case {
    QRect available;
    const char* platform;
    QSize room;
  } cases[] = {
      {screen, "wayland", {1366, 720}},
      {screen, "wayland-egl", {1366, 720}},
      {QRect(0, 0, 1366, 736), "wayland", {1366, 736}},  // a compositor that does tell
      {screen, "xcb", {1366, 768}},                      // no panel there
      {QRect(0, 32, 1366, 736), "xcb", {1366, 736}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RoomOnScreen(screen, c.available, QString::fromLatin1(c.platform)), c.room) << c.platform;
}

// The window starts at its own size where the screen has room, smaller where
// it has not, and never below its smallest size.
TEST(WindowLayout, StartSizeFollowsTheScreen) {
  struct Case {
    QSize available;
    QSize expected;
  } cases[] = {
      {{1400, 1000}, {1158, 793}},  // room to spare
      {{1366, 728}, {1158, 688}},   // 1366x768 with a panel: lower
      {{1092, 574}, {1076, 534}},   // the same at 125%: narrower and lower
      {{800, 400}, {1000, 534}},    // too small even for the smallest window
  };
  for (const Case& c : cases)
    EXPECT_EQ(StartSize({1158, 793}, {1000, 534}, c.available), c.expected)
        << c.available.width() << "x" << c.available.height();
}

// The table's buttons at the smallest window and at a wide one: each control
// of the page whole, inside its panel and on none of the others.
TEST(WindowLayout, TableButtonsStayWholeAtAnyWidth) {
  FormFixture f;
  TForm1& form = f.Make();
  const QSize smallest = form.minimumSizeHint().expandedTo(form.minimumSize());
  for (int width : {smallest.width(), smallest.width() + 150, 1800}) {
    SCOPED_TRACE(width);
    form.resize(width, smallest.height());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QApplication::processEvents();
    auto* panel = Find<QWidget>(form, "TelegramTablePanel");
    std::vector<QRect> seen;
    for (const char* name : {"BitBtn7", "BitBtn6", "Check_noNew", "Label8"}) {
      auto* w = Find<QWidget>(form, name);
      const QRect r(w->mapTo(panel, QPoint(0, 0)), w->size());
      EXPECT_TRUE(panel->rect().contains(r)) << name;
      EXPECT_GE(w->width(), w->minimumSizeHint().width()) << name;
      for (const QRect& other : seen) EXPECT_FALSE(r.intersects(other)) << name;
      seen.push_back(r);
    }
  }
}
