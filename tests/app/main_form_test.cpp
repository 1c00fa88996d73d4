#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "about_form.h"
#include "app_test_util.h"
#include "key_filters.h"
#include "log_memo.h"
#include "up_down.h"

namespace {
QString TextOf(QObject* o) {
  if (auto* l = qobject_cast<QLabel*>(o)) return l->text();
  if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->text();
  if (auto* e = qobject_cast<QLineEdit*>(o)) return e->text();
  if (auto* g = qobject_cast<QGroupBox*>(o)) return g->title();
  // Menu items: the caption as shown, without the Alt+letter marker.
  if (auto* a = qobject_cast<QAction*>(o)) return a->text().remove(QLatin1Char('&'));
  return QStringLiteral("<no text>");
}
}  // namespace

TEST(MainForm, ControlsCarryTheirNamesAndCaptions) {
  FormFixture f;
  TForm1& form = f.Make();
  struct Case {
    const char* name;
    const char* text;
  } cases[] = {
      {"Label2", "Enter REPEATER ID to work with"},
      {"BitBtn2", "Set in Korvex"},
      {"Check_bmt", "BMT"},
      {"Label10", "Change repeater ID"},
      {"BitBtn9", "Set"},
      {"Button1", "Send custom HEX data"},
      {"Label3", "Enter only data part to be sent, in HEX"},
      {"GroupBox1", "   Setting parameters   "},
      {"BitBtn1", "Set datetime"},
      {"Label5", "Calibrate clock"},
      {"Check_onClock", "On/Off"},
      {"Button5", "Set"},
      {"Label1", "RX hours:"},
      {"Button2", "Set"},
      {"Label9", "RX start hour (0-23)"},
      {"Edit_rxstarttime", "1"},
      {"BitBtn5", "Set"},
      {"Button3", "Set both Start and Operating time"},
      {"Label4", "Wireless mode"},
      {"Button4", "Set"},
      {"CheckBox2", "Set/Clear flag"},
      {"Edit_flag", "1"},
      {"BitBtn8", "Set"},
      {"Label11", "1 - Auto mode (always ON) "},
      {"Label6", "3 - Clock Debug (service)"},
      {"Label12", "33 - put in Sleep"},
      {"Label7", "Repeater ID"},
      {"Check_onlyRepeater", "Show only service data"},
      {"Label8", "Table for real-time repeated meters"},
      {"Check_noNew", "Do not add new"},
      {"BitBtn7", "Export to csv"},
      {"BitBtn6", "Clear"},
      {"Savelogfile1", "Save log file"},
      {"Clearlog1", "Clear log"},
      {"Print1", "Print table data"},
      {"Exit1", "Exit"},
      {"Settings1", "Settings"},
      {"About1", "About"},
      {"UserManual1", "User Manual"},
  };
  for (const Case& c : cases) {
    QObject* o = form.findChild<QObject*>(c.name);
    ASSERT_NE(o, nullptr) << c.name;
    EXPECT_EQ(TextOf(o).toStdString(), c.text) << c.name;
  }
  EXPECT_EQ(form.windowTitle(), "Velmora battery repeater configuration program");
  EXPECT_EQ(form.size(), QSize(1158, 793));
  EXPECT_EQ(Find<QMenu>(form, "ools1")->title().remove(QLatin1Char('&')), "Tools");

  struct Limit {
    const char* name;
    int maxLength;
  } limits[] = {{"Edit_repeaterID", 8},
                {"Edit_newID", 8},
                {"Edit_send_command", 64},
                {"Edit_rxstarttime", 2},
                {"Edit_flag", 2}};
  for (const Limit& l : limits) EXPECT_EQ(Find<QLineEdit>(form, l.name)->maxLength(), l.maxLength) << l.name;
  EXPECT_TRUE(Find<QLineEdit>(form, "Edit_rxstarttime")->isReadOnly());

  auto* tabs = Find<QTabWidget>(form, "PageControl1");
  ASSERT_EQ(tabs->count(), 3);  // the survey and provisioning pages beside the repeater page
  EXPECT_EQ(tabs->tabText(0), "   Repeater configuration   ");
  EXPECT_EQ(tabs->tabText(1), "Meter survey");
  EXPECT_EQ(tabs->tabText(2), "Provisioning");

  auto* combo = Find<QComboBox>(form, "Combo_wirelessMode");
  ASSERT_EQ(combo->count(), 4);
  EXPECT_EQ(combo->currentText(), "Mode T+C");
  EXPECT_EQ(combo->itemText(3), "Mode C");

  EXPECT_TRUE(Find<QCheckBox>(form, "Check_onlyRepeater")->isChecked());
  for (const char* name : {"Check_bmt", "Check_onClock", "CheckBox2", "Check_noNew"})
    EXPECT_FALSE(Find<QCheckBox>(form, name)->isChecked()) << name;

  auto* rxStart = Find<UpDown>(form, "UD_rxstarttime");
  EXPECT_EQ(rxStart->Min(), 0);
  EXPECT_EQ(rxStart->Max(), 23);
  EXPECT_EQ(rxStart->Position(), 1);
  EXPECT_EQ(Find<UpDown>(form, "UD_rxtime")->Max(), 6);

  // The grids: titles in the header, widths as laid out or wider for a title.
  auto* meters = Find<QTableView>(form, "StringGrid1");
  const char* meterTitles[] = {"No.", "Serial ID", "Note ", "Time "};
  const int meterWidths[] = {41, 67, 79, 64};
  ASSERT_EQ(meters->model()->columnCount(), 4);
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(meters->model()->headerData(c, Qt::Horizontal).toString().toStdString(), meterTitles[c]);
    EXPECT_GE(meters->columnWidth(c), meterWidths[c]);
  }
  auto* table = Find<QTableView>(form, "Grid_values");
  ASSERT_EQ(table->model()->columnCount(), 11);
  EXPECT_EQ(table->model()->rowCount(), 1);
  EXPECT_EQ(table->model()->headerData(6, Qt::Horizontal).toString(), "RSSI, dBm ");
  EXPECT_GE(table->columnWidth(0), 38);
  EXPECT_LT(table->columnWidth(0), 64);  // the row number column stays narrow
  EXPECT_GE(table->columnWidth(10), 64);
  EXPECT_EQ(table->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(table->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(form.SelectedRow(), 1);

  EXPECT_EQ(Find<QLabel>(form, "StatusBar1_Panel0")->width(), 300);
  EXPECT_EQ(Find<QLabel>(form, "StatusBar1_Panel1")->width(), 500);
  EXPECT_EQ(Find<LogMemo>(form, "Memo_log")->Lines(), QStringList{QString()});
}

TEST(MainForm, StartsFromTheIniValuesOrTheirDefaults) {
  struct Case {
    std::optional<MainIniValues> stored;
    const char* repeater;
    const char* rxtime;
  } cases[] = {
      {std::nullopt, "", "2"},  // first start: not the "1" of the bare layout
      {MainIniValues{"00012", 5}, "00012", "5"},
      {MainIniValues{"", 9}, "", "6"},  // out of the spinner's range
  };
  for (const Case& c : cases) {
    FormFixture f;
    f.ini.stored = c.stored;
    TForm1& form = f.Make();
    EXPECT_EQ(form.Edit_repeaterID->text().toStdString(), c.repeater);
    EXPECT_EQ(form.Edit_rxtime->text().toStdString(), c.rxtime);
  }
}

TEST(MainForm, NumericEditsTakeOnlyDigitsAndTheFlagRestartsAboveItsRange) {
  FormFixture f;
  TForm1& form = f.Make();
  struct Case {
    const char* edit;
    const char* before;
    const char* typed;
    const char* after;
  } cases[] = {
      {"Edit_repeaterID", "", "12a-3 4", "1234"},
      {"Edit_repeaterID", "", "123456789", "12345678"},
      {"Edit_newID", "", "x9.9", "99"},
      {"Edit1", "", "+5,0", "50"},
      {"Edit_rxtime", "", "3h", "3"},
      {"Edit_send_command", "", "0A ff", "0A ff"},  // no filter there
      {"Edit_flag", "40", "4", "4"},                // above 32: starts anew
      {"Edit_flag", "3", "3", "33"},                // the rule looks at the text before the key
      {"Edit_flag", "33", "1", "1"},
      {"Edit_flag", "32", "1", "32"},  // in range, and the edit is full
      {"Edit_flag", "", "7", "7"},
      {"Edit_flag", "1", "a", "1"},
  };
  for (const Case& c : cases) {
    auto* edit = Find<QLineEdit>(form, c.edit);
    ASSERT_NE(edit, nullptr) << c.edit;
    edit->setText(QString::fromLatin1(c.before));
    edit->setCursorPosition(edit->text().size());
    QTest::keyClicks(edit, QString::fromLatin1(c.typed));
    EXPECT_EQ(edit->text().toStdString(), c.after) << c.edit << " typed " << c.typed;
  }

  auto* id = form.Edit_repeaterID;
  id->setText(QStringLiteral("1234"));
  id->setCursorPosition(4);
  QTest::keyClick(id, Qt::Key_Backspace);
  EXPECT_EQ(id->text(), "123");
  // Other control keys are control characters: nothing reaches the edit.
  QTest::keyClick(id, Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(id->text(), "123");
  // The number boxes without the clipboard take no clipboard shortcut
  // either (the ID boxes do: window_entry_test.cpp).
  form.Edit1->setText(QStringLiteral("123"));
  QTest::keyClick(form.Edit1, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(form.Edit1, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(form.Edit1->text(), "123");
}

// Text that comes in other than by key presses is filtered the same way:
// programmatic setText, insert (a middle-click paste of the primary
// selection), an input method's commit, a drop.
TEST(MainForm, DigitBoxesHoldDigitsHoweverTextGetsIn) {
  FormFixture f;
  TForm1& form = f.Make();
  const std::function<void(QLineEdit*, const QString&)> ways[] = {
      [](QLineEdit* e, const QString& t) { e->setText(t); },
      [](QLineEdit* e, const QString& t) {
        e->clear();
        e->insert(t);
      },
      [](QLineEdit* e, const QString& t) {
        e->clear();
        QInputMethodEvent commit;
        commit.setCommitString(t);
        QCoreApplication::sendEvent(e, &commit);
      },
      [](QLineEdit* e, const QString& t) {
        e->clear();
        QMimeData data;
        data.setText(t);
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(e, &drop);
      },
  };
  for (const char* name :
       {"Edit_repeaterID", "Edit_newID", "Edit1", "Edit_rxtime", "Edit_rxstarttime", "Edit_flag"}) {
    auto* edit = Find<QLineEdit>(form, name);
    ASSERT_NE(edit, nullptr) << name;
    for (size_t w = 0; w < std::size(ways); ++w) {
      ways[w](edit, QStringLiteral("1a2 3-x"));
      const QString text = edit->text();
      EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); }))
          << name << " way " << w << ": " << text.toStdString();
      if (w == 0) {
        EXPECT_FALSE(text.isEmpty()) << name;  // the digits stay
      }
    }
  }
  // The ID box: letters go, the digits stay in place, the typing limit holds.
  form.Edit_repeaterID->setText(QStringLiteral("12345xyz"));
  EXPECT_EQ(form.Edit_repeaterID->text(), "12345");
  form.Edit_repeaterID->insert(QStringLiteral("6z7"));
  EXPECT_EQ(form.Edit_repeaterID->text(), "1234567");
  EXPECT_EQ(form.Edit_repeaterID->cursorPosition(), 7);
  form.Edit_repeaterID->setText(QStringLiteral("1234567890"));
  EXPECT_EQ(form.Edit_repeaterID->text(), "12345678");
}

