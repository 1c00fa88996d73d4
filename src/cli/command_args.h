#pragma once
// What `frame`, `send` and the window's buttons share on the command line:
// KIND and ARGS standing for one Set button and the controls it reads.

#include <optional>
#include <string>
#include <vector>

#include "command_frame.h"
#include "prompts.h"

// The kinds and their arguments, for the help texts.
extern const char* const kCommandKindsHelp;

// Takes KIND and its ARGS (each the text of a control as typed) from
// `positional` into `kind` and `controls`. An error text on bad input.
std::string ParseCommandKind(const std::vector<std::string>& positional, CommandKind& kind,
                             CommandControls& controls);

// The command line shows no dialog; should one come, its text goes to
// standard error.
class StderrPrompts : public Prompts {
 public:
  bool Confirm(const std::string& caption, const std::string& text, Icon icon) override;
  void Message(const std::string& caption, const std::string& text, Icon icon) override;
  std::optional<std::string> SaveFile(const FileDialog&) override { return std::nullopt; }
  std::optional<std::string> OpenFile(const FileDialog&) override { return std::nullopt; }
};
