#include "error_log.h"

#include "escape_text.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "text_files.h"

namespace {
const char kFileErrorCaption[] = "File Error";
const char kCannotCreateErrorLog[] = "Cannot create log file, no write permission!\nContact administrator!";
const char kCannotCreateDetailedLog[] =
    "Cannot create detailed log file, no write permission!\nContact administrator!";
}  // namespace

ErrorLogs::ErrorLogs(std::string dataFolder, StampSource now, Prompts& prompts)
    : m_dataFolder(std::move(dataFolder)), m_now(std::move(now)), m_prompts(prompts) {}

std::string ErrorLogs::LogFolder() const {
  std::error_code ec;
  const std::filesystem::path files = std::filesystem::path(m_dataFolder) / "files";
  return std::filesystem::is_directory(files, ec) ? files.string() : m_dataFolder;
}

void ErrorLogs::WriteErrorLog(int code) {
  Append("glog.txt", "Error " + std::to_string(code), kCannotCreateErrorLog);
}

void ErrorLogs::WriteDetailedLog(const std::string& message) {
  Append("gloge.txt", message, kCannotCreateDetailedLog);
}

void ErrorLogs::Append(const char* fileName, const std::string& text, const char* cannotCreate) {
  const Stamp stamp = m_now();
  // One entry, one line: a name or system text inside it stays on it.
  const std::string line =
      EscapeControls(text) + ", encountered at " + stamp.time + ",  " + stamp.date + "\r\n";
  const std::string path = (std::filesystem::path(LogFolder()) / fileName).string();
  bool wasMissing = false;
  std::string error;
  if (AppendToFile(path, line, wasMissing, error)) return;
  if (wasMissing) {
    m_prompts.Message(kFileErrorCaption, cannotCreate, Prompts::Icon::Warning);
  } else {
    // An existing log we cannot write: say so and let the caller finish its
    // own failure handling (the other log still gets its line).
    m_prompts.Message("VelRpt", error, Prompts::Icon::Error);
  }
}
