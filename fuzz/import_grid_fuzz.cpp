// ImportGrid on arbitrary file content: it imports or refuses, and a refused
// file leaves the table exactly as it was.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "grid_files.h"
#include "prompts.h"

namespace {
class SilentPrompts : public Prompts {
 public:
  bool Confirm(const std::string&, const std::string&, Icon) override { return false; }
  void Message(const std::string&, const std::string&, Icon) override {}
  std::optional<std::string> SaveFile(const FileDialog&) override { return std::nullopt; }
  std::optional<std::string> OpenFile(const FileDialog&) override { return std::nullopt; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/velrpt-fuzz-XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  const std::string file = folder + "/import.csv";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  SilentPrompts prompts;
  ErrorLogs logs(folder, [] { return ErrorLogs::Stamp{"09:07:05", "07.12.2026"}; }, prompts);
  StringGrid grid(11, 3);
  grid.SetCell(1, 1, "before");
  const std::string separator = size > 0 && (data[0] & 1) ? ";" : ",";
  if (!ImportGrid(file, separator, grid, prompts, logs)) {
    if (grid.RowCount() != 3 || grid.Cell(1, 1) != "before") std::abort();
  } else if (grid.RowCount() < 2) {
    std::abort();
  }
  return 0;
}
