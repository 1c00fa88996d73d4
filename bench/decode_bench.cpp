// decode_bench: `velrpt-cli decode` of a 300,000-frame capture from 1,000
// meters with the real clock (no --now, no TZ), output to /dev/null, against
// a bare read+memchr scan of the same file in the same run. The same with
// --table (the telegram table kept and written at the end) is printed beside
// it for reference.
//
//   decode_bench [--frames N] [--runs R] [--cli PATH]

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench_frames.h"

extern char** environ;

namespace {

// Runs the program with stdout to /dev/null and TZ taken out of the
// environment; true when it exited with 0.
bool RunCli(const std::string& cli, const std::string& capture, const std::string& table = {}) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("TZ=", 0) != 0) env.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = {cli, "decode", capture};
  if (!table.empty()) args.insert(args.end(), {"--table", table});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, cli.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 300000, runs = 5;
  std::string cli = VELRPT_CLI_PATH;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i];
    if (k == "--frames")
      frames = std::atoi(argv[i + 1]);
    else if (k == "--runs")
      runs = std::atoi(argv[i + 1]);
    else if (k == "--cli")
      cli = argv[i + 1];
    else {
      std::fprintf(stderr, "usage: decode_bench [--frames N] [--runs R] [--cli PATH]\n");
      return 2;
    }
  }
  if (frames <= 0 || runs <= 0) return 2;
  char dir[] = "/tmp/decode_bench.XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string capture = std::string(dir) + "/capture.bin";
  const std::string table = std::string(dir) + "/table.csv";
  {
    std::ofstream out(capture, std::ios::binary);
    out << bench::MeterStream(frames, 1000, 11);
    if (!out) return 1;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  // Taken in turns, so both see the same load.
  std::vector<double> bare, decode, withTable;
  size_t found = 0;
  bool ok = true;
  for (int r = 0; r < runs; ++r) {
    bare.push_back(bench::Seconds([&] { found = bench::BareScanFile(capture); }));
    decode.push_back(bench::Seconds([&] { ok = RunCli(cli, capture) && ok; }));
    withTable.push_back(bench::Seconds([&] { ok = RunCli(cli, capture, table) && ok; }));
  }
  std::remove(capture.c_str());
  std::remove(table.c_str());
  ::rmdir(dir);
  if (found != static_cast<size_t>(frames) || !ok) {
    std::fprintf(stderr, "decode_bench: the scan found %zu of %d frames; velrpt-cli %s\n", found, frames,
                 ok ? "succeeded" : "failed");
    return 1;
  }
  const double bareFps = frames / bench::Median(bare);
  const double decodeFps = frames / bench::Median(decode);
  std::printf("capture: %d frames from 1,000 meters; %d runs each, taken in turns\n", frames, runs);
  bench::PrintSpeed("velrpt-cli decode, real clock, to /dev/null", decodeFps, bareFps);
  bench::Verdict(">= 1,000,000 frames/s", decodeFps >= 1e6);
  bench::Verdict("within 25x of the bare scan", bareFps / decodeFps <= 25);
  bench::PrintSpeed("for reference: the same with --table FILE", frames / bench::Median(withTable), bareFps);
  return 0;
}
