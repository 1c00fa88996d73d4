// The Debian package as a user gets it: built with cpack, unpacked with
// dpkg -x into a scratch root, and its programs run from there.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "pdf_facts.h"

namespace {

struct ProgramRun {
  int exitCode = -1;
  QString out, err;
};

ProgramRun RunProgram(const QString& program, const QStringList& args, const QString& workDir = {},
                      int timeoutMs = 240000) {
  QProcess p;
  if (!workDir.isEmpty()) p.setWorkingDirectory(workDir);
  p.start(program, args);
  ProgramRun r;
  if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit) {
    p.kill();
    p.waitForFinished();
    r.err = QStringLiteral("%1 did not finish: %2").arg(program, p.errorString());
    return r;
  }
  r.exitCode = p.exitCode();
  r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
  r.err = QString::fromLocal8Bit(p.readAllStandardError());
  return r;
}

class Package : public ::testing::Test {
 protected:
  // One package for all cases: cpack installs and strips the whole tree.
  static void SetUpTestSuite() {
    s_dir = new QTemporaryDir;
    const QString out = s_dir->filePath("deb");
    const ProgramRun pack = RunProgram(
        VELRPT_CPACK,
        {"-G", "DEB", "-B", out, "--config", QDir(VELRPT_BINARY_DIR).filePath("CPackConfig.cmake")},
        VELRPT_BINARY_DIR);
    s_log = pack.out + pack.err;
    const QStringList debs = QDir(out).entryList({"*.deb"}, QDir::Files);
    if (pack.exitCode != 0 || debs.size() != 1) return;
    s_deb = QDir(out).filePath(debs.first());
    s_root = s_dir->filePath("root");
    const ProgramRun unpack = RunProgram("dpkg", {"-x", s_deb, s_root});
    if (unpack.exitCode != 0) {
      s_log += unpack.err;
      s_deb.clear();
    }
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  void SetUp() override { ASSERT_FALSE(s_deb.isEmpty()) << "no package: " << s_log.toStdString(); }

  static QString Installed(const QString& path) { return QDir(s_root).filePath(path); }

  static QTemporaryDir* s_dir;
  static QString s_deb, s_root, s_log;
};
QTemporaryDir* Package::s_dir = nullptr;
QString Package::s_deb, Package::s_root, Package::s_log;

TEST_F(Package, HoldsProgramsDesktopEntryIconsManualAndManPages) {
  QStringList expected = {"usr/bin/velrpt-cli",
                          "usr/bin/velrpt-sim",
                          "usr/share/applications/velrpt.desktop",
                          "usr/share/icons/hicolor/scalable/apps/velrpt.svg",
                          "usr/share/doc/velrpt/UsrManEn.pdf",
                          "usr/share/man/man1/velrpt.1.gz",
                          "usr/share/man/man1/velrpt-cli.1.gz",
                          "usr/share/man/man1/velrpt-sim.1.gz"};
#ifdef VELRPT_GUI_DIR
  expected << "usr/bin/velrpt";
#endif
  for (const QString& path : expected) EXPECT_TRUE(QFileInfo::exists(Installed(path))) << path.toStdString();
  for (const char* program : {"velrpt", "velrpt-cli", "velrpt-sim"}) {
    const QFileInfo info(Installed("usr/bin/" + QString(program)));
    if (info.exists()) {
      EXPECT_TRUE(info.isExecutable()) << program;
    }
  }
  // Nothing escapes /usr: no build paths, no settings file, no log folder.
  QStringList top = QDir(s_root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
  EXPECT_EQ(top, QStringList{"usr"});
  const QStringList bin = QDir(Installed("usr/bin")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
  for (const QString& name : bin)
    EXPECT_TRUE(name.startsWith("velrpt") && !name.contains('.')) << name.toStdString();

  for (const QString& size : QString(VELRPT_ICON_SIZES).split(',')) {
    const QImage icon(Installed(QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/velrpt.png").arg(size)));
    EXPECT_EQ(icon.size(), QSize(size.toInt(), size.toInt())) << size.toStdString();
    // Rendered, not blank: the centre of the icon is opaque.
    if (!icon.isNull()) {
      EXPECT_EQ(qAlpha(icon.pixel(icon.width() / 2, icon.height() / 2)), 255);
    }
  }
  const PdfFacts manual = ReadPdfFacts(Installed("usr/share/doc/velrpt/UsrManEn.pdf"));
  EXPECT_TRUE(manual.isPdf);
  EXPECT_GE(manual.pages, 5);
}

TEST_F(Package, DeclaresItsRuntimeLibraries) {
  const ProgramRun fields =
      RunProgram("dpkg-deb", {"-f", s_deb, "Package", "Architecture", "Depends", "Recommends"});
  ASSERT_EQ(fields.exitCode, 0) << fields.err.toStdString();
  EXPECT_TRUE(fields.out.contains("Package: velrpt")) << fields.out.toStdString();
  EXPECT_TRUE(fields.out.contains("Architecture: amd64") || fields.out.contains("Architecture: arm64"));
  QStringList needed = {"libc6", "libstdc++6", "libqt6svg6"};
#ifdef VELRPT_GUI_DIR
  needed << "libqt6widgets6"
         << "libqt6gui6"
         << "libqt6core6";
#endif
  // Debian 13 renamed some libraries for the 64-bit time_t (libqt6core6t64).
  const auto declares = [&](const QString& package) {
    return fields.out.contains(QRegularExpression("\\b" + QRegularExpression::escape(package) + "(t64)?\\b"));
  };
  for (const QString& package : needed)
    EXPECT_TRUE(declares(package)) << package.toStdString() << " missing in " << fields.out.toStdString();
  // The chart is drawn by the program itself: no chart or OpenGL library.
  for (const char* package : {"libqt6charts6", "libqt6opengl6", "libqt6openglwidgets6"})
    EXPECT_FALSE(declares(package)) << package << " in " << fields.out.toStdString();
#ifdef VELRPT_GUI_DIR
  // The window's platform plugin on a Wayland desktop; without it Qt falls back to X11.
  EXPECT_TRUE(fields.out.contains(
      QRegularExpression("^Recommends:.*\\bqt6-wayland\\b", QRegularExpression::MultilineOption)))
      << fields.out.toStdString();
#endif
}

TEST_F(Package, DesktopEntryStartsTheInstalledProgram) {
  QFile entry(Installed("usr/share/applications/velrpt.desktop"));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(entry.readAll());
  EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
  for (const char* line : {"\nName=VelRpt\n", "\nExec=velrpt\n", "\nIcon=velrpt\n", "\nType=Application\n"})
    EXPECT_TRUE(text.contains(line)) << line;
  // The desktop's own checker: a bad key or category hides the menu entry.
  const ProgramRun check = RunProgram("desktop-file-validate", {entry.fileName()}, {}, 30000);
  EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
  EXPECT_EQ(check.out.trimmed(), QString()) << check.out.toStdString();
}

TEST_F(Package, InstalledCommandLineProgramsRun) {
  const ProgramRun cli = RunProgram(Installed("usr/bin/velrpt-cli"), {"--help"}, {}, 30000);
  EXPECT_EQ(cli.exitCode, 0) << cli.err.toStdString();
  EXPECT_TRUE(cli.out.startsWith("usage: velrpt-cli COMMAND")) << cli.out.toStdString();
  const ProgramRun sim = RunProgram(Installed("usr/bin/velrpt-sim"), {"--help"}, {}, 30000);
  EXPECT_EQ(sim.exitCode, 0) << sim.err.toStdString();
  EXPECT_TRUE((sim.out + sim.err).contains("usage: velrpt-sim")) << sim.out.toStdString();
}

// Options grow; the hand-written man pages must name every one the programs'
// own --help texts name.
TEST_F(Package, ManPagesNameEveryOptionOfTheHelpTexts) {
  struct Case {
    const char* program;
    QStringList args;
    const char* page;
  };
  // Every sub-command that velrpt-cli's usage lists, so a new one is checked too.
  const ProgramRun usage = RunProgram(Installed("usr/bin/velrpt-cli"), {"--help"}, {}, 30000);
  QStringList commands;
  for (const QString& line : usage.out.section("commands:", 1).split('\n', Qt::SkipEmptyParts))
    commands << line.simplified().section(' ', 0, 0);
  EXPECT_GE(commands.size(), 3) << usage.out.toStdString();

  QList<Case> cases = {{"velrpt-cli", {"--help"}, "velrpt-cli.1"},
                       {"velrpt-sim", {"--help"}, "velrpt-sim.1"}};
  for (const QString& command : commands) cases.append({"velrpt-cli", {command, "--help"}, "velrpt-cli.1"});
#ifdef VELRPT_GUI_DIR
  cases.append({"velrpt", {"--help"}, "velrpt.1"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(QString("%1 %2").arg(c.program, c.args.join(' ')).toStdString());
    const ProgramRun help = RunProgram(Installed(QString("usr/bin/") + c.program), c.args, {}, 30000);
    ASSERT_EQ(help.exitCode, 0) << help.err.toStdString();
    QFile page(QDir(VELRPT_SOURCE_DIR).filePath(QString("docs/man/") + c.page));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString roff = QString::fromUtf8(page.readAll());
    int options = 0;
    QRegularExpressionMatchIterator it =
        QRegularExpression("(?<![\\w-])--([a-z][a-z-]*)").globalMatch(help.out);
    while (it.hasNext()) {
      const QString name = it.next().captured(1);
      if (name == "help-all") continue;  // Qt's own, for Qt's options
      // In roff each hyphen is written \-; as a pattern that is \\-.
      const QString escaped = "\\\\-\\\\-" + QString(name).replace("-", "\\\\-");
      EXPECT_TRUE(roff.contains(QRegularExpression(escaped + "(?![a-z\\\\])"))) << "--" << name.toStdString();
      ++options;
    }
    EXPECT_GE(options, 1);
  }
  // Every sub-command has its own synopsis line.
  QFile cliPage(QDir(VELRPT_SOURCE_DIR).filePath("docs/man/velrpt-cli.1"));
  ASSERT_TRUE(cliPage.open(QIODevice::ReadOnly));
  const QString cliRoff = QString::fromUtf8(cliPage.readAll());
  for (const QString& command : commands) {
    EXPECT_TRUE(cliRoff.contains(".B velrpt\\-cli " + QString(command).replace("-", "\\-")))
        << command.toStdString();
  }
}

#ifdef VELRPT_GUI_DIR
// The installed program starts with its simulator, keeps running, and puts
// its data folder under $XDG_CONFIG_HOME, not beside itself in usr/bin.
TEST_F(Package, InstalledProgramRunsWithTheSimulator) {
  QTemporaryDir home;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("HOME", home.filePath("home"));
  env.insert("XDG_CONFIG_HOME", home.filePath("config"));
  env.insert("XDG_RUNTIME_DIR", home.path());
  QProcess velrpt;
  velrpt.setProcessEnvironment(env);
  velrpt.start(Installed("usr/bin/velrpt"), {"--simulate"});
  ASSERT_TRUE(velrpt.waitForStarted(10000)) << velrpt.errorString().toStdString();

  const QString data = home.filePath("config/velrpt");
  QDeadlineTimer deadline(20000);
  while (!QFileInfo(data).isDir() && velrpt.state() == QProcess::Running && !deadline.hasExpired())
    velrpt.waitForFinished(50);
  EXPECT_TRUE(QFileInfo(data).isDir());
  // A few seconds of simulated traffic: the program must still be running after them.
  EXPECT_FALSE(velrpt.waitForFinished(3000))
      << "exited with " << velrpt.exitCode() << ": " << velrpt.readAllStandardError().toStdString();
  velrpt.kill();
  velrpt.waitForFinished(10000);

  const QStringList bin = QDir(Installed("usr/bin")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
  EXPECT_EQ(bin, (QStringList{"velrpt", "velrpt-cli", "velrpt-sim"}));
}
#endif

}  // namespace
