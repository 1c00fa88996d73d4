#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <cstring>
#include <set>
#include <stdexcept>

#include "app_test_util.h"
#include "held_image.h"
#include "hex.h"
#include "log_memo.h"
#include "signal_chart.h"
#include "signal_chart_view.h"
#include "status_bar_clock.h"

namespace {

// A frame as the transceiver hands it on: 0x68, L, the telegram from its
// C-field, the signal byte, 0x16. `id` is the 8-digit serial number.
Bytes Frame(const std::string& id, std::uint8_t ci, std::uint8_t config1, std::uint8_t rssi) {
  Bytes t;
  t += '\x44';      // C-field
  t += "\x2D\x2C";  // manufacturer
  for (int i = 6; i >= 0; i -= 2) t += static_cast<char>(std::stoi(id.substr(i, 2), nullptr, 16));
  t += '\x01';  // version
  t += '\x07';  // water
  t += static_cast<char>(ci);
  if (ci == 0x72) t += "\x11\x22\x33\x44\x2D\x2C\x01\x07";  // secondary address
  t += '\x10';                                              // access number
  t += '\x00';                                              // status
  t += static_cast<char>(config1);
  t += '\x00';
  t += "\x0C\x13\x01\x02\x03\x04";  // some data
  t += static_cast<char>(rssi);
  Bytes frame;
  frame += '\x68';
  frame += static_cast<char>(t.size());
  frame += t;
  frame += '\x16';
  return frame;
}

// Plays the serial port: every receive event reads from this queue.
struct PortBytes {
  Bytes pending;
  int Read(char* dest, int max) {
    const int n = std::min<int>(max, static_cast<int>(pending.size()));
    std::memcpy(dest, pending.data(), static_cast<size_t>(n));
    pending.erase(0, static_cast<size_t>(n));
    return n;
  }
};

struct ReceiveFixture : FormFixture {
  PortBytes port;
  std::vector<Bytes> answers;

  TForm1& MakeWired() {
    TForm1& form = Make();
    form.SetPortReader([this](char* d, int max) { return port.Read(d, max); });
    form.SetRepeaterAnswer([this](std::string_view frame) { answers.emplace_back(frame); });
    return form;
  }
  // One receive event per piece, as the serial thread would deliver them.
  void Receive(const std::vector<Bytes>& pieces) {
    for (const Bytes& piece : pieces) {
      port.pending += piece;
      form->Comm1RxChar(nullptr, static_cast<int>(piece.size()));
    }
  }
  QStringList Log() { return form->Memo_log->Lines().mid(1); }
};

const char* const kStamp = "07.12.2026, 09:05:03: ";

// The chart's bars and their labels are those the table gives.
bool ChartShowsTable(TForm1& form) { return form.Chart_db->Bars() == SignalChartBars(form.Table(), 6); }

}  // namespace

