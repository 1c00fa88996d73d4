#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <mutex>

#include "platform_system.h"

namespace platform {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr,
                        nullptr);
  return utf8;
}

std::string Env(const char* name) {
  const std::wstring wname = Wide(name);
  const DWORD n = ::GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  const DWORD got = ::GetEnvironmentVariableW(wname.c_str(), value.data(), n);
  value.resize(got);
  return Utf8(value);
}

std::string PerUserDataFolder() {
  const std::string appData = Env("APPDATA");
  return appData.empty() ? std::string() : appData + "\\VelRpt";
}

bool LocalNow(CivilTime& now) {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  now = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, std::min<int>(t.wSecond, 59), t.wMilliseconds};
  return true;
}

namespace {

std::mutex g_stopMutex;
std::function<void()> g_onStop;

// Runs on a thread the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  const std::lock_guard<std::mutex> lock(g_stopMutex);
  if (!g_onStop) return FALSE;
  g_onStop();
  return TRUE;
}

}  // namespace

void SetStopHandler(std::function<void()> onStop) {
  static bool installed = false;
  const std::lock_guard<std::mutex> lock(g_stopMutex);
  g_onStop = std::move(onStop);
  if (!installed && g_onStop) installed = ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

void BinaryStandardStreams() {
  // Text mode would end input at 0x1A and turn "\n" into "\r\n" on output.
  ::_setmode(_fileno(stdin), _O_BINARY);
  ::_setmode(_fileno(stdout), _O_BINARY);
  ::_setmode(_fileno(stderr), _O_BINARY);
}

bool StdoutIsTerminal() { return ::_isatty(_fileno(stdout)) != 0; }

long long ReadStandardInput(char* buffer, size_t size, int& err) {
  const int n = ::_read(_fileno(stdin), buffer, static_cast<unsigned>(size > INT_MAX ? INT_MAX : size));
  if (n < 0) err = errno;
  return n;
}

std::vector<std::string> ListedSerialPorts() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS)
    return names;
  for (DWORD i = 0;; ++i) {
    wchar_t valueName[256];
    DWORD nameLength = 256;
    wchar_t data[256];
    DWORD dataBytes = sizeof data;
    DWORD type = 0;
    const LONG rc = ::RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &dataBytes);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    std::wstring port(data, dataBytes / sizeof(wchar_t));
    while (!port.empty() && port.back() == L'\0') port.pop_back();
    if (!port.empty()) names.push_back(Utf8(port));
  }
  ::RegCloseKey(key);
  // COM2 before COM10.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return names;
}

}  // namespace platform
