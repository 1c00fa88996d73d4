// velrpt-cli: the program's logic without a window, for captures sent in
// from the field, for scripts, and for our own tests.

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "cli_commands.h"
#include "platform_system.h"

namespace {

const CliCommand kCommands[] = {
    {"decode", "decode a recorded serial byte stream", RunDecode, DecodeHelp},
    {"monitor", "print the log lines of a live serial port", RunMonitor, MonitorHelp},
    {"frame", "print the frame of one repeater command", RunFrame, FrameHelp},
    {"send", "send one repeater command and print its answers", RunSend, SendHelp},
    {"survey", "which meters are heard directly and through the repeater", RunSurvey, SurveyHelp},
    {"set-in-korvex", "write the repeater's ID into the Korvex", RunSetInKorvex, SetInKorvexHelp},
    {"provision", "apply settings to repeaters and confirm them", RunProvision, ProvisionHelp},
};

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: velrpt-cli COMMAND [OPTIONS]\n"
               "       velrpt-cli COMMAND --help\n\ncommands:\n");
  for (const CliCommand& c : kCommands) std::fprintf(out, "  %-14s %s\n", c.name, c.summary);
}

}  // namespace

int main(int argc, char** argv) {
  // Captures and log lines are bytes, on every system.
  platform::BinaryStandardStreams();
  if (argc < 2) {
    Usage(stderr);
    return 2;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    Usage(stdout);
    return 0;
  }
  for (const CliCommand& c : kCommands) {
    if (name != c.name) continue;
    CliArgs args(argv + 2, argv + argc);
    for (const std::string& a : args) {
      if (a == "--help" || a == "-h") {
        std::fputs(c.help(), stdout);
        return 0;
      }
    }
    return c.run(args);
  }
  Usage(stderr);
  return CliError("unknown command '" + name + "'");
}
