#include "log_memo.h"

#include <optional>
#include <string>

#include "error_log.h"
#include "prompts.h"
#include "telegram_table_panel.h"
#include "text_files.h"

namespace {
const char kLogFileErrorCaption[] = "File Error";
const char kLogFileError[] = "Error saving log file!\nContact administrator!";
}  // namespace

LogMemo* MakeLogWindow(QWidget* parent) {
  auto* memo = new LogMemo(parent);
  memo->setObjectName(QStringLiteral("Memo_log"));
  QFont mono(QStringList{QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
  mono.setPointSize(9);
  memo->setFont(mono);
  return memo;
}

void LogMemo::SaveToFile(const TableFileEnv& env) {
  Prompts& prompts = *env.prompts;
  ErrorLogs& logs = *env.logs;
  const std::string logFolder = logs.LogFolder();
  const Prompts::FileDialog dialog{
      "Save log data", "general_log.txt", "TXT|*.txt|CSV|*.csv", "csv",
      env.folders ? env.folders->Folder(FileFolders::Kind::Log, logFolder) : logFolder};
  std::optional<std::string> fileName;
  try {
    fileName = prompts.SaveFile(dialog);
  } catch (const Prompts::DialogError& e) {
    // What the application reports for any failure nothing else handles.
    prompts.Message("VelRpt", e.what(), Prompts::Icon::Error);
    return;
  }
  if (!fileName || fileName->empty()) return;

  const LogStore& lines = Store();
  std::string content;
  std::string scratch;
  for (size_t i = 0; i < lines.Count(); ++i) {
    content += lines.LineView(i, scratch);
    content += "\r\n";
  }
  std::string error;
  if (!ReplaceFile(*fileName, content, error)) {
    prompts.Message(kLogFileErrorCaption, kLogFileError, Prompts::Icon::Warning);
    logs.WriteErrorLog(ErrorLogs::kLogSaveFailed);
    logs.WriteDetailedLog(error);
    return;
  }
  // The line comes after the save: the file holds the log as it was asked for.
  env.Saved(FileFolders::Kind::Log, *fileName, static_cast<int>(lines.Count()), "line");
}