TEST(ReceivePath, TelegramsReachTheLogTheTableTheStatusBarAndTheChart) {
  ReceiveFixture f;
  TForm1& form = f.MakeWired();
  form.Edit_repeaterID->setText(QStringLiteral("87654321"));
  form.Check_onlyRepeater->setChecked(false);

  const Bytes a = Frame("12345678", 0x7A, 0x41, 0xB5);    // repeated: row 1, 90 dBm
  const Bytes b = Frame("00000042", 0x72, 0x01, 0x50);    // repeated, long header: row 2, 40 dBm
  const Bytes c = Frame("55555555", 0x7A, 0x40, 0x60);    // not repeated: logged only
  const Bytes rpt = Frame("87654321", 0x7A, 0x41, 0x70);  // the selected repeater
  const Bytes wrongCI = Frame("66666666", 0x7B, 0x41, 0x70);
  const Bytes a2 = Frame("12345678", 0x7A, 0x41, 0x41);  // rewrites row 1, 32 dBm

  // Frames split across receive events, and several in one event.
  const Bytes all = a + b + c + rpt + wrongCI + a2;
  f.Receive({all.substr(0, 7), all.substr(7, 40), all.substr(47)});

  const QStringList expected = {
      kStamp + QString::fromStdString(HexText(a)),
      kStamp + QString::fromStdString(HexText(b)),
      kStamp + QString::fromStdString(HexText(c)),
      kStamp + QString::fromStdString(HexText(rpt)),
      "Wrong CI-field - 7B, full frame below, at 09:05:03, 07.12.2026",
      QString::fromStdString(HexText(wrongCI)),
      kStamp + QString::fromStdString(HexText(a2)),
  };
  EXPECT_EQ(f.Log(), expected);

  ASSERT_EQ(f.answers.size(), 1u);
  EXPECT_EQ(f.answers[0], rpt);

  auto* model = Find<QTableView>(form, "Grid_values")->model();
  ASSERT_EQ(model->rowCount(), 2);
  EXPECT_EQ(model->index(0, 0).data().toString(), "1");
  EXPECT_EQ(model->index(0, 1).data().toString(), "12345678");
  EXPECT_EQ(model->index(0, 6).data().toString(), "32");
  EXPECT_EQ(model->index(0, 10).data().toString().toStdString(), HexText(a2));
  EXPECT_EQ(model->index(1, 0).data().toString(), "2");
  EXPECT_EQ(model->index(1, 1).data().toString(), "00000042");
  EXPECT_EQ(model->index(1, 3).data().toString(), "44332211");
  EXPECT_EQ(model->index(1, 6).data().toString(), "40");
  EXPECT_EQ(model->index(1, 7).data().toString(), "09:05:03");
  EXPECT_EQ(model->index(1, 8).data().toString(), "07.12.2026");

  // The last row written, not the last telegram heard.
  EXPECT_EQ(form.StatusPanel(0), "Last read device: 12345678");

  auto* chart = Find<SignalChartView>(form, "Chart_db");
  ASSERT_NE(chart, nullptr);
  EXPECT_EQ(chart->Title(), "Signal Strength in dBm");
  // Receive events close together share one redraw, once the event loop ran.
  ASSERT_TRUE(QTest::qWaitFor([&] { return ChartShowsTable(form); }, 5000));
  EXPECT_EQ(chart->Bars(), (std::vector<ChartBar>{{0, 0, "0"}, {1, 32, "12345678"}, {2, 40, "00000042"}}));
  EXPECT_EQ(chart->AxisTitle(), "dBm");
  EXPECT_TRUE(chart->AxisTitleFont().bold());
}

TEST(ReceivePath, ControlsAreReadAtEveryEvent) {
  ReceiveFixture f;
  TForm1& form = f.MakeWired();
  bool wrongCI = true;
  form.SetSettingsReader([&] {
    SettingsSnapshot s;
    s.discardWrongCI = wrongCI;
    return s;
  });
  // "Show only service data" is on from creation: other meters are not
  // logged but still fill the table.
  f.Receive({Frame("12345678", 0x7A, 0x41, 0x80)});
  EXPECT_TRUE(f.Log().isEmpty());
  EXPECT_EQ(form.Table().Cell(1, 1), "12345678");

  // "Do not add new": known meters are updated, new ones are not added.
  form.Check_noNew->setChecked(true);
  f.Receive({Frame("22222222", 0x7A, 0x41, 0x80), Frame("12345678", 0x7A, 0x41, 0x90)});
  EXPECT_EQ(form.Table().RowCount(), 2);
  EXPECT_EQ(form.Table().Cell(6, 1), "72");

  // With "Discard if wrong CI" off a CI 7B telegram is logged normally.
  form.Check_onlyRepeater->setChecked(false);
  wrongCI = false;
  const Bytes odd = Frame("33333333", 0x7B, 0x41, 0x80);
  f.Receive({odd});
  EXPECT_EQ(f.Log(), QStringList{kStamp + QString::fromStdString(HexText(odd))});

  // The new ID being assigned counts as the repeater too.
  form.Edit_newID->setText(QStringLiteral("44444444"));
  f.Receive({Frame("44444444", 0x7A, 0x41, 0x80)});
  EXPECT_EQ(f.answers.size(), 1u);
}

