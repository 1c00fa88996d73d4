#pragma once
// Every dialog and message box the program shows goes through Prompts. The
// windows get the Qt version (QMessageBox, QFileDialog); tests install a
// scripted one, so no test ever blocks on a modal dialog.

#include <optional>
#include <stdexcept>
#include <string>

class Prompts {
 public:
  enum class Icon { None, Information, Warning, Error };

  struct FileDialog {
    std::string title;         // "Save log data"
    std::string proposedName;  // "meters.csv"
    std::string filter;        // "TXT|*.txt|CSV|*.csv": pairs of name and pattern
    std::string defaultExt;    // "csv", added when the chosen name has none
    std::string folder;        // starting folder; empty: the dialog's own choice
  };

  // Raised when a dialog cannot be shown at all.
  class DialogError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  virtual ~Prompts() = default;
  // Yes/No question; true only for Yes.
  virtual bool Confirm(const std::string& caption, const std::string& text, Icon icon) = 0;
  // A message with an OK button.
  virtual void Message(const std::string& caption, const std::string& text, Icon icon) = 0;
  // The chosen file name, or nothing when the operator cancelled.
  virtual std::optional<std::string> SaveFile(const FileDialog& dialog) = 0;
  virtual std::optional<std::string> OpenFile(const FileDialog& dialog) = 0;
};
