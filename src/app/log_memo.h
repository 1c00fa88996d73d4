#pragma once
// Memo_log, the log window: a LogView that starts with one empty line, as
// the operators' saved logs always have.

#include "log_view.h"

class LogMemo : public LogView {
  Q_OBJECT

 public:
  explicit LogMemo(QWidget* parent = nullptr) : LogView(parent) {
    LogView::AppendLine(std::string_view());
    Flush();
  }
};