TEST(ReceivePath, AnErrorInTheAnswerDecoderIsLoggedAndReceptionGoesOn) {
  ReceiveFixture f;
  TForm1& form = f.Make();
  form.SetPortReader([&](char* d, int max) { return f.port.Read(d, max); });
  form.SetRepeaterAnswer([](std::string_view) { throw std::runtime_error("bad answer"); });
  form.Edit_repeaterID->setText(QStringLiteral("87654321"));
  f.Receive({Frame("87654321", 0x7A, 0x41, 0x80)});
  f.Receive({Frame("12345678", 0x7A, 0x41, 0x80)});
  const QStringList log = f.Log();
  ASSERT_EQ(log.size(), 2);
  EXPECT_EQ(log[1], "Exception receiving - bad answer");
  EXPECT_EQ(form.Table().Cell(1, 1), "12345678");
}

// The chart keeps to a tenth of the GUI thread when a draw takes long,
// and still follows the table every 2 s.
TEST(SignalChart, DrawsLessOftenWhenDrawingTakesLong) {
  const std::pair<qint64, qint64> cases[] = {{0, 100},  {10, 100},   {25, 250},
                                             {90, 900}, {200, 2000}, {5000, 2000}};
  for (const auto& [took, interval] : cases) EXPECT_EQ(ChartDrawIntervalMs(took), interval) << took;
}

// A chart of many meters waits longer between draws whatever a draw took:
// reading the bars from the table grows with them. A burst to a thousand meters still ends
// with the chart showing the table.
TEST(SignalChart, ManyMetersAreDrawnLessOften) {
  const std::pair<qint64, qint64> cases[] = {{0, 100},   {1, 100},    {250, 100},
                                             {251, 200}, {1000, 400}, {10000, 1000}};
  for (const auto& [meters, interval] : cases) EXPECT_EQ(ChartMetersIntervalMs(meters), interval) << meters;

  ReceiveFixture f;
  TForm1& form = f.MakeWired();
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < 1000; ++i)
      f.Receive(
          {Frame(std::to_string(30000000 + i), 0x7A, 0x41, static_cast<std::uint8_t>(0x60 + 2 * round))});
  EXPECT_TRUE(QTest::qWaitFor([&] { return ChartShowsTable(form); }, 10000));
  EXPECT_EQ(form.Chart_db->Bars().at(1000).value, 0x62 >> 1);
}

// Rows without an ID or with the same ID as another keep a bar and a label
// of their own.
TEST(SignalChart, EmptyAndRepeatedIdsKeepTheirOwnBars) {
  StringGrid table = MakeTelegramTable();
  table.SetRowCount(5);
  const char* ids[] = {"", "11", "11", ""};
  for (int r = 1; r <= 4; ++r) {
    table.SetCell(kColMeterId, r, ids[r - 1]);
    table.SetCell(kColRssi, r, std::to_string(40 + r));
  }
  SignalChartView chart(table, [](const std::string&) {});
  chart.resize(400, 300);
  chart.Draw(kColRssi);
  EXPECT_EQ(chart.Bars(),
            (std::vector<ChartBar>{{0, 0, "0"}, {1, 41, ""}, {2, 42, "11"}, {3, 43, "11"}, {4, 44, ""}}));
  EXPECT_EQ(chart.ShownLabels(), (QStringList{"0", "", "11", "11", ""}));
}

