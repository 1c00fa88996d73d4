#pragma once
// Prompts shown with QMessageBox and QFileDialog, owned by the active window.

#include <QString>
#include <string>

#include "prompts.h"

class QWidget;

class QtPrompts : public Prompts {
 public:
  // `owner` parents the dialogs; without one the active window does.
  explicit QtPrompts(QWidget* owner = nullptr) : m_owner(owner) {}

  bool Confirm(const std::string& caption, const std::string& text, Icon icon) override;
  void Message(const std::string& caption, const std::string& text, Icon icon) override;
  std::optional<std::string> SaveFile(const FileDialog& dialog) override;
  std::optional<std::string> OpenFile(const FileDialog& dialog) override;

 private:
  QWidget* Owner() const;
  std::optional<std::string> RunFileDialog(const FileDialog& dialog, bool save);

  QWidget* m_owner;
};

// "TXT|*.txt|CSV|*.csv" -> "TXT (*.txt);;CSV (*.csv)". A trailing name
// without a pattern is dropped.
QString QtFileFilter(const std::string& filter);

// Adds "." + `ext` when the file part of `name` has no extension.
std::string WithDefaultExt(const std::string& name, const std::string& ext);

// A dialog about to be shown while a stay-on-top window (settings, about)
// is open stays on top too, so it never opens hidden behind that window.
void KeepAboveStayOnTopWindows(QWidget& dialog);
