#pragma once
// velrpt-cli subcommands. Each takes the arguments after its name and returns
// the process exit status: 0 success, 1 a refused command, 2 bad input.

#include <string>
#include <vector>

using CliArgs = std::vector<std::string>;

struct CliCommand {
  const char* name;
  const char* summary;
  int (*run)(const CliArgs& args);
  const char* (*help)();
};

int RunDecode(const CliArgs& args);
const char* DecodeHelp();
int RunFrame(const CliArgs& args);
const char* FrameHelp();
int RunMonitor(const CliArgs& args);
const char* MonitorHelp();
int RunSend(const CliArgs& args);
const char* SendHelp();
int RunSurvey(const CliArgs& args);
const char* SurveyHelp();
int RunSetInKorvex(const CliArgs& args);
const char* SetInKorvexHelp();
int RunProvision(const CliArgs& args);
const char* ProvisionHelp();

// A one-line error on standard error; returns 2.
int CliError(const std::string& message);
