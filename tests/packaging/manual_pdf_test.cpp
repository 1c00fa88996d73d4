// The manual tool: A4 pages, pictures found beside the Markdown file and
// fitted to the page, missing pictures named, unreadable input refused.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "markdown_pdf.h"
#include "pdf_facts.h"
#include "pdf_text.h"

namespace {

void WriteText(const QString& path, const QString& text) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text.toUtf8());
}

TEST(ManualPdf, LongManualWithPicturesAndTable) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkpath("docs/screenshots"));
  // Wider than the text column: it has to be scaled down, not cut off.
  QImage shot(2400, 900, QImage::Format_RGB32);
  shot.fill(Qt::darkBlue);
  ASSERT_TRUE(shot.save(dir.filePath("docs/screenshots/main.png")));

  QString md =
      "# VelRpt\n\n![Main window](screenshots/main.png)\n\n"
      "![Not made yet](screenshots/settings.png)\n\n"
      "| Key | Default |\n|---|---|\n| Speed | 19200 |\n| Parity | None |\n\n";
  for (int chapter = 1; chapter <= 3; ++chapter) {
    md += QStringLiteral("# Chapter %1\n\n").arg(chapter);
    for (int i = 0; i < 40; ++i)
      md += QStringLiteral("Paragraph %1 of chapter %2, long enough to wrap. ")
                .arg(i)
                .arg(chapter)
                .repeated(3) +
            "\n\n";
  }
  WriteText(dir.filePath("docs/manual.md"), md);

  const QString pdf = dir.filePath("out/UsrManEn.pdf");
  ASSERT_TRUE(QDir(dir.path()).mkpath("out"));
  // Run from another folder: pictures are named relative to the manual.
  ASSERT_TRUE(QDir::setCurrent(QDir::tempPath()));
  const MarkdownPdfResult result = WriteMarkdownPdf(dir.filePath("docs/manual.md"), pdf, {"Manual", 300});
  ASSERT_TRUE(result.ok) << result.error.toStdString();
  EXPECT_EQ(result.missingImages, QStringList{"screenshots/settings.png"});

  const PdfFacts facts = ReadPdfFacts(pdf);
  EXPECT_TRUE(facts.isPdf);
  EXPECT_EQ(facts.pages, result.pages);
  // Each of the three chapters starts a page of its own, and 120 long paragraphs need more.
  EXPECT_GE(result.pages, 4);
  EXPECT_EQ(facts.a4Pages, facts.pages);
  EXPECT_GE(facts.images, 1);

  // Every paragraph made it onto a page, in order.
  const QString text = PdfText(pdf);
  qsizetype at = 0;
  for (int chapter = 1; chapter <= 3; ++chapter) {
    for (int i = 0; i < 40; ++i) {
      const QString words = QStringLiteral("Paragraph %1 of chapter %2,").arg(i).arg(chapter);
      const qsizetype found = text.indexOf(words, at);
      EXPECT_GE(found, 0) << words.toStdString();
      if (found >= 0) at = found;
    }
  }
  EXPECT_TRUE(text.contains("Parity None")) << "table cells";
}

TEST(ManualPdf, UnreadableManualWritesNothing) {
  QTemporaryDir dir;
  const QString pdf = dir.filePath("UsrManEn.pdf");
  const MarkdownPdfResult result = WriteMarkdownPdf(dir.filePath("missing.md"), pdf, {"Manual", 300});
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.error.contains("missing.md")) << result.error.toStdString();
  EXPECT_FALSE(QFile::exists(pdf));
}

// The manual the build made from docs/manual.md, and its copy beside the program.
TEST(ManualPdf, BuiltUserManual) {
  const PdfFacts facts = ReadPdfFacts(VELRPT_MANUAL_PDF);
  EXPECT_TRUE(facts.isPdf);
  EXPECT_GE(facts.pages, 5);
  EXPECT_EQ(facts.a4Pages, facts.pages);

  // Each heading and the first words of each plain paragraph are in the PDF.
  QFile source(QDir(VELRPT_SOURCE_DIR).filePath("docs/manual.md"));
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  const QString text = PdfText(VELRPT_MANUAL_PDF);
  ASSERT_FALSE(text.isEmpty());
  int checked = 0;
  for (const QString& block : QString::fromUtf8(source.readAll()).split(QRegularExpression("\\n\\s*\\n"))) {
    QString first = block.trimmed();
    if (first.startsWith('#')) {
      first = first.section('\n', 0, 0).remove(QRegularExpression("^#+\\s*"));
    } else if (first.isEmpty() || !first.at(0).isLetter()) {
      continue;  // tables, lists, code and pictures
    } else {
      first = first.simplified().section(' ', 0, 3);
    }
    if (first.contains(QRegularExpression("[`*\\[\\]\"]"))) continue;
    EXPECT_TRUE(text.contains(first)) << first.toStdString();
    ++checked;
  }
  EXPECT_GE(checked, 50);
#ifdef VELRPT_GUI_DIR
  QFile built(VELRPT_MANUAL_PDF), copy(QDir(VELRPT_GUI_DIR).filePath("UsrManEn.pdf"));
  ASSERT_TRUE(built.open(QIODevice::ReadOnly));
  ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
  EXPECT_TRUE(built.readAll() == copy.readAll());
#endif
}

}  // namespace
