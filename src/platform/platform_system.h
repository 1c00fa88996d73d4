#pragma once
// The rest of what the programs need from the system above the serial
// layer: environment, the per-user data folder, local time, Ctrl+C, the
// standard streams and the list of serial ports the system announces.

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// The variable's value, empty when unset.
std::string Env(const char* name);

// Where a user's settings live when the system prescribes one place:
// %APPDATA%\VelRpt on Windows. Empty on Linux, whose rule (the program's
// folder or the XDG config folder) the settings apply themselves.
std::string PerUserDataFolder();

struct CivilTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
};
// The local wall-clock time; false when the system cannot tell.
bool LocalNow(CivilTime& now);

// Ctrl+C and requests to terminate call `onStop` on a thread of the
// platform's (never inside a signal handler), so it must be thread-safe.
// An empty function stops the calls; after it returns none is running.
void SetStopHandler(std::function<void()> onStop);

// Standard input and output carry bytes: no text-mode translation.
void BinaryStandardStreams();
bool StdoutIsTerminal();
// Bytes read from standard input, 0 at its end, -1 with `err` (an errno value).
long long ReadStandardInput(char* buffer, size_t size, int& err);

// fwrite and putc without taking the stream's lock, for a stream one thread
// owns. mingw's C runtime declares no unlocked variants: there they lock.
inline size_t WriteUnlocked(const void* data, size_t size, std::FILE* stream) {
#ifdef _WIN32
  return std::fwrite(data, 1, size, stream);
#else
  return fwrite_unlocked(data, 1, size, stream);
#endif
}
inline int PutUnlocked(char c, std::FILE* stream) {
#ifdef _WIN32
  return std::fputc(c, stream);
#else
  return putc_unlocked(c, stream);
#endif
}

// Serial ports the system lists by name (Windows: the registry's SERIALCOMM
// list, "COM3" ...). Empty on Linux, where the settings look under /dev.
std::vector<std::string> ListedSerialPorts();

#ifdef _WIN32
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
#endif

}  // namespace platform
