// The names of the program's own devices, looked at before the system's.

#include "serial_backend.h"

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace {

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, SerialBackendFactory>& Registry() {
  static std::map<std::string, SerialBackendFactory> registry;
  return registry;
}

}  // namespace

void RegisterSerialBackend(const std::string& name, SerialBackendFactory factory) {
  std::lock_guard lock(RegistryMutex());
  Registry()[name] = std::move(factory);
}

void UnregisterSerialBackend(const std::string& name) {
  std::lock_guard lock(RegistryMutex());
  Registry().erase(name);
}

std::unique_ptr<SerialBackend> OpenSerialBackend(const std::string& path, int& error, bool& notFound) {
  SerialBackendFactory factory;
  {
    std::lock_guard lock(RegistryMutex());
    auto it = Registry().find(path);
    if (it != Registry().end()) factory = it->second;
  }
  error = 0;
  notFound = false;
  if (factory) return factory(error, notFound);
  return SerialBackend::Open(path, error, notFound);
}

bool SerialBackendRegistered(const std::string& name) {
  std::lock_guard lock(RegistryMutex());
  return Registry().count(name) != 0;
}

std::optional<bool> RegisteredDevicePresent(const std::string& name) {
  if (!SerialBackendRegistered(name)) return std::nullopt;
  int error = 0;
  bool notFound = false;
  return OpenSerialBackend(name, error, notFound) != nullptr || !notFound;
}

int SerialBackend::CheckLineTaken(const std::string& shownPath, const LineConfig& asked,
                                  std::string& notTaken) {
  notTaken.clear();
  int baud = 0;
  if (int error = ReadBackBaudrate(baud)) return error;
  // Within the 2 % a UART allows.
  const long long diff = static_cast<long long>(asked.baudrate) - baud;
  if ((diff < 0 ? -diff : diff) * 50 <= asked.baudrate) return 0;
  static constexpr const char* kParity[] = {"None", "Odd", "Even", "Mark", "Space"};
  notTaken = "The driver of " + shownPath + " runs the line at " + std::to_string(baud) + " bit/s, parity " +
             kParity[asked.parity] + ", not at the " + std::to_string(asked.baudrate) + " bit/s, parity " +
             kParity[asked.parity] + " asked for";
  return 0;
}

bool SerialBackend::WaitReadable(int timeoutMs, bool& lost) {
  lost = false;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int in = 0, out = 0;
    if (int error = QueueCounts(in, out)) {
      lost = HungUp(error);
      return false;
    }
    if (in > 0) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}
