#include "log_memo.h"

#include <QMetaObject>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

LogMemo::LogMemo(QWidget* parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setUndoRedoEnabled(false);  // an undo stack of a day's log costs more than the log
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void LogMemo::AppendLine(std::string_view line) {
  AppendLine(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
}

void LogMemo::AppendLine(const QString& line) {
  m_pending.append(line);
  if (m_flushQueued) return;
  m_flushQueued = true;
  QMetaObject::invokeMethod(this, &LogMemo::Flush, Qt::QueuedConnection);
}

void LogMemo::Flush() {
  m_flushQueued = false;
  if (m_pending.isEmpty()) return;
  QScrollBar* bar = verticalScrollBar();
  const bool atBottom = bar->value() == bar->maximum();
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  for (const QString& line : m_pending) {
    cursor.insertBlock();
    cursor.insertText(line);
  }
  cursor.endEditBlock();
  m_pending.clear();
  // Follow the new lines unless the operator scrolled up to read.
  if (atBottom) bar->setValue(bar->maximum());
}

void LogMemo::Clear() {
  m_pending.clear();
  clear();
}

QStringList LogMemo::Lines() {
  Flush();
  QStringList lines;
  lines.reserve(document()->blockCount());
  for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) lines.append(b.text());
  return lines;
}
