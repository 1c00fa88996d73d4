// The names of the program's own devices, looked at before the system's.

#include "serial_backend.h"

#include <map>
#include <mutex>

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
