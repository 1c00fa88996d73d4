#pragma once
// Waits for a lost serial device to come back. It sleeps on inotify (a
// QFileSystemWatcher on the device's folder, /dev and /dev/serial/by-id)
// and looks again only when one of them changes, and on a slow timer for
// what inotify cannot see (a folder that does not exist yet, a network file
// system). Nothing is held while it is stopped: the inotify descriptor is
// made at Start and closed at Stop.

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "device_tree.h"

class QFileSystemWatcher;

class PortWatcher : public QObject {
  Q_OBJECT
 public:
  explicit PortWatcher(QObject* parent = nullptr);
  ~PortWatcher() override;

  void SetDeviceTree(const DeviceTree& tree) { m_tree = tree; }
  const DeviceTree& Tree() const { return m_tree; }
  // How long a folder must stay quiet before a look (udev adds the by-id
  // links and the permissions a moment after the node), and the timer.
  void SetTimes(int settleMs, int fallbackMs);

  // Watches for `record`'s device; `found` is called with its port name each
  // time a look finds it present, until Stop.
  void Start(const DeviceRecord& record, std::function<void(const std::string& name)> found);
  void Stop();
  bool Watching() const { return m_watching; }
  // A USB serial device (ttyUSBn, ttyACMn) appeared while watching that is
  // not the recorded one: told once per appearance, with its kernel name.
  std::function<void(const std::string& kernelName)> OnOtherDevice;

 private:
  void WatchFolders();
  void Look();
  void TellOthers();

  DeviceTree m_tree;
  DeviceRecord m_record;
  std::function<void(const std::string&)> m_found;
  std::unique_ptr<QFileSystemWatcher> m_folders;
  QTimer m_settle;
  QTimer m_fallback;
  bool m_watching = false;
  std::set<std::string> m_present;  // USB ttys there at Start or already told
};
