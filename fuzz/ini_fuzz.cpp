// The ini reader on any file content: reads never fail, a written key reads
// back, and the lines we did not touch survive a save unchanged.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/velrpt-inifuzz-XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  const std::string path = folder + "/velrpt.ini";
  const std::string content(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
  }
  IniFile ini(path);
  (void)ini.ReadString("Com port", "Name", "COM1");
  (void)ini.ReadInteger("Misc", "Timeout", 1000);
  (void)ini.ReadBool("Misc", "WrongCI", true);
  (void)ini.ReadString("misc", "lastrepeater", "");

  ini.WriteString("Misc", "LastRepeater", "12345678");
  ini.WriteInteger("Misc", "SetRXTime", 5);
  if (ini.ReadString("MISC", "LASTREPEATER", "") != "12345678") std::abort();
  if (ini.ReadInteger("Misc", "SetRXTime", 0) != 5) std::abort();

  // What a save writes reads back the same.
  const std::string text = ini.Text();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  IniFile again(path);
  if (again.ReadString("Misc", "LastRepeater", "") != "12345678") std::abort();
  if (again.Text() != text) std::abort();
  return 0;
}
