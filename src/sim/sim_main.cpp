// velrpt-sim: the simulated Korvex, repeater and meters on a pseudo-terminal.
// The first line on standard output is "PTY <slave path>"; the log of what
// the program sent goes to standard error.

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "option_range.h"
#include "sim_runner.h"

namespace {

const char kUsage[] =
    "usage: velrpt-sim [options]\n"
    "  --repeater-id ID   repeater serial ID, 8 digits (default 12345678)\n"
    "  --repeaters N|IDS  N repeaters (1-100) with IDs counting up from --repeater-id,\n"
    "                     or the comma-separated list of their IDs\n"
    "  --stuck ID:SET=V   repeater ID keeps SET at V whatever it is told; SET is\n"
    "                     rx-start-hour, rx-hours, wireless-mode (code) or calibration\n"
    "  --meters N         meters around the repeater (default 12)\n"
    "  --interval MS      mean time between meter telegrams (default 1000)\n"
    "  --seed N           same seed, same traffic (default 1)\n"
    "  --baud N           pace the bytes like a line at N baud (default: as fast as read)\n"
    "  --noise P          random bytes between frames with probability P\n"
    "  --chunks           frames in random pieces with random gaps\n"
    "  --bad-frames P     a wrong end byte with probability P\n"
    "  --count N          stop after N meter telegrams have been sent and read\n"
    "  --record FILE      write every byte sent to the program to FILE\n"
    "  --replay FILE      send a recorded capture instead of generated traffic\n"
    "  --link PATH        symbolic link to the pseudo-terminal (removed at exit)\n"
    "  --prompt-delay MS  the transceiver answers \">\" MS milliseconds after the request\n"
    "  --drop-prompt N    the N-th prompt of the run is never answered\n"
    "  --miss P           the repeater does not hear a command with probability P\n"
    "  --deaf             the repeater hears no command and never answers\n"
    "SIGUSR1 pulls the device out (the pseudo-terminal closes, the link goes),\n"
    "SIGUSR2 puts it back on a new pseudo-terminal, announced by another PTY line.\n";

}  // namespace

