// iconpng ICON.svg OUTDIR SIZE...: renders OUTDIR/SIZExSIZE/apps/NAME.png for
// each size, the hicolor theme layout, so the desktop never scales a bitmap.

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 4) {
    std::fprintf(stderr, "usage: iconpng ICON.svg OUTDIR SIZE...\n");
    return 2;
  }
  QSvgRenderer svg(args[1]);
  if (!svg.isValid()) {
    std::fprintf(stderr, "iconpng: %s is not a valid SVG picture\n", qPrintable(args[1]));
    return 1;
  }
  const QString name = QFileInfo(args[1]).completeBaseName();
  for (int i = 3; i < args.size(); ++i) {
    bool ok = false;
    const int size = args[i].toInt(&ok);
    if (!ok || size < 1 || size > 4096) {
      std::fprintf(stderr, "iconpng: bad size %s\n", qPrintable(args[i]));
      return 2;
    }
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(args[2]).arg(size);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    const QString file = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!QDir().mkpath(folder) || !image.save(file, "PNG")) {
      std::fprintf(stderr, "iconpng: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
