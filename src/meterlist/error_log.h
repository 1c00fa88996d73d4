#pragma once
// The two error logs of failed file operations: "glog.txt" gets one numbered
// line per event, "gloge.txt" the failure's message. Both live in the log
// folder "files" of the data folder; the program never creates that folder,
// and without it the logs go into the data folder itself.

#include <functional>
#include <string>

#include "prompts.h"

class ErrorLogs {
 public:
  // Time and date texts of one moment, in the local long time and short date
  // formats (the app wires LocalFormats; this library knows no locale).
  struct Stamp {
    std::string time;
    std::string date;
  };
  using StampSource = std::function<Stamp()>;

  // Event codes of the error log.
  static constexpr int kExportWriteFailed = 10;
  static constexpr int kImportReadFailed = 11;
  static constexpr int kLogSaveFailed = 13;

  ErrorLogs(std::string dataFolder, StampSource now, Prompts& prompts);

  // "Error <code>, encountered at <time>,  <date>" into glog.txt.
  void WriteErrorLog(int code);
  // "<message>, encountered at <time>,  <date>" into gloge.txt.
  void WriteDetailedLog(const std::string& message);

  // The folder the logs go to right now: <data>/files when it exists.
  std::string LogFolder() const;
  // Where the settings and the log folder are; the file dialogs start here.
  const std::string& DataFolder() const { return m_dataFolder; }

 private:
  void Append(const char* fileName, const std::string& text, const char* cannotCreate);

  std::string m_dataFolder;
  StampSource m_now;
  Prompts& m_prompts;
};