namespace {

// "--repeaters 5" or "--repeaters 11111111,22222222": the IDs beyond the
// first. An error line on bad input.
std::string ParseRepeaters(const std::string& text, sim::SimOptions& o, std::string& firstId) {
  std::string error;
  if (text.find(',') == std::string::npos && text.size() <= 3) {
    const std::optional<long long> n = ParseIntOption("--repeaters", text, 1, 100, error);
    if (!n) return error;
    o.moreRepeaterIds.clear();
    firstId.clear();  // counted from --repeater-id once all options are read
    o.moreRepeaterIds.resize(static_cast<size_t>(*n - 1));
    return {};
  }
  std::vector<std::string> ids;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    ids.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  const std::string usage = "--repeaters needs a count from 1 to 100 or up to 100 IDs of 8 digits, not '" +
                            EscapeControls(text) + "'";
  if (ids.size() > 100) return usage;
  for (const std::string& id : ids)
    if (id.size() != 8 || id.find_first_not_of("0123456789") != std::string::npos) return usage;
  firstId = ids.front();
  o.moreRepeaterIds.assign(ids.begin() + 1, ids.end());
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  sim::SimOptions o;
  std::string listedFirst;  // the first ID of a --repeaters list
  bool counted = false;     // --repeaters N
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::cerr << "velrpt-sim: " << a << " needs a value\n" << kUsage;
        std::exit(2);
      }
      return argv[++i];
    };
    std::string error;
    // Each numeric option with its range; the value is used only when in range.
    const auto whole = [&](long long lo, long long hi) {
      return ParseIntOption(a, value(), lo, hi, error).value_or(0);
    };
    const auto real = [&](double lo, double hi) {
      return ParseRealOption(a, value(), lo, hi, error).value_or(0);
    };
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--repeater-id") {
      o.repeaterId = value();
    } else if (a == "--repeaters") {
      error = ParseRepeaters(value(), o, listedFirst);
      counted = error.empty() && listedFirst.empty();
    } else if (a == "--stuck") {
      const std::string text = value();
      const size_t colon = text.find(':');
      sim::StuckSetting s;
      if (colon == 8 && sim::ParseStuckSetting(text.substr(colon + 1), s))
        o.stuck.emplace_back(text.substr(0, 8), s);
      else
        error = "--stuck needs ID:SETTING=VALUE with a value the setting can hold, not '" +
                EscapeControls(text) + "'";
    } else if (a == "--meters") {
      o.meters = static_cast<int>(whole(0, 200));
    } else if (a == "--interval") {
      o.intervalMs = static_cast<int>(whole(0, 3'600'000));
    } else if (a == "--seed") {
      o.seed = static_cast<std::uint64_t>(whole(0, INT64_MAX));
    } else if (a == "--baud") {
      o.baud = static_cast<int>(whole(0, 4'000'000));
    } else if (a == "--count") {
      o.count = whole(0, INT64_MAX);
    } else if (a == "--noise") {
      o.noise = real(0, 1);
    } else if (a == "--bad-frames") {
      o.badFrames = real(0, 1);
    } else if (a == "--prompt-delay") {
      o.promptDelayMs = static_cast<int>(whole(0, 60'000));
    } else if (a == "--drop-prompt") {
      o.dropPrompt = static_cast<int>(whole(1, 1'000'000));
    } else if (a == "--miss") {
      o.miss = real(0, 1);
    } else if (a == "--deaf") {
      o.deaf = true;
    } else if (a == "--chunks") {
      o.chunks = true;
    } else if (a == "--record") {
      o.recordPath = value();
    } else if (a == "--replay") {
      o.replayPath = value();
    } else if (a == "--link") {
      o.linkPath = value();
    } else {
      std::cerr << "velrpt-sim: unknown option " << a << "\n" << kUsage;
      return 2;
    }
    if (!error.empty()) {
      std::cerr << "velrpt-sim: " << error << "\n";
      return kBadOptionStatus;
    }
  }
  if (!listedFirst.empty()) o.repeaterId = listedFirst;
  if (counted) {
    // IDs counting up from the first: 12345678, 12345679, ...
    const long long first = std::atoll(o.repeaterId.c_str());
    for (size_t i = 0; i < o.moreRepeaterIds.size(); ++i) {
      char id[16];
      std::snprintf(id, sizeof id, "%08lld", (first + static_cast<long long>(i) + 1) % 100000000);
      o.moreRepeaterIds[i] = id;
    }
  }
  o.log = [](const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  };

  // Signals are taken synchronously below; the simulator's thread inherits
  // the mask and never sees them. A vanished reader must not kill us.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGUSR1);
  sigaddset(&stopSignals, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  sim::SimulatorRunner runner(o);
  std::string error;
  if (!runner.Start(&error)) {
    std::cerr << "velrpt-sim: " << error << "\n";
    return 1;
  }
  std::cout << "PTY " << runner.SlavePath() << std::endl;
  std::string repeaters = runner.RepeaterId();
  for (const std::string& id : o.moreRepeaterIds) repeaters += "," + id;
  std::cerr << "velrpt-sim: repeater " << repeaters << ", " << o.meters << " meters, seed " << o.seed
            << std::endl;

  const timespec tick{0, 100'000'000};
  for (;;) {
    const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
    if (sig == SIGINT || sig == SIGTERM) break;
    if (sig == SIGUSR1) runner.Unplug();
    if (sig == SIGUSR2) {
      if (runner.Replug(&error)) {
        std::cout << "PTY " << runner.SlavePath() << std::endl;
      } else {
        std::cerr << "velrpt-sim: " << error << std::endl;
      }
    }
    if (o.count > 0 && runner.Finished()) break;
    if (!o.replayPath.empty() && runner.Finished()) break;
  }
  runner.Stop();
  return 0;
}
