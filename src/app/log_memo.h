#pragma once
// The log window. A busy air interface produces many lines per second and a
// session can run for days, so lines are queued and handed to the text
// widget in one block per turn of the event loop; every line still appears,
// in order.

#include <QPlainTextEdit>
#include <QStringList>
#include <string_view>

#include "log_sink.h"

class LogMemo : public QPlainTextEdit, public LogSink {
  Q_OBJECT

 public:
  explicit LogMemo(QWidget* parent = nullptr);

  void AppendLine(std::string_view line) override;
  void AppendLine(const QString& line);
  // Hands the queued lines to the widget now.
  void Flush();
  // Empties the window and drops queued lines (File / "Clear log").
  void Clear();
  // Every line, queued ones included; the first is the empty start line.
  QStringList Lines();
  int PendingCount() const { return static_cast<int>(m_pending.size()); }

 private:
  QStringList m_pending;
  bool m_flushQueued = false;
};