TEST(SignalChart, ImportedRowsWithoutIdsOrNumbersStillGetTheirBars) {
  FormFixture f;
  TForm1& form = f.Make();
  StringGrid& table = form.Table();
  table.SetRowCount(4);
  const char* rows[][2] = {{"11111111", "45"}, {"", "50"}, {"11111111", "n/a"}};
  for (int r = 0; r < 3; ++r) {
    table.SetCell(1, r + 1, rows[r][0]);
    table.SetCell(6, r + 1, rows[r][1]);
  }
  form.DrawSignalChart(6);
  auto* chart = Find<SignalChartView>(form, "Chart_db");
  const std::vector<ChartBar>& bars = chart->Bars();
  ASSERT_EQ(bars.size(), 4u);
  EXPECT_EQ(bars[1].value, 45);
  EXPECT_EQ(bars[2].label, "");
  EXPECT_EQ(bars[3].value, 0);

  // Same number of bars, another meter in a row: the labels follow, and a
  // changed value alone changes only its bar.
  table.SetCell(1, 1, "22222222");
  table.SetCell(6, 3, "70");
  form.DrawSignalChart(6);
  EXPECT_EQ(chart->Bars().at(1).label, "22222222");
  EXPECT_EQ(chart->Bars().at(3).value, 70);
  table.SetCell(6, 1, "99");
  form.DrawSignalChart(6);
  EXPECT_EQ(chart->Bars().at(1).value, 99);
  EXPECT_EQ(chart->Bars().size(), 4u);

  // Fewer rows: the bars shrink with the table.
  DeleteGridRow(2, table);
  form.DrawSignalChart(6);
  EXPECT_EQ(chart->Bars().size(), 3u);

  // Rows added at the end with an empty and a repeated ID.
  table.SetRowCount(table.RowCount() + 2);
  table.SetCell(1, table.RowCount() - 2, "");
  table.SetCell(6, table.RowCount() - 2, "61");
  table.SetCell(1, table.RowCount() - 1, "22222222");
  table.SetCell(6, table.RowCount() - 1, "62");
  form.DrawSignalChart(6);
  EXPECT_EQ(chart->Bars().size(), 5u);
  EXPECT_TRUE(ChartShowsTable(form));
}

// Red pixels in column x of the plot, counted up from the kAxisMin line.
int RedHeight(const QImage& image, const QRect& plot, int x) {
  int height = 0;
  for (int y = plot.bottom() - 1; y >= plot.top() - 1 && image.pixelColor(x, y) == QColor(255, 0, 0); --y)
    ++height;
  return height;
}

// The bars stand on the fixed 20 to 150 dBm axis: values outside it show as
// nothing or as a full bar, and each bar stands in the middle of its slot.
// The IDs below are written upwards.
TEST(SignalChart, BarsStandOnTheFixedAxis) {
  struct Case {
    const char* value;
    int dbm;  // the height it stands for
  } cases[] = {{"10", 20},   {"19", 20},   {"20", 20},   {"21", 21},  {"85", 85}, {"149", 149},
               {"150", 150}, {"151", 150}, {"400", 150}, {"n/a", 20}, {"-7", 20}};
  StringGrid table = MakeTelegramTable();
  table.SetRowCount(int(std::size(cases)) + 1);
  for (size_t i = 0; i < std::size(cases); ++i) {
    table.SetCell(kColMeterId, int(i) + 1, std::to_string(12345670 + i));
    table.SetCell(kColRssi, int(i) + 1, cases[i].value);
  }
  SignalChartView chart(table, [](const std::string&) {});
  chart.resize(700, 450);
  chart.Draw(kColRssi);
  const QImage image = chart.grab().toImage();
  const QRect plot = chart.PlotArea();
  ASSERT_GT(plot.height(), 200);
  EXPECT_EQ(chart.AxisLabels(), (QStringList{"20", "30", "40", "50", "60", "70", "80", "90", "100", "110",
                                             "120", "130", "140", "150"}));
  const double slot = double(plot.width()) / double(std::size(cases) + 1);
  const auto middle = [&](size_t bar) { return plot.left() + int((double(bar) + 0.5) * slot); };
  EXPECT_EQ(RedHeight(image, plot, middle(0)), 0) << "the \"0\" bar";
  for (size_t i = 0; i < std::size(cases); ++i) {
    const double expected = (cases[i].dbm - 20) * (plot.bottom() - plot.top()) / 130.0;
    EXPECT_NEAR(RedHeight(image, plot, middle(i + 1)), expected, 1.0) << cases[i].value;
    // Nothing red between the bars.
    EXPECT_EQ(RedHeight(image, plot, middle(i + 1) + int(slot / 2)), 0) << cases[i].value;
  }

  // An ID under its bar reads upwards: its ink is much taller than wide.
  QRect ink;
  const int x = middle(1);
  for (int y = plot.bottom() + 2; y < image.height(); ++y)
    for (int dx = -int(slot / 2) + 1; dx < int(slot / 2); ++dx)
      if (qGray(image.pixel(x + dx, y)) < 128) ink |= QRect(x + dx, y, 1, 1);
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_GT(ink.height(), 3 * ink.width());
}

