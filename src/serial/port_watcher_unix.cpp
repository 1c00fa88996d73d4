#include "port_watcher.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStringList>
#include <filesystem>

namespace {

std::set<std::string> UsbTtys(const DeviceTree& tree) {
  std::set<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(tree.dev, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (IsUsbTtyName(name)) names.insert(name);
  }
  return names;
}

}  // namespace

PortWatcher::PortWatcher(QObject* parent) : QObject(parent) {
  m_settle.setSingleShot(true);
  m_settle.setInterval(200);
  m_fallback.setInterval(2000);
  connect(&m_settle, &QTimer::timeout, this, &PortWatcher::Look);
  connect(&m_fallback, &QTimer::timeout, this, [this] {
    WatchFolders();  // one that did not exist at Start may be there now
    Look();
  });
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
  m_present = UsbTtys(m_tree);
  m_folders = std::make_unique<QFileSystemWatcher>();
  // Any change restarts the settle time: a look comes once things are quiet.
  connect(m_folders.get(), &QFileSystemWatcher::directoryChanged, &m_settle,
          static_cast<void (QTimer::*)()>(&QTimer::start));
  WatchFolders();
  m_fallback.start();
}

void PortWatcher::Stop() {
  m_watching = false;
  m_settle.stop();
  m_fallback.stop();
  m_folders.reset();
  m_found = nullptr;
}

void PortWatcher::WatchFolders() {
  if (!m_folders) return;
  QStringList folders{QFileInfo(QString::fromStdString(m_record.path)).absolutePath()};
  if (m_record.identity.Valid()) {
    const QString dev = QString::fromStdString(m_tree.dev);
    folders << dev << dev + QStringLiteral("/serial") << QString::fromStdString(m_tree.ById());
  }
  const QStringList watched = m_folders->directories();
  for (const QString& folder : folders) {
    const QString clean = QDir::cleanPath(folder);
    if (!watched.contains(clean) && QFileInfo(clean).isDir()) m_folders->addPath(clean);
  }
}

void PortWatcher::Look() {
  if (!m_watching) return;
  if (const auto name = FindDevice(m_tree, m_record)) {
    // The callback may stop or restart the watch.
    const auto found = m_found;
    if (found) found(*name);
    return;
  }
  TellOthers();
}

void PortWatcher::TellOthers() {
  const std::set<std::string> now = UsbTtys(m_tree);
  // One that went away may come back and is told again.
  for (auto it = m_present.begin(); it != m_present.end();)
    it = now.count(*it) ? std::next(it) : m_present.erase(it);
  for (const std::string& name : now) {
    if (!m_present.insert(name).second) continue;
    if (OnOtherDevice) OnOtherDevice(name);
    if (!m_watching) return;
  }
}
