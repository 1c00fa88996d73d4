// What the operator types and presses in the main window reaches the
// repeater as shown: the spinners' boxes and the values sent agree, the ID
// boxes take the clipboard through their digit filter, Enter presses a
// focused button, and "Set in Korvex" leaves its result in the log.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app_test_util.h"
#include "capture_port.h"
#include "log_memo.h"
#include "up_down.h"

namespace {

struct EntryFixture {
  FormFixture f;
  CapturePort port;
  TForm1* form = nullptr;
  bool active = false;

  EntryFixture() {
    form = &f.Make();
    form->SetCommandPort(&port, [] { return true; });
    form->Edit_repeaterID->setText(QStringLiteral("12345678"));
    form->show();
    form->activateWindow();
    active = QTest::qWaitForWindowActive(form, 10000);
  }
  ~EntryFixture() { form->hide(); }
  // The last frame's data byte before the end byte.
  int LastValueSent() const {
    if (port.frames.empty()) return -1;
    const std::string& frame = port.frames.back();
    return frame.size() < 2 ? -1 : static_cast<unsigned char>(frame[frame.size() - 2]);
  }
};

}  // namespace

// Typed text the spinner cannot hold is corrected in view before a frame
// goes out; the read-only start hour takes typed digits.
TEST(WindowEntry, SpinnerBoxesSendWhatTheyShow) {
  struct Case {
    const char* edit;
    const char* button;
    int before;         // the spinner's position first
    const char* keys;   // typed into the box ("" and clear: an emptied box)
    bool clearFirst;    // select all and delete first
    const char* shown;  // the box after the click
    int sent;           // the value in the frame
  } cases[] = {
      {"Edit_rxtime", "Button2", 4, "9", true, "6", 6},  // above the range: its end
      {"Edit_rxtime", "Button2", 5, "", true, "5", 5},   // emptied: the value again
      {"Edit_rxtime", "Button2", 4, "0", true, "1", 1},  // below the range
      {"Edit_rxtime", "Button2", 2, "3", true, "3", 3},  // in range: taken as typed
      {"Edit_rxtime", "Button2", 2, "99999999999", true, "6", 6},
      {"Edit_rxstarttime", "BitBtn5", 1, "15", false, "15", 15},
      {"Edit_rxstarttime", "BitBtn5", 1, "7", false, "7", 7},
      {"Edit_rxstarttime", "BitBtn5", 1, "25", false, "5", 5},  // 25 cannot be: the 5 starts anew
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.edit) + " typed '" + c.keys + "'");
    EntryFixture e;
    ASSERT_TRUE(e.active);
    auto* edit = Find<QLineEdit>(*e.form, c.edit);
    auto* button = Find<QPushButton>(*e.form, c.button);
    UpDown* spin = edit == e.form->Edit_rxtime ? e.form->UD_rxtime : e.form->UD_rxstarttime;
    spin->SetPosition(c.before);
    edit->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return edit->hasFocus(); }, 5000));
    if (c.clearFirst) {
      edit->selectAll();
      QTest::keyClick(edit, Qt::Key_Delete);
    }
    QTest::keyClicks(edit, QString::fromLatin1(c.keys));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(edit->text().toStdString(), c.shown);
    EXPECT_EQ(e.LastValueSent(), c.sent);
    EXPECT_EQ(spin->Position(), c.sent);
  }

  // A command that does not take the focus (the provisioning page, a
  // shortcut) sees the corrected value too, and so does the ini at close.
  EntryFixture e;
  e.form->Edit_rxtime->setText(QStringLiteral("8"));
  e.form->Button3->click();
  EXPECT_EQ(e.form->Edit_rxtime->text(), "6");
  EXPECT_EQ(e.LastValueSent(), 6);
}

TEST(WindowEntry, IdBoxesTakeTheClipboardThroughTheDigitFilter) {
  struct Case {
    const char* edit;
    const char* before;
    const char* clipboard;
    QKeyCombination keys;
    const char* after;
  } cases[] = {
      {"Edit_repeaterID", "", "12 34-56 78", Qt::CTRL | Qt::Key_V, "12345678"},
      {"Edit_repeaterID", "", "ID: 8765 4321\n", Qt::CTRL | Qt::Key_V, "87654321"},
      {"Edit_repeaterID", "", "123456789012", Qt::CTRL | Qt::Key_V, "12345678"},  // the box's length
      {"Edit_repeaterID", "99", "abc", Qt::CTRL | Qt::Key_V, "99"},               // nothing to paste
      {"Edit_newID", "", "0000 0042", Qt::SHIFT | Qt::Key_Insert, "00000042"},
      {"Edit_newID", "", "1-2", Qt::CTRL | Qt::Key_V, "12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.edit) + " pasting '" + c.clipboard + "'");
    EntryFixture e;
    auto* edit = Find<QLineEdit>(*e.form, c.edit);
    edit->setText(QString::fromLatin1(c.before));
    edit->setFocus();
    QGuiApplication::clipboard()->setText(QString::fromLatin1(c.clipboard));
    QTest::keyClick(edit, c.keys.key(), c.keys.keyboardModifiers());
    EXPECT_EQ(edit->text().toStdString(), c.after);
  }

  // Ctrl+A selects the whole ID, so a paste replaces it; Ctrl+X cuts it.
  EntryFixture e;
  QLineEdit* id = e.form->Edit_repeaterID;
  id->setText(QStringLiteral("11112222"));
  id->setCursorPosition(3);
  QGuiApplication::clipboard()->setText(QStringLiteral("3333 4444"));
  QTest::keyClick(id, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(id->selectedText(), "11112222");
  QTest::keyClick(id, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(id->text(), "33334444");
  QTest::keyClick(id, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(id, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(id->text(), "");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "33334444");
  // Other control keys still type nothing.
  QTest::keyClick(id, Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(id->text(), "");
}

TEST(WindowEntry, EnterPressesTheFocusedButton) {
  EntryFixture e;
  for (const char* name : {"BitBtn1", "Button5", "Button2", "BitBtn5", "Button3", "Button4", "BitBtn8",
                           "BitBtn9", "Button1", "BitBtn7"}) {
    SCOPED_TRACE(name);
    auto* button = Find<QPushButton>(*e.form, name);
    QSignalSpy clicks(button, &QPushButton::clicked);
    button->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return button->hasFocus(); }, 5000));
    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(clicks.count(), 2);
    // With a modifier Enter is not a press.
    QTest::keyClick(button, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(clicks.count(), 2);
  }
  // The command really went: "Set" of "RX hours:" by Enter.
  e.port.frames.clear();
  e.form->Button2->setFocus();
  QTest::keyClick(e.form->Button2, Qt::Key_Return);
  EXPECT_EQ(e.port.frames.size(), 1u);
}

TEST(WindowEntry, SetInKorvexWritesItsResultToTheLog) {
  struct Case {
    const char* id;
    QStringList log;  // after the window's first empty line
  } cases[] = {
      // The Korvex never prompts: every write fails.
      {"12345678",
       {"Korvex parameters not saved at addresses: 25, 26, 27, 28, 29, 30, 31, 32",
        "Set in Korvex 12345678: Error setting parameter"}},
      // Refused before any exchange: only the refusal.
      {"1234", {"ID should be exactly 8-digits..."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EntryFixture e;
    e.form->Edit_repeaterID->setText(QString::fromLatin1(c.id));
    QTest::mouseClick(e.form->BitBtn2, Qt::LeftButton);
    // After the lines of the port's opening at the first show.
    const QStringList log = e.form->Memo_log->Lines();
    EXPECT_EQ(log.mid(log.size() - c.log.size()), c.log);
  }
}
