#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "qt_prompts.h"
#include "scripted_prompts.h"
#include "velrpt_application.h"

TEST(QtFileFilter, ConvertsNamePatternPairs) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"TXT|*.txt|CSV|*.csv", "TXT (*.txt);;CSV (*.csv)"},
      {"Text files (*.txt)|*.txt", "Text files (*.txt) (*.txt)"},
      {"Logs|*.txt;*.log", "Logs (*.txt *.log)"},
      {"TXT|*.txt|Dangling", "TXT (*.txt)"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(QtFileFilter(c.in).toStdString(), c.out) << c.in;
}

TEST(QtFileFilter, DefaultExtensionOnlyWhenTheNameHasNone) {
  struct Case {
    const char* name;
    const char* ext;
    const char* out;
  } cases[] = {
      {"/tmp/meters", "csv", "/tmp/meters.csv"},
      {"/tmp/meters.txt", "csv", "/tmp/meters.txt"},
      {"/tmp/dir.d/meters", "csv", "/tmp/dir.d/meters.csv"},  // a dot in the folder does not count
      {"/tmp/meters", "", "/tmp/meters"},
      {"", "csv", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(WithDefaultExt(c.name, c.ext), c.out) << c.name;
}

// An exception escaping a handler shows the "VelRpt" box with its text, and
// the event loop keeps delivering events afterwards.
TEST(VelRptApplication, EscapedExceptionIsShownAndTheProgramCarriesOn) {
  auto* app = qobject_cast<VelRptApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  ScriptedPrompts prompts;
  Prompts* before = app->GetPrompts();
  app->SetPrompts(&prompts);

  QObject target;
  QTimer::singleShot(0, &target, [] { throw std::runtime_error("Port is gone"); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.shown.empty(); }, 5000));
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "message");
  EXPECT_EQ(prompts.shown[0].caption, "VelRpt");
  EXPECT_EQ(prompts.shown[0].text, "Port is gone");
  EXPECT_EQ(prompts.shown[0].icon, Prompts::Icon::Error);

  bool later = false;
  QTimer::singleShot(0, &target, [&] { later = true; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return later; }, 5000));
  EXPECT_EQ(prompts.shown.size(), 1u);
  app->SetPrompts(before);
}

// The Qt open dialog starts in the given folder and takes a typed name of a
// file that does not exist: reading it then fails with the file error the
// import reports.
TEST(QtPrompts, OpenDialogTakesANameThatDoesNotExist) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QtPrompts prompts;
  QString startedIn;
  bool accepted = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    // A box refusing the name would sit on top of the dialog: close it too.
    if (auto* refusal = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      refusal->done(0);
      return;
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QFileDialog*>(w);
      if (!box || !box->isVisible()) continue;
      if (!accepted) {
        startedIn = box->directory().absolutePath();
        // Typed, as a user does: selectFile() leaves a focused name field as
        // it is, and whether the field has the focus yet is up to the window
        // system.
        auto* name = box->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name) {
          ADD_FAILURE() << "no file name field";
          box->reject();
          return;
        }
        name->clear();
        QTest::keyClicks(name, QStringLiteral("missing.csv"));
        static_cast<QDialog*>(box)->accept();  // as the Open button does
        accepted = true;
      } else {
        box->reject();  // it refused the name: end it, the test fails below
      }
    }
  });
  poll.start(20);
  const auto chosen = prompts.OpenFile(
      {"Choose file for import", {}, "CSV|*.csv|TXT|*.txt", "csv", dir.path().toStdString()});
  poll.stop();
  EXPECT_EQ(startedIn, QDir(dir.path()).absolutePath());
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, dir.filePath(QStringLiteral("missing.csv")).toStdString());
}
