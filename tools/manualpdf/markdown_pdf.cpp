#include "markdown_pdf.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextImageFormat>
#include <QTextTable>

namespace {

// Pictures are named relative to the Markdown file, not to the current
// directory of whoever runs the build.
class ManualDocument : public QTextDocument {
 public:
  explicit ManualDocument(const QDir& base) : m_base(base) {}
  QStringList missing;

 protected:
  QVariant loadResource(int type, const QUrl& name) override {
    if (type != QTextDocument::ImageResource) return QTextDocument::loadResource(type, name);
    const QString path =
        name.isLocalFile() ? name.toLocalFile() : m_base.absoluteFilePath(name.toString(QUrl::RemoveQuery));
    QImage image(path);
    if (image.isNull()) {
      if (!missing.contains(name.toString())) missing << name.toString();
      // A 1x1 white pixel keeps the layout calm where a screenshot is not made yet.
      image = QImage(1, 1, QImage::Format_RGB32);
      image.fill(Qt::white);
    }
    return image;
  }

 private:
  QDir m_base;
};

// Image widths are given in 96 dpi pixels and scaled to the device by Qt.
void FitImages(QTextDocument& doc, qreal maxWidth96) {
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.charFormat().isImageFormat()) continue;
      QTextImageFormat format = fragment.charFormat().toImageFormat();
      const QImage image = doc.resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>();
      if (image.isNull() || image.width() <= 1) {
        // Missing picture: take no room at all.
        format.setWidth(1);
        format.setHeight(1);
      } else if (image.width() > maxWidth96) {
        format.setWidth(maxWidth96);
        format.setHeight(maxWidth96 * image.height() / image.width());
      } else {
        continue;
      }
      QTextCursor cursor(&doc);
      cursor.setPosition(fragment.position());
      cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
      cursor.setCharFormat(format);
    }
  }
}

// Every top-level chapter starts on a new page.
void BreakBeforeChapters(QTextDocument& doc) {
  bool first = true;
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    if (block.blockFormat().headingLevel() != 1) continue;
    if (first) {
      first = false;
      continue;
    }
    QTextCursor cursor(block);
    QTextBlockFormat format = block.blockFormat();
    format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    cursor.setBlockFormat(format);
  }
}

// Breathing room around headings, shaded code blocks and ruled tables. Like
// image sizes, these lengths are 96 dpi pixels that the layout scales.
bool IsCode(const QTextBlock& block) {
  const QTextBlockFormat format = block.blockFormat();
  return block.isValid() &&
         (format.hasProperty(QTextFormat::BlockCodeLanguage) || format.nonBreakableLines());
}

void Style(QTextDocument& doc) {
  constexpr qreal pt = 96.0 / 72.0;
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    QTextBlockFormat format = block.blockFormat();
    const int level = format.headingLevel();
    if (level > 0) {
      format.setTopMargin(level == 1 ? 0 : 10 * pt);
      format.setBottomMargin(4 * pt);
    } else if (IsCode(block)) {
      // Each line of a code block is a block of its own: one shaded run.
      format.setBackground(QColor(0xf0, 0xf0, 0xf0));
      format.setLeftMargin(8 * pt);
      format.setTopMargin(IsCode(block.previous()) ? 0 : 2 * pt);
      format.setBottomMargin(IsCode(block.next()) ? 0 : 6 * pt);
    } else {
      continue;
    }
    QTextCursor(block).setBlockFormat(format);
  }
  for (QTextFrame* frame : doc.rootFrame()->childFrames()) {
    auto* table = qobject_cast<QTextTable*>(frame);
    if (!table) continue;
    QTextTableFormat format = table->format();
    format.setBorderCollapse(true);
    format.setBorder(0.5 * pt);
    format.setBorderBrush(QColor(0x90, 0x90, 0x90));
    format.setCellPadding(2.5 * pt);
    format.setCellSpacing(0);
    format.setTopMargin(2 * pt);
    format.setBottomMargin(6 * pt);
    format.setHeaderRowCount(1);
    table->setFormat(format);
    for (int column = 0; column < table->columns(); ++column) {
      QTextTableCell cell = table->cellAt(0, column);
      QTextCharFormat head = cell.format();
      head.setBackground(QColor(0xe4, 0xec, 0xf4));
      cell.setFormat(head);
    }
  }
}

}  // namespace

MarkdownPdfResult WriteMarkdownPdf(const QString& markdownPath, const QString& pdfPath,
                                   const MarkdownPdfOptions& options) {
  MarkdownPdfResult result;
  QFile in(markdownPath);
  if (!in.open(QIODevice::ReadOnly)) {
    result.error = QStringLiteral("cannot read %1: %2").arg(markdownPath, in.errorString());
    return result;
  }
  const QString markdown = QString::fromUtf8(in.readAll());

  QPdfWriter writer(pdfPath);
  writer.setResolution(options.resolution);
  writer.setTitle(options.title);
  writer.setCreator(QStringLiteral("VelRpt manualpdf"));
  writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 18, 20, 18),
                                   QPageLayout::Millimeter));
  QPainter painter;
  if (!painter.begin(&writer)) {
    result.error = QStringLiteral("cannot write %1").arg(pdfPath);
    return result;
  }

  const QRect paint = writer.pageLayout().paintRectPixels(writer.resolution());
  const qreal footer = writer.resolution() * 0.35;  // room for the page number line
  const QSizeF body(paint.width(), paint.height() - footer);

  // Every change to the text comes before the layout meets the PDF device:
  // formats changed after a paged layout leave blocks that are never drawn.
  ManualDocument doc(QFileInfo(markdownPath).absoluteDir());
  QFont font(QStringLiteral("DejaVu Sans"), 10);
  doc.setDefaultFont(font);
  doc.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
  // The frame margin would add to the page margins.
  QTextFrameFormat root = doc.rootFrame()->frameFormat();
  root.setMargin(0);
  doc.rootFrame()->setFrameFormat(root);
  Style(doc);
  FitImages(doc, body.width() * 96.0 / writer.resolution());
  BreakBeforeChapters(doc);
  result.missingImages = doc.missing;

  doc.documentLayout()->setPaintDevice(&writer);
  doc.setPageSize(body);

  const int pages = doc.pageCount();
  QFont footerFont(font);
  footerFont.setPointSizeF(8);
  for (int page = 0; page < pages; ++page) {
    if (page > 0) writer.newPage();
    painter.save();
    painter.translate(0, -page * body.height());
    doc.drawContents(&painter, QRectF(QPointF(0, page * body.height()), body));
    painter.restore();

    painter.setFont(footerFont);
    const QRectF footerRect(0, paint.height() - footer * 0.8, paint.width(), footer * 0.8);
    painter.drawText(footerRect, Qt::AlignLeft | Qt::AlignBottom, options.title);
    painter.drawText(footerRect, Qt::AlignRight | Qt::AlignBottom,
                     QStringLiteral("Page %1 of %2").arg(page + 1).arg(pages));
  }
  if (!painter.end()) {
    result.error = QStringLiteral("cannot finish %1").arg(pdfPath);
    return result;
  }
  result.ok = true;
  result.pages = pages;
  return result;
}