TEST(MainForm, FlagRangeRule) {
  struct Case {
    const char* text;
    bool restart;
  } cases[] = {{"", true},   {"0", false}, {"32", false}, {"33", true}, {"40", true},
               {"-1", true}, {" 3", true}, {"3a", true},  {"07", false}};
  for (const Case& c : cases)
    EXPECT_EQ(FlagTextMustRestart(QString::fromLatin1(c.text)), c.restart) << c.text;
}

TEST(MainForm, ExitAsksAndOnlyYesClosesAndSaves) {
  FormFixture f;
  TForm1& form = f.Make();
  form.show();
  form.Edit_repeaterID->setText(QStringLiteral("1234"));  // short IDs are saved as they are
  form.UD_rxtime->SetPosition(4);

  f.prompts.confirmAnswers = {false};
  form.Exit1->trigger();
  ASSERT_EQ(f.prompts.shown.size(), 1u);
  EXPECT_EQ(f.prompts.shown[0].kind, "confirm");
  EXPECT_EQ(f.prompts.shown[0].caption, "Exit Confirmation");
  EXPECT_EQ(f.prompts.shown[0].text, "Are you sure you want to exit?");
  EXPECT_EQ(f.prompts.shown[0].icon, Prompts::Icon::Warning);
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(f.ini.saves.empty());

  f.prompts.confirmAnswers = {true};
  EXPECT_TRUE(form.close());  // the close box takes the same road
  EXPECT_FALSE(form.isVisible());
  ASSERT_EQ(f.ini.saves.size(), 1u);
  EXPECT_EQ(f.ini.saves[0].lastRepeater, "1234");
  EXPECT_EQ(f.ini.saves[0].setRxTime, 4);
  EXPECT_EQ(f.prompts.shown.size(), 2u);

  // The next start shows what was saved.
  FormFixture next;
  next.ini.stored = f.ini.stored;
  TForm1& again = next.Make();
  EXPECT_EQ(again.Edit_repeaterID->text(), "1234");
  EXPECT_EQ(again.Edit_rxtime->text(), "4");
}

