// manualpdf MANUAL.md OUT.pdf [TITLE]: the user manual as a PDF, at build time.

#include <QGuiApplication>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

#include "markdown_pdf.h"

int main(int argc, char** argv) {
  // The build has no display; fonts still come from fontconfig.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 3 || args.size() > 4) {
    std::fprintf(stderr, "usage: manualpdf MANUAL.md OUT.pdf [TITLE]\n");
    return 2;
  }
  MarkdownPdfOptions options;
  options.title = args.size() == 4 ? args[3] : QStringLiteral("VelRpt user manual");
  const MarkdownPdfResult result = WriteMarkdownPdf(args[1], args[2], options);
  if (!result.ok) {
    std::fprintf(stderr, "manualpdf: %s\n", qPrintable(result.error));
    return 1;
  }
  for (const QString& image : result.missingImages)
    std::fprintf(stderr, "manualpdf: picture %s not found, left out\n", qPrintable(image));
  std::printf("manualpdf: %s, %d pages\n", qPrintable(args[2]), result.pages);
  return 0;
}
