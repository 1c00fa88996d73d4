// The main window by keyboard alone: Tab through every control in reading
// order, the menus' Alt+letter and F10, and message boxes that never open
// behind the stay-on-top windows.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "about_form.h"
#include "app_test_util.h"
#include "qt_prompts.h"
#include "up_down.h"

namespace {

// The control that has the focus, by the name the window gives it (the tab
// bar stands for its page control).
std::string FocusName() {
  QWidget* w = QApplication::focusWidget();
  if (!w) return "<none>";
  if (qobject_cast<QTabWidget*>(w->parentWidget())) return w->parentWidget()->objectName().toStdString();
  return w->objectName().toStdString();
}

bool ShowActive(QWidget& window) {
  window.show();
  window.activateWindow();
  return QTest::qWaitForWindowActive(&window, 10000);
}

}  // namespace

TEST(WindowKeyboard, TabVisitsEveryControlInReadingOrderAndLeavesTheGrids) {
  FormFixture f;
  TForm1& form = f.Make();
  ASSERT_TRUE(ShowActive(form));
  form.Edit_repeaterID->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([] { return FocusName() == "Edit_repeaterID"; }, 5000));

  const std::vector<std::string> expected = {"Edit_repeaterID",
                                             "BitBtn2",
                                             "Check_bmt",
                                             "Edit_newID",
                                             "BitBtn9",
                                             "Button1",
                                             "Edit_send_command",
                                             "PageControl1",
                                             "BitBtn1",
                                             "Check_onClock",
                                             "Edit1",
                                             "Button5",
                                             "Edit_rxtime",
                                             "Button2",
                                             "Edit_rxstarttime",
                                             "BitBtn5",
                                             "Button3",
                                             "Combo_wirelessMode",
                                             "Button4",
                                             "CheckBox2",
                                             "Edit_flag",
                                             "BitBtn8",
                                             "Check_onlyRepeater",
                                             "StringGrid1",
                                             "Grid_values",
                                             "BitBtn7",
                                             "Check_noNew",
                                             "BitBtn6",
                                             "Memo_log",
                                             "Edit_repeaterID"};
  std::vector<std::string> forward{FocusName()};
  for (size_t i = 1; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    forward.push_back(FocusName());
  }
  EXPECT_EQ(forward, expected);

  // Shift+Tab walks the same way back.
  std::vector<std::string> backward{FocusName()};
  for (size_t i = 1; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    backward.push_back(FocusName());
  }
  EXPECT_EQ(backward, std::vector<std::string>(expected.rbegin(), expected.rend()));
  form.hide();
}

// In the meter ID list Ctrl+Tab moves between the cells (Tab leaves it), and
// Up and Down reach the read-only RX start hour.
TEST(WindowKeyboard, CellsByCtrlTabAndSpinnersByArrows) {
  FormFixture f;
  TForm1& form = f.Make();
  ASSERT_TRUE(ShowActive(form));
  QTableView* grid = form.StringGrid1;
  grid->setFocus();
  grid->setCurrentIndex(grid->model()->index(0, 0));
  QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(grid->currentIndex().column(), 1);
  QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
  QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
  QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(grid->currentIndex().column(), 0) << "after the last column, the first again";
  QTest::keyClick(grid, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(grid->currentIndex().column(), 3);
  EXPECT_EQ(FocusName(), "StringGrid1");

  QLineEdit* start = form.Edit_rxstarttime;
  start->setFocus();
  QTest::keyClick(start, Qt::Key_Up);
  QTest::keyClick(start, Qt::Key_Up);
  EXPECT_EQ(form.UD_rxstarttime->Position(), 3);
  EXPECT_EQ(start->text(), "3");
  QTest::keyClick(start, Qt::Key_Down);
  EXPECT_EQ(start->text(), "2");
  form.hide();
}

// Each menu and item has an Alt+letter of its own; without the underline
// marker the captions are those the operators know.
TEST(WindowKeyboard, MenusHaveMnemonicsAndF10OpensTheFirst) {
  FormFixture f;
  TForm1& form = f.Make();
  struct Menu {
    QMenu* menu;
    const char* title;
    std::vector<const char*> items;
  } menus[] = {
      {form.File1, "File", {"Save log file", "Clear log", "Print table data", "Exit"}},
      {form.ools1, "Tools", {"Settings"}},
      {form.Help1, "Help", {"About", "User Manual"}},
  };
  const auto visible = [](QString text) { return text.remove(QLatin1Char('&')).toStdString(); };
  QList<QKeySequence> barKeys;
  for (const Menu& m : menus) {
    EXPECT_EQ(visible(m.menu->title()), m.title);
    const QKeySequence key = QKeySequence::mnemonic(m.menu->title());
    EXPECT_FALSE(key.isEmpty()) << m.title;
    EXPECT_FALSE(barKeys.contains(key)) << m.title;
    barKeys.append(key);
    QList<QKeySequence> itemKeys;
    std::vector<std::string> captions;
    for (QAction* a : m.menu->actions()) {
      if (a->isSeparator()) continue;
      captions.push_back(visible(a->text()));
      const QKeySequence itemKey = QKeySequence::mnemonic(a->text());
      EXPECT_FALSE(itemKey.isEmpty()) << a->text().toStdString();
      EXPECT_FALSE(itemKeys.contains(itemKey)) << a->text().toStdString();
      itemKeys.append(itemKey);
    }
    EXPECT_EQ(captions, std::vector<std::string>(m.items.begin(), m.items.end())) << m.title;
  }

  ASSERT_TRUE(ShowActive(form));
  QTest::keyClick(&form, Qt::Key_H, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return form.Help1->isVisible(); }, 5000)) << "Alt+H";
  form.Help1->close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !form.Help1->isVisible(); }, 5000));
  ASSERT_TRUE(ShowActive(form));
  form.Edit_repeaterID->setFocus();
  QTest::keyClick(form.Edit_repeaterID, Qt::Key_F10);
  EXPECT_TRUE(QTest::qWaitFor([&] { return form.File1->isVisible(); }, 5000)) << "F10";
  form.File1->close();
  form.hide();
}

// A message box asked for while the about window (always on top) is open
// stays on top as well; with no such window it is an ordinary one.
TEST(WindowKeyboard, MessageBoxesOpenAboveTheStayOnTopWindows) {
  FormFixture f;
  TForm1& form = f.Make();
  QtPrompts prompts(&form);
  const auto boxFlags = [&] {
    Qt::WindowFlags flags;
    bool seen = false;
    QTimer::singleShot(0, [&] {
      // No box in time leaves `seen` false, which the caller reports.
      (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 10000);
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        flags = box->windowFlags();
        seen = true;
        box->accept();
      }
    });
    prompts.Message("Test", "Text", Prompts::Icon::Information);
    EXPECT_TRUE(seen);
    return flags;
  };
  form.show();
  EXPECT_FALSE(boxFlags() & Qt::WindowStaysOnTopHint);
  form.About1Click();
  ASSERT_TRUE(form.AboutWindow()->isVisible());
  EXPECT_TRUE(boxFlags() & Qt::WindowStaysOnTopHint);
  form.AboutWindow()->hide();
  form.hide();
}