TEST(MainForm, UnwritableIniAtCloseIsReportedAndTheProgramStillEnds) {
  FormFixture f;
  f.ini.writable = false;
  TForm1& form = f.Make();
  QWidget settings;
  form.SetSettingsWindow(&settings, [&] { settings.show(); });
  form.show();
  form.Settings1->trigger();
  EXPECT_TRUE(settings.isVisible());

  f.prompts.confirmAnswers = {true};
  EXPECT_TRUE(form.close());
  ASSERT_EQ(f.prompts.shown.size(), 2u);
  EXPECT_EQ(f.prompts.shown[1].kind, "message");
  EXPECT_EQ(f.prompts.shown[1].caption, "Saving settings");
  EXPECT_EQ(f.prompts.shown[1].text, "Settings will not be saved, no write permission");
  EXPECT_EQ(f.prompts.shown[1].icon, Prompts::Icon::Warning);
  EXPECT_FALSE(settings.isVisible());
  EXPECT_FALSE(form.isVisible());
}

TEST(MainForm, ClockTickWritesTheStatusPanelAndTheLabel) {
  FormFixture f;
  TForm1& form = f.Make();
  // Written at creation, not a second later.
  EXPECT_EQ(form.StatusPanel(2), "        09:05:03, 07.12.2026");
  EXPECT_EQ(form.Label_datetime->text(), "07.12.2026 09:05:03");

  f.clock.Set(LocalTime{2027, 1, 2, 23, 59, 58});
  EXPECT_EQ(form.Timer_time->interval(), 1000);
  ASSERT_TRUE(form.Timer_time->isActive());
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.Label_datetime->text() == "02.01.2027 23:59:58"; }, 5000));
  EXPECT_EQ(form.StatusPanel(2), "        23:59:58, 02.01.2027");
}

