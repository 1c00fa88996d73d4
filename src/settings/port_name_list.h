#pragma once
// The port name box's list: "COM1".."COM50", two empty items, then the
// serial devices present, each /dev/serial/by-id entry shown with the device
// it points to. While the settings window is open the device folders are
// watched and the list follows devices as they come and go; the text in the
// box is never touched.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

class QComboBox;
class QFileSystemWatcher;

class PortNameList : public QObject {
  Q_OBJECT
 public:
  // The device a by-id entry points to ("ttyUSB0"), on each item.
  static constexpr int kTargetRole = Qt::UserRole + 1;

  // Takes over `combo`'s list; `fixed` are the names that always stand first.
  PortNameList(QComboBox* combo, const QStringList& fixed, const QString& devRoot, QObject* parent);
  ~PortNameList() override;

  // Reads the devices present again.
  void Refresh();
  // On while the window is visible: inotify on the device folders.
  void SetWatching(bool on);
  bool Watching() const { return m_folders != nullptr; }

 private:
  void WatchFolders();

  QComboBox* m_combo;
  int m_fixedCount;
  QString m_devRoot;
  std::unique_ptr<QFileSystemWatcher> m_folders;
  QTimer m_settle;
};
