#include "grid_files.h"

#include "text_files.h"

namespace {
const char kSaveTitle[] = "Save log data";
const char kSaveFilter[] = "TXT|*.txt|CSV|*.csv";
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

// Fields of one line; the text after the last separator is dropped.
std::vector<std::string> SplitFields(const std::string& line, const std::string& separator) {
  std::vector<std::string> fields;
  std::string current;
  for (char c : line) {
    if (IsSeparator(c, separator)) {
      fields.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  return fields;
}
}  // namespace

std::string GridFileText(const StringGrid& grid, const SeparatorSource& separator) {
  std::string text;
  for (int row = 1; row < grid.RowCount(); ++row) {
    for (int col = 0; col < grid.ColCount(); ++col) {
      text += grid.Cell(col, row);
      text += separator();
    }
    text += "\r\n";
  }
  return text;
}

void ExportGrid(const StringGrid& grid, const std::string& proposedName, const SeparatorSource& separator,
                Prompts& prompts, ErrorLogs& logs) {
  std::optional<std::string> fileName;
  try {
    fileName = prompts.SaveFile({kSaveTitle, proposedName, kSaveFilter, kDefaultExt, logs.DataFolder()});
  } catch (const Prompts::DialogError& e) {
    prompts.Message(kSaveErrorCaption, kCannotShowSave, Prompts::Icon::Error);
    logs.WriteDetailedLog(e.what());
    return;
  }
  if (!fileName || fileName->empty()) return;

  std::string error;
  if (!ReplaceFile(*fileName, GridFileText(grid, separator), error)) {
    prompts.Message(kSaveErrorCaption, kCannotWrite, Prompts::Icon::Error);
    logs.WriteErrorLog(ErrorLogs::kExportWriteFailed);
    logs.WriteDetailedLog(error);
  }
}

std::vector<std::string> SplitFileLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  const size_t size = content.size();
  while (start < size) {
    size_t end = start;
    while (end < size && content[end] != '\r' && content[end] != '\n') ++end;
    lines.push_back(content.substr(start, std::min(end - start, kMaxImportLineLength)));
    if (end + 1 < size && content[end] == '\r' && content[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

bool ImportGrid(const std::string& fileName, const std::string& separator, StringGrid& grid, Prompts& prompts,
                ErrorLogs& logs) {
  std::string content, error;
  if (!ReadWholeFile(fileName, content, error)) {
    prompts.Message(kFileErrorCaption, kWrongImportFile, Prompts::Icon::Warning);
    logs.WriteErrorLog(ErrorLogs::kImportReadFailed);
    logs.WriteDetailedLog(error);
    return false;
  }
  const std::vector<std::string> lines = SplitFileLines(content);
  if (lines.empty()) return false;

  std::vector<std::vector<std::string>> rows;
  rows.reserve(lines.size());
  for (const std::string& line : lines) {
    rows.push_back(SplitFields(line, separator));
    if (rows.back().size() > static_cast<size_t>(kMaxImportSeparators)) {
      prompts.Message("VelRpt", kTooManyData, Prompts::Icon::None);
      return false;
    }
  }

  grid.BeginBulkChange();
  ClearGrid(grid);
  for (size_t i = 0; i < rows.size(); ++i) {
    const int row = grid.RowCount() - 1;
    grid.SetCell(0, row, std::to_string(i + 1));
    for (size_t k = 0; k < rows[i].size(); ++k) grid.SetCell(static_cast<int>(k), row, std::move(rows[i][k]));
    grid.SetRowCount(grid.RowCount() + 1);
  }
  grid.EndBulkChange();
  return true;
}

ImportResult ImportGridFromDialog(const std::string& separator, StringGrid& grid, Prompts& prompts,
                                  ErrorLogs& logs) {
  std::optional<std::string> fileName;
  try {
    fileName = prompts.OpenFile({kOpenTitle, {}, kOpenFilter, kDefaultExt, logs.DataFolder()});
  } catch (const Prompts::DialogError& e) {
    logs.WriteDetailedLog(e.what());
    return ImportResult::Cancelled;
  }
  if (!fileName || fileName->empty()) return ImportResult::Cancelled;
  return ImportGrid(*fileName, separator, grid, prompts, logs) ? ImportResult::Imported
                                                               : ImportResult::Failed;
}
