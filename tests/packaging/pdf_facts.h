#pragma once
// What a test can read from a PDF without a PDF library: page objects and
// their media boxes are plain text even when the page contents are compressed.

#include <QByteArray>
#include <QFile>
#include <QRegularExpression>
#include <QString>

struct PdfFacts {
  bool isPdf = false;
  int pages = 0;
  int a4Pages = 0;
  int images = 0;
};

inline PdfFacts ReadPdfFacts(const QString& path) {
  PdfFacts facts;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return facts;
  const QString text = QString::fromLatin1(file.readAll());
  facts.isPdf = text.startsWith(QLatin1String("%PDF-"));
  facts.pages = int(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"))));
  // A4 is 595 x 842 points; Qt may write fractions.
  facts.a4Pages = int(text.count(
      QRegularExpression(QStringLiteral("/MediaBox\\s*\\[\\s*0\\s+0\\s+595(\\.\\d+)?\\s+841\\.\\d+|/"
                                        "MediaBox\\s*\\[\\s*0\\s+0\\s+595(\\.\\d+)?\\s+842(\\.\\d+)?"))));
  facts.images = int(text.count(QRegularExpression(QStringLiteral("/Subtype\\s*/Image"))));
  return facts;
}
