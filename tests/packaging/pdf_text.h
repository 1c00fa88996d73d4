#pragma once
// The text of a PDF as a reader sees it, through pdftotext: a paragraph that
// the layout dropped is missing here even though the page count looks right.

#include <QProcess>
#include <QRegularExpression>
#include <QString>

inline QString PdfText(const QString& path) {
  QProcess p;
  p.start("pdftotext", {"-enc", "UTF-8", path, "-"});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) return {};
  QString text = QString::fromUtf8(p.readAllStandardOutput());
  // Typographic ligatures back to letters, line breaks and hyphenation to blanks.
  text.replace(QChar(0xFB00), "ff").replace(QChar(0xFB01), "fi").replace(QChar(0xFB02), "fl");
  text.replace(QChar(0xFB03), "ffi").replace(QChar(0xFB04), "ffl");
  text.replace(QRegularExpression("\\s+"), " ");
  return text;
}