TEST(MainForm, MenuItemsShowTheirWindows) {
  FormFixture f;
  TForm1& form = f.Make();
  form.show();

  int settingsShown = 0;
  form.SetSettingsWindow(nullptr, [&] { ++settingsShown; });
  form.Settings1->trigger();
  EXPECT_EQ(settingsShown, 1);

  TForm4* about = form.AboutWindow();
  EXPECT_FALSE(about->isVisible());
  form.About1->trigger();
  EXPECT_TRUE(about->isVisible());
  EXPECT_EQ(about->windowTitle(), "RPT battery config -> About");
  EXPECT_EQ(about->size(), QSize(351, 235));
  EXPECT_TRUE(about->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(Find<QLabel>(*about, "Label1")->text(), "About this program");
  EXPECT_EQ(Find<QLabel>(*about, "Label2")->text(), "Repeater on battery config program");
  EXPECT_EQ(Find<QLabel>(*about, "Label3")->text(), "v1.0.0.48");
  auto* close = Find<QAbstractButton>(*about, "BitBtn1");
  EXPECT_EQ(close->text(), "Close");
  QTest::mouseClick(close, Qt::LeftButton);
  EXPECT_FALSE(about->isVisible());

  std::vector<QUrl> opened;
  form.SetUrlOpener([&](const QUrl& url) {
    opened.push_back(url);
    return false;  // no viewer: nothing is reported
  });
  form.UserManual1->trigger();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(f.dir.filePath("UsrManEn.pdf")));
  EXPECT_TRUE(f.prompts.shown.empty());

  form.Memo_log->AppendLine(QStringLiteral("a line"));
  form.Clearlog1->trigger();
  EXPECT_EQ(form.Memo_log->Lines(), QStringList{});
}

