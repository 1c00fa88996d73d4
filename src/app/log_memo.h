#pragma once
// Memo_log, the log window: a LogView that starts with one empty line (so
// a saved log begins with one) and saves itself to a file ("Save log file").

#include "log_view.h"

struct TableFileEnv;

class LogMemo : public LogView {
  Q_OBJECT

 public:
  explicit LogMemo(QWidget* parent = nullptr) : LogView(parent) {
    LogView::AppendLine(std::string_view());
    Flush();
  }

  // Asks for a file name and writes every line, CR LF after each; then a
  // line says what was written. Failures are shown through the prompts and
  // recorded in the error logs.
  void SaveToFile(const TableFileEnv& env);
};

// The log window as the main window shows it: named, in a fixed-pitch font.
LogMemo* MakeLogWindow(QWidget* parent);
