// In the library, not in main.cpp, so the session and the capture reader
// link into tests and fuzz targets on their own.
#include <cstdio>

#include "cli_commands.h"

int CliError(const std::string& message) {
  std::fprintf(stderr, "velrpt-cli: %s\n", message.c_str());
  return 2;
}
