#pragma once
// Delimited text files of grid rows. One line per data row (the title row is
// not written); every cell is followed by the separator, so a line always
// ends with one; lines end with CR LF. Cell texts go out verbatim, except a
// cell holding the separator or a line break, which would cut its field or
// line: it is written between double quotes, each double quote in it
// doubled. The reader takes a field that starts with a double quote as such
// a quoted cell only when its closing quote stands right before a separator
// and its text holds the separator or a line break, so a file whose cells
// hold neither reads back exactly as written, quotes in its cells included.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error_log.h"
#include "prompts.h"
#include "string_grid.h"

// Limits of the reader.
inline constexpr int kMaxImportSeparators = 12;
inline constexpr size_t kMaxImportLineLength = 4096;

// The separator as the settings window shows it right now; asked again for
// every cell, as the operator may have changed it.
using SeparatorSource = std::function<std::string()>;

// Where an export's save dialog starts and what it is titled; empty: the
// data folder, "Save log data".
struct ExportDialog {
  std::string folder;
  std::string title;
};

// A file that ExportGrid wrote.
struct ExportedFile {
  std::string path;
  int rows = 0;
};

// Asks for a file name (proposing `proposedName`) and writes the grid's data
// rows. Failures are shown through `prompts` and recorded in `logs`. The file
// written, or nothing when cancelled or failed.
std::optional<ExportedFile> ExportGrid(const StringGrid& grid, const std::string& proposedName,
                                       const SeparatorSource& separator, Prompts& prompts, ErrorLogs& logs,
                                       const ExportDialog& dialog = {});

// The grid's data rows in the file format (what ExportGrid writes).
std::string GridFileText(const StringGrid& grid, const SeparatorSource& separator);

// Lines end with CR, LF or CR LF (except inside a quoted cell); a line is
// cut after 4096 characters.
// An import in steps, so that a window can show its progress and go on
// serving events between them. Open reads and checks the file, Parse reads
// its lines a piece at a time, Apply puts them into the grid: line n becomes
// a data row whose column 0 is n, then field k goes to column k - 1; one
// empty row stays at the end. Nothing touches the grid before Apply, so a
// file that fails leaves it as it was. Failures are shown through `prompts`
// and recorded in `logs`; Reason() says why in one line.
class GridImport {
 public:
  enum class State { Parsing, Parsed, Failed };

  GridImport(std::string separator, Prompts& prompts, ErrorLogs& logs);

  // Refuses a file that cannot be read, is larger than 16 MiB, is not text
  // (it holds NUL bytes or mostly control characters) or is empty.
  State Open(const std::string& fileName);
  // Reads lines for at least `bytes` bytes of the file; Failed when a line
  // has more than 12 separators.
  State Parse(size_t bytes);
  // Done, between 0 and 1.
  double Progress() const;
  int Lines() const { return static_cast<int>(m_rows.size()); }
  // The parsed rows into `grid`, after ClearGrid; the import's memory goes.
  void Apply(StringGrid& grid);
  State GetState() const { return m_state; }
  const std::string& Reason() const { return m_reason; }

 private:
  State Fail(std::string reason);

  std::string m_separator;
  Prompts& m_prompts;
  ErrorLogs& m_logs;
  std::string m_fileName;
  std::string m_content;
  size_t m_pos = 0;
  std::vector<std::vector<std::string>> m_rows;
  State m_state = State::Failed;
  std::string m_reason;
};

// Reads `fileName` into `grid` at once, as GridImport does in steps. False
// when the file is refused (the caller logs "Error importing from selected
// file..."); `reason` (optional) says why.
bool ImportGrid(const std::string& fileName, const std::string& separator, StringGrid& grid, Prompts& prompts,
                ErrorLogs& logs, std::string* reason = nullptr);

// "Import from file"'s open dialog, starting in `folder` (empty: the data
// folder). The chosen name, or nothing when cancelled; a dialog that cannot
// be shown only goes to the detailed log.
std::optional<std::string> ChooseImportFile(Prompts& prompts, ErrorLogs& logs,
                                            const std::string& folder = {});

enum class ImportResult { Cancelled, Imported, Failed };

// ChooseImportFile, then ImportGrid at once. Failed asks the caller to log
// "Error importing from selected file...".
ImportResult ImportGridFromDialog(const std::string& separator, StringGrid& grid, Prompts& prompts,
                                  ErrorLogs& logs);