// New values for the same meters repaint the plot alone; the chart must
// then look as if drawn whole, and a new meter redraws its labels too.
TEST(SignalChart, NewValuesLookAsIfDrawnWhole) {
  StringGrid table = MakeTelegramTable();
  table.SetRowCount(4);
  SignalChartView chart(table, [](const std::string&) {});
  chart.resize(500, 300);
  chart.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
  const struct {
    const char* what;
    int rows;
    const char* rssi[3];
  } steps[] = {
      {"first values", 3, {"60", "90", "120"}},  {"one value up", 3, {"60", "140", "120"}},
      {"all down", 3, {"21", "30", "40"}},       {"off the axis", 3, {"10", "400", "n/a"}},
      {"a meter more", 4, {"80", "80", "80"}},  {"and new values", 4, {"100", "50", "150"}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    table.SetRowCount(step.rows + 1);
    for (int r = 1; r <= step.rows; ++r) {
      table.SetCell(kColMeterId, r, std::to_string(12345670 + r));
      table.SetCell(kColRssi, r, r <= 3 ? step.rssi[r - 1] : "70");
    }
    chart.Draw(kColRssi);
    EXPECT_TRUE(QTest::qWaitFor([&] { return LooksAsIfPaintedAnew(chart); }, 3000));
  }
}

// A hundred thousand meters, more than the plot has pixel columns: every
// column shows the tallest of its bars, so a strong value is not lost among
// weak ones, and only the IDs that fit are written.
TEST(SignalChart, ManyMoreMetersThanPixels) {
  const int meters = 100000;
  StringGrid table = MakeTelegramTable();
  table.SetRowCount(meters + 1);
  for (int r = 1; r <= meters; ++r) {
    table.SetCell(kColMeterId, r, std::to_string(10000000 + r));
    table.SetCell(kColRssi, r, "85");
  }
  const std::set<int> strong = {2, 50000, meters};
  for (int r : strong) table.SetCell(kColRssi, r, "150");
  SignalChartView chart(table, [](const std::string&) {});
  chart.resize(500, 250);
  chart.Draw(kColRssi);
  const QImage image = chart.grab().toImage();
  const QRect plot = chart.PlotArea();
  ASSERT_LT(plot.width(), meters / 100);
  const int span = plot.bottom() - plot.top();
  std::set<int> full;
  for (int x = plot.left(); x <= plot.right(); ++x) {
    const int height = RedHeight(image, plot, x);
    if (height >= span - 1)
      full.insert(x);
    else
      EXPECT_NEAR(height, span / 2.0, 1.0) << x;
  }
  std::set<int> expected;
  for (int r : strong) expected.insert(plot.left() + int((r + 0.5) * plot.width() / (meters + 1)));
  EXPECT_EQ(full, expected);
  const QStringList shown = chart.ShownLabels();
  ASSERT_GT(shown.size(), 1);
  EXPECT_LE(shown.size() * QFontMetrics(chart.font()).height(), plot.width());
  EXPECT_EQ(shown[0], "0");
}

// A burst of receive events draws the chart at once for the first and then
// at most every so often; whatever the burst was - new meters, many values
// changed, one value changed - the chart ends up showing the table.
TEST(SignalChart, FollowsTheTableAfterEveryKindOfBurst) {
  ReceiveFixture f;
  TForm1& form = f.MakeWired();
  form.Edit_repeaterID->setText(QStringLiteral("87654321"));
  const auto meter = [](int i) { return std::to_string(10000000 + i); };
  const auto burst = [&](int first, int last, std::uint8_t rssi) {
    for (int i = first; i <= last; ++i) f.Receive({Frame(meter(i), 0x7A, 0x41, rssi)});
  };

  burst(0, 0, 0xB5);
  EXPECT_TRUE(ChartShowsTable(form)) << "the first row after a quiet spell is drawn at once";

  struct Case {
    const char* what;
    int first, last;
    std::uint8_t rssi;
    int barsAfter;  // the "0" bar and one per meter
  } cases[] = {
      {"new meters", 1, 59, 0xA1, 61},
      {"every value changed", 0, 59, 0x51, 61},
      {"one value changed", 7, 7, 0x99, 61},
      {"a few values changed", 3, 5, 0x61, 61},
      {"a new meter and a few values changed", 58, 60, 0x71, 62},
      {"new meters and every value changed", 0, 69, 0x41, 71},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    burst(c.first, c.last, c.rssi);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ChartShowsTable(form); }, 5000));
    EXPECT_EQ(form.Chart_db->Bars().size(), size_t(c.barsAfter));
    EXPECT_EQ(form.Chart_db->Bars().at(size_t(c.last) + 1).value, c.rssi >> 1);
  }
}

