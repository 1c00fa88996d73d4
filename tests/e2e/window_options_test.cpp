// velrpt's options on a machine without a display: help, version and a wrong
// option are answered before any window system is asked for.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

namespace {

TEST(WindowOptions, AnsweredWithoutADisplay) {
  struct Case {
    QStringList args;
    const char* platform;  // QT_QPA_PLATFORM, nullptr: unset (Qt then picks xcb)
    int exitCode;
    const char* out;  // expected in standard output
    const char* err;  // the whole of standard error
  };
  const Case cases[] = {
      {{"--help"}, nullptr, 0, "Usage: velrpt [options]", ""},
      {{"--help-all"}, nullptr, 0, "--data-dir <DIR>", ""},
      {{"-h"}, "xcb", 0, "--version", ""},
      {{"-platform", "wayland", "--help"}, nullptr, 0, "--simulate", ""},
      {{"--version"}, nullptr, 0, "VelRpt " VELRPT_VERSION "\n", ""},
      {{"--bogus"}, nullptr, 2, "", "velrpt: Unknown option 'bogus'.\n"},
      {{"--simulate", "--port"}, "xcb", 2, "", "velrpt: Missing value after '--port'.\n"},
  };
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    QProcessEnvironment caseEnv = env;
    if (c.platform) caseEnv.insert("QT_QPA_PLATFORM", c.platform);
    QProcess p;
    p.setProcessEnvironment(caseEnv);
    p.start(VELRPT_GUI, c.args);
    ASSERT_TRUE(p.waitForFinished(30000)) << p.errorString().toStdString();
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), c.exitCode) << err.toStdString();
    EXPECT_TRUE(out.contains(c.out)) << out.toStdString();
    EXPECT_EQ(err, c.err);
    if (c.exitCode != 0) {
      EXPECT_EQ(out, QString());
    }
  }
}

}  // namespace
