#pragma once
// Turns a Markdown file into an A4 PDF with page numbers, on Qt alone, so the
// user manual needs no document tool on the build machine.

#include <QString>
#include <QStringList>

struct MarkdownPdfOptions {
  QString title;  // document title and page footer
  int resolution = 300;
};

struct MarkdownPdfResult {
  bool ok = false;
  QString error;              // why it failed, when !ok
  int pages = 0;              // pages written
  QStringList missingImages;  // referenced pictures not found (left out)
};

// Reads markdownPath, resolves pictures relative to its folder and writes
// pdfPath. Pictures wider than the text are scaled down to its width.
MarkdownPdfResult WriteMarkdownPdf(const QString& markdownPath, const QString& pdfPath,
                                   const MarkdownPdfOptions& options);
