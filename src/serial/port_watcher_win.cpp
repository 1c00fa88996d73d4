// Waits for a lost serial device to come back, on Windows: the system's
// list of ports is looked at again at a modest rate while watching. Nothing
// runs while stopped.
#include <QFileSystemWatcher>

#include "port_watcher.h"

PortWatcher::PortWatcher(QObject* parent) : QObject(parent) {
  m_settle.setSingleShot(true);
  m_settle.setInterval(200);
  m_fallback.setInterval(500);
  connect(&m_fallback, &QTimer::timeout, this, &PortWatcher::Look);
}

PortWatcher::~PortWatcher() = default;

void PortWatcher::SetTimes(int settleMs, int fallbackMs) {
  m_settle.setInterval(settleMs);
  m_fallback.setInterval(fallbackMs);
}

void PortWatcher::Start(const DeviceRecord& record, std::function<void(const std::string&)> found) {
  Stop();
  m_record = record;
  m_found = std::move(found);
  m_watching = true;
  m_fallback.start();
}

void PortWatcher::Stop() {
  m_watching = false;
  m_fallback.stop();
  m_found = nullptr;
}

void PortWatcher::WatchFolders() {}

void PortWatcher::Look() {
  if (!m_watching) return;
  if (const auto name = FindDevice(m_tree, m_record)) {
    // The callback may stop or restart the watch.
    const auto found = m_found;
    if (found) found(*name);
  }
}

// Ports carry no identity here to tell another device from the lost one.
void PortWatcher::TellOthers() {}