// "Last read device" follows a burst of telegrams: the panel reads the last
// one at once, the label shows it at once after a quiet spell and within a
// moment after a burst, and a text set by the port meanwhile is not
// overwritten by a telegram's text still waiting.
TEST(ReceivePath, StatusPanelShowsTheLastDeviceOfEveryBurst) {
  struct Case {
    const char* what;
    int telegrams;
    const char* portText;  // set right after the burst, or null
  } cases[] = {
      {"one telegram after a quiet spell", 1, nullptr},
      {"a burst", 40, nullptr},
      {"a burst, then the port closes", 40, "COM9 is closed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReceiveFixture f;
    TForm1& form = f.MakeWired();
    auto* label = Find<QLabel>(form, "StatusBar1_Panel0");
    QTest::qWait(StatusBarClock::kPanelIntervalMs + 20);  // a quiet spell
    std::string last;
    for (int i = 0; i < c.telegrams; ++i) {
      last = std::to_string(20000000 + i);
      f.Receive({Frame(last, 0x7A, 0x41, 0x80)});
    }
    const QString lastText = QString::fromStdString("Last read device: " + last);
    if (c.telegrams == 1) {
      EXPECT_EQ(label->text(), lastText);
    }
    if (c.portText) {
      form.SetStatusPanel(0, QString::fromLatin1(c.portText));
      QTest::qWait(3 * StatusBarClock::kPanelIntervalMs);
      EXPECT_EQ(form.StatusPanel(0), c.portText);
      EXPECT_EQ(label->text(), c.portText);
      continue;
    }
    EXPECT_EQ(form.StatusPanel(0), lastText);
    EXPECT_TRUE(QTest::qWaitFor([&] { return label->text() == lastText; }, 5000))
        << label->text().toStdString();
  }
}

// The last device's text changes with every telegram: it must not lay the
// status bar out again each time, nor be cut.
TEST(ReceivePath, TheLastDeviceTextRepaintsItsPanelAlone) {
  ReceiveFixture f;
  TForm1& form = f.MakeWired();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  auto* bar = Find<QStatusBar>(form, "StatusBar1");
  auto* label = Find<QLabel>(form, "StatusBar1_Panel0");
  QTest::qWait(100);  // the first layouts after showing
  struct Counter : QObject {
    int layouts = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      layouts += e->type() == QEvent::LayoutRequest;
      return false;
    }
  } counter;
  bar->installEventFilter(&counter);
  for (int i = 0; i < 20; ++i) {
    f.Receive({Frame(std::to_string(20000000 + i), 0x7A, 0x41, 0x80)});
    QTest::qWait(StatusBarClock::kPanelIntervalMs + 5);
  }
  bar->removeEventFilter(&counter);
  EXPECT_EQ(label->text(), QStringLiteral("Last read device: 20000019"));
  EXPECT_EQ(counter.layouts, 0);
  EXPECT_GE(label->contentsRect().height(), label->fontMetrics().height());
  EXPECT_EQ(label->height(), Find<QLabel>(form, "StatusBar1_Panel2")->height());
}
