#include "grid_files.h"

#include <algorithm>
#include <iterator>

#include "escape_text.h"
#include "text_files.h"

namespace {
const char kSaveTitle[] = "Save log data";
// A table is a CSV file: CSV comes first.
const char kSaveFilter[] = "CSV|*.csv|TXT|*.txt";
const char kOpenTitle[] = "Choose file for import";
const char kOpenFilter[] = "CSV|*.csv|TXT|*.txt";
const char kDefaultExt[] = "csv";

const char kSaveErrorCaption[] = "Error saving file";
const char kCannotShowSave[] = "File cannot be written or open!\nContact administrator.";
const char kCannotWrite[] = "File cannot be written, no rights!\nContact administrator.";
const char kFileErrorCaption[] = "File Error";
const char kWrongImportFile[] = "You chose wrong file for import!\nContact administrator!";
const char kTooManyData[] = "You are trying to import too many data!!!\nCorrect csv file and try again!";

// A separator text matches a character only when it is that one character.
bool IsSeparator(char c, const std::string& separator) { return separator.size() == 1 && separator[0] == c; }

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// A cell the verbatim form would cut: it holds the separator or a line break.
bool NeedsQuotes(std::string_view cell, const std::string& separator) {
  for (char c : cell)
    if (IsLineBreak(c) || IsSeparator(c, separator)) return true;
  return false;
}

void AppendQuoted(std::string& out, std::string_view cell) {
  out += '"';
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// The quoted cell starting at `at` (its opening quote) and ending before
// `limit`: its text, with `end` at the separator behind it. Nothing when
// the field is not one the writer quotes (see grid_files.h).
std::optional<std::string> QuotedCell(std::string_view content, size_t at, size_t limit, char separator,
                                      size_t& end) {
  std::string text;
  bool cut = false;
  for (size_t i = at + 1; i + 1 < limit; ++i) {
    const char c = content[i];
    if (c != '"') {
      cut = cut || c == separator || IsLineBreak(c);
      text += c;
      continue;
    }
    if (content[i + 1] == '"') {
      text += '"';
      ++i;
      continue;
    }
    if (content[i + 1] != separator || !cut) return std::nullopt;
    end = i + 1;
    return text;
  }
  return std::nullopt;
}

// One line of the file from `pos`, split into fields (the text after the
// last separator dropped); `pos` moves behind its line break.
void ReadRecord(std::string_view content, size_t& pos, const std::string& separator,
                std::vector<std::string>& fields) {
  fields.clear();
  const bool splits = separator.size() == 1;
  const size_t size = content.size();
  const size_t limit = std::min(size, pos + kMaxImportLineLength);
  std::string current;
  bool fieldStart = true;
  size_t i = pos;
  while (i < size && !IsLineBreak(content[i])) {
    if (i >= limit) {  // the rest of an over-long line is cut
      ++i;
      continue;
    }
    const char c = content[i];
    size_t end = 0;
    if (splits && fieldStart && c == '"') {
      if (std::optional<std::string> cell = QuotedCell(content, i, limit, separator[0], end)) {
        fields.push_back(std::move(*cell));
        i = end + 1;
        continue;
      }
    }
    fieldStart = false;
    if (IsSeparator(c, separator)) {
      fields.push_back(std::move(current));
      current.clear();
      fieldStart = true;
    } else {
      current += c;
    }
    ++i;
  }
  if (i + 1 < size && content[i] == '\r' && content[i + 1] == '\n') ++i;
  pos = i + 1;
}

// Text, not a binary file: no NUL byte, and control characters other than
// tab, line breaks, form feed and escape in at most one byte of 100.
bool LooksLikeText(std::string_view content) {
  size_t controls = 0;
  for (unsigned char c : content) {
    if (c == 0) return false;
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1B) || c == 0x7F) ++controls;
  }
  return controls <= content.size() / 100;
}
}  // namespace

std::string GridFileText(const StringGrid& grid, const SeparatorSource& separator) {
  std::string text;
  for (int row = 1; row < grid.RowCount(); ++row) {
    for (int col = 0; col < grid.ColCount(); ++col) {
      const std::string sep = separator();
      const std::string& cell = grid.Cell(col, row);
      if (NeedsQuotes(cell, sep))
        AppendQuoted(text, cell);
      else
        text += cell;
      text += sep;
    }
    text += "\r\n";
  }
  return text;
}

std::optional<ExportedFile> ExportGrid(const StringGrid& grid, const std::string& proposedName,
                                       const SeparatorSource& separator, Prompts& prompts, ErrorLogs& logs,
                                       const ExportDialog& dialog) {
  std::optional<std::string> fileName;
  try {
    fileName = prompts.SaveFile({dialog.title.empty() ? kSaveTitle : dialog.title, proposedName, kSaveFilter,
                                 kDefaultExt, dialog.folder.empty() ? logs.DataFolder() : dialog.folder});
  } catch (const Prompts::DialogError& e) {
    prompts.Message(kSaveErrorCaption, kCannotShowSave, Prompts::Icon::Error);
    logs.WriteDetailedLog(e.what());
    return std::nullopt;
  }
  if (!fileName || fileName->empty()) return std::nullopt;

  std::string error;
  if (!ReplaceFile(*fileName, GridFileText(grid, separator), error)) {
    prompts.Message(kSaveErrorCaption, kCannotWrite, Prompts::Icon::Error);
    logs.WriteErrorLog(ErrorLogs::kExportWriteFailed);
    logs.WriteDetailedLog(error);
    return std::nullopt;
  }
  return ExportedFile{*fileName, grid.RowCount() - 1};
}