// The build tree has the manual beside the program, an installed program in
// PREFIX/share/doc/velrpt; beside the program wins.
TEST(MainForm, UserManualBesideTheProgramOrInstalled) {
  QTemporaryDir root;
  const QDir dir(root.path());
  ASSERT_TRUE(dir.mkpath("usr/bin") && dir.mkpath("usr/share/doc/velrpt") && dir.mkpath("build"));
  const auto touch = [&](const QString& path) {
    QFile file(dir.filePath(path));
    return file.open(QIODevice::WriteOnly);
  };
  ASSERT_TRUE(touch("usr/share/doc/velrpt/UsrManEn.pdf"));
  EXPECT_EQ(UserManualPath(dir.filePath("usr/bin")), dir.filePath("usr/share/doc/velrpt/UsrManEn.pdf"));
  ASSERT_TRUE(touch("usr/bin/UsrManEn.pdf"));
  EXPECT_EQ(UserManualPath(dir.filePath("usr/bin")), dir.filePath("usr/bin/UsrManEn.pdf"));
  // Neither: the bare name beside the program, as before.
  EXPECT_EQ(UserManualPath(dir.filePath("build")), dir.filePath("build/UsrManEn.pdf"));
}

TEST(MainForm, ClickingATableRowSelectsIt) {
  FormFixture f;
  TForm1& form = f.Make();
  form.Table().SetRowCount(4);
  for (int r = 1; r < 4; ++r) form.Table().SetCell(1, r, "1000000" + std::to_string(r));
  form.show();
  QTableView* view = form.Grid_values;
  const QRect cell = view->visualRect(view->model()->index(2, 3));  // data row 3
  ASSERT_TRUE(cell.isValid());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(form.SelectedRow(), 3);
  EXPECT_EQ(form.SelectedCol(), 3);
  EXPECT_TRUE(view->selectionModel()->isRowSelected(2, {}));
}
