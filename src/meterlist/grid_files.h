#pragma once
// Delimited text files of grid rows. One line per data row (the title row is
// not written); every cell is followed by the separator, so a line always
// ends with one; lines end with CR LF; no quoting, cell texts go out verbatim.

#include <functional>
#include <string>
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

// Asks for a file name (proposing `proposedName`) and writes the grid's data
// rows. Failures are shown through `prompts` and recorded in `logs`.
void ExportGrid(const StringGrid& grid, const std::string& proposedName, const SeparatorSource& separator,
                Prompts& prompts, ErrorLogs& logs);

// The grid's data rows in the file format (what ExportGrid writes).
std::string GridFileText(const StringGrid& grid, const SeparatorSource& separator);

// Reads `fileName` into `grid`: line n becomes a data row whose column 0 is n,
// then field k goes to column k - 1; one empty row stays at the end. The whole
// file is checked first, so a file that fails leaves the grid as it was.
// False when the file cannot be read, is empty, or has a line with more than
// 12 separators (the caller logs "Error importing from selected file...").
bool ImportGrid(const std::string& fileName, const std::string& separator, StringGrid& grid, Prompts& prompts,
                ErrorLogs& logs);

// Lines as the reader sees them: CR, LF or CR LF end a line, and each line is
// cut after 4096 characters.
std::vector<std::string> SplitFileLines(const std::string& content);

enum class ImportResult { Cancelled, Imported, Failed };

// "Import from file": the open dialog, then ImportGrid. A dialog that cannot
// be shown only goes to the detailed log; Failed asks the caller to log
// "Error importing from selected file...".
ImportResult ImportGridFromDialog(const std::string& separator, StringGrid& grid, Prompts& prompts,
                                  ErrorLogs& logs);