GridImport::GridImport(std::string separator, Prompts& prompts, ErrorLogs& logs)
    : m_separator(std::move(separator)), m_prompts(prompts), m_logs(logs) {}

GridImport::State GridImport::Fail(std::string reason) {
  m_reason = std::move(reason);
  m_content = std::string();
  m_rows = {};
  return m_state = State::Failed;
}

GridImport::State GridImport::Open(const std::string& fileName) {
  m_fileName = fileName;
  m_pos = 0;
  m_rows.clear();
  std::string error;
  if (!ReadWholeFile(fileName, m_content, error)) {
    m_prompts.Message(kFileErrorCaption, kWrongImportFile, Prompts::Icon::Warning);
    m_logs.WriteErrorLog(ErrorLogs::kImportReadFailed);
    m_logs.WriteDetailedLog(error);
    return Fail(error);
  }
  if (!LooksLikeText(m_content)) {
    error = "Cannot import file " + EscapeControls(fileName) + ": not a text file";
    m_prompts.Message(kFileErrorCaption, kWrongImportFile, Prompts::Icon::Warning);
    m_logs.WriteErrorLog(ErrorLogs::kImportReadFailed);
    m_logs.WriteDetailedLog(error);
    return Fail(error);
  }
  if (m_content.empty()) return Fail("Cannot import file " + EscapeControls(fileName) + ": it is empty");
  // About one row per 150 bytes in an exported table.
  m_rows.reserve(m_content.size() / 150 + 1);
  return m_state = State::Parsing;
}

GridImport::State GridImport::Parse(size_t bytes) {
  if (m_state != State::Parsing) return m_state;
  const size_t until = m_pos + std::max<size_t>(bytes, 1);
  std::vector<std::string> fields;
  while (m_pos < m_content.size() && m_pos < until) {
    ReadRecord(m_content, m_pos, m_separator, fields);
    if (fields.size() > static_cast<size_t>(kMaxImportSeparators)) {
      const size_t line = m_rows.size() + 1;
      m_prompts.Message("VelRpt", kTooManyData, Prompts::Icon::None);
      return Fail("Cannot import file " + EscapeControls(m_fileName) + ": line " + std::to_string(line) +
                  " has more than " + std::to_string(kMaxImportSeparators) + " separators");
    }
    m_rows.emplace_back(std::make_move_iterator(fields.begin()), std::make_move_iterator(fields.end()));
  }
  if (m_pos >= m_content.size()) {
    m_content = std::string();
    m_state = State::Parsed;
  }
  return m_state;
}

double GridImport::Progress() const {
  if (m_state != State::Parsing) return 1.0;
  return m_content.empty() ? 0.0 : static_cast<double>(m_pos) / static_cast<double>(m_content.size());
}

void GridImport::Apply(StringGrid& grid) {
  if (m_state != State::Parsed) return;
  grid.BeginBulkChange();
  ClearGrid(grid);
  grid.SetRowCount(static_cast<int>(m_rows.size()) + 2);
  for (size_t i = 0; i < m_rows.size(); ++i) {
    const int row = static_cast<int>(i) + 1;
    grid.SetCell(0, row, std::to_string(i + 1));
    std::vector<std::string>& fields = m_rows[i];
    for (size_t k = 0; k < fields.size(); ++k) grid.SetCell(static_cast<int>(k), row, std::move(fields[k]));
    fields = {};
  }
  grid.EndBulkChange();
  m_rows = {};
}

bool ImportGrid(const std::string& fileName, const std::string& separator, StringGrid& grid, Prompts& prompts,
                ErrorLogs& logs, std::string* reason) {
  GridImport import(separator, prompts, logs);
  GridImport::State state = import.Open(fileName);
  while (state == GridImport::State::Parsing) state = import.Parse(size_t{1} << 20);
  if (reason) *reason = import.Reason();
  if (state != GridImport::State::Parsed) return false;
  import.Apply(grid);
  return true;
}

std::optional<std::string> ChooseImportFile(Prompts& prompts, ErrorLogs& logs, const std::string& folder) {
  std::optional<std::string> fileName;
  try {
    fileName = prompts.OpenFile(
        {kOpenTitle, {}, kOpenFilter, kDefaultExt, folder.empty() ? logs.DataFolder() : folder});
  } catch (const Prompts::DialogError& e) {
    logs.WriteDetailedLog(e.what());
    return std::nullopt;
  }
  if (!fileName || fileName->empty()) return std::nullopt;
  return fileName;
}

ImportResult ImportGridFromDialog(const std::string& separator, StringGrid& grid, Prompts& prompts,
                                  ErrorLogs& logs) {
  const std::optional<std::string> fileName = ChooseImportFile(prompts, logs);
  if (!fileName) return ImportResult::Cancelled;
  return ImportGrid(*fileName, separator, grid, prompts, logs) ? ImportResult::Imported : ImportResult::Failed;
}
