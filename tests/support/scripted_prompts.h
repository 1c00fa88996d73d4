#pragma once
// Prompts for tests: answers come from a script, and every prompt shown is
// recorded so a test can check caption, text, icon and dialog settings.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "prompts.h"

class ScriptedPrompts : public Prompts {
 public:
  struct Shown {
    std::string kind;  // "confirm", "message", "save", "open"
    std::string caption;
    std::string text;
    Icon icon = Icon::None;
    FileDialog dialog;
  };

  std::vector<Shown> shown;
  std::deque<bool> confirmAnswers;                    // default: No
  std::deque<std::optional<std::string>> fileAnswers;  // default: cancelled
  bool failDialogs = false;                           // file dialogs cannot be shown

  bool Confirm(const std::string& caption, const std::string& text, Icon icon) override {
    shown.push_back({"confirm", caption, text, icon, {}});
    if (confirmAnswers.empty()) return false;
    const bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
  }
  void Message(const std::string& caption, const std::string& text, Icon icon) override {
    shown.push_back({"message", caption, text, icon, {}});
  }
  std::optional<std::string> SaveFile(const FileDialog& dialog) override { return File("save", dialog); }
  std::optional<std::string> OpenFile(const FileDialog& dialog) override { return File("open", dialog); }

 private:
  std::optional<std::string> File(const char* kind, const FileDialog& dialog) {
    shown.push_back({kind, dialog.title, {}, Icon::None, dialog});
    if (failDialogs) throw DialogError("The dialog could not be shown");
    if (fileAnswers.empty()) return std::nullopt;
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }
};
