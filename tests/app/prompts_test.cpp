#include <gtest/gtest.h>

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
