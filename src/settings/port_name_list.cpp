#include "port_name_list.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLineEdit>
#include <QStandardItemModel>

#include "settings_window.h"

namespace {

// The list shows a by-id entry with its device; the box, which takes an
// item's edit text, gets the bare path.
class PortNameModel : public QStandardItemModel {
 public:
  using QStandardItemModel::QStandardItemModel;
  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::DisplayRole) {
      const QString target = QStandardItemModel::data(index, PortNameList::kTargetRole).toString();
      if (!target.isEmpty())
        return QStandardItemModel::data(index, Qt::EditRole).toString() + QStringLiteral(" -> ") + target;
    }
    return QStandardItemModel::data(index, role);
  }
};

}  // namespace

PortNameList::PortNameList(QComboBox* combo, const QStringList& fixed, const QString& devRoot,
                           QObject* parent)
    : QObject(parent), m_combo(combo), m_fixedCount(static_cast<int>(fixed.size())), m_devRoot(devRoot) {
  const QString text = m_combo->currentText();
  m_combo->setModel(new PortNameModel(m_combo));
  m_combo->addItems(fixed);
  m_combo->setEditText(text);
  m_settle.setSingleShot(true);
  m_settle.setInterval(200);
  connect(&m_settle, &QTimer::timeout, this, &PortNameList::Refresh);
  Refresh();
}

PortNameList::~PortNameList() = default;

void PortNameList::Refresh() {
  WatchFolders();  // serial/by-id appears with the first USB adapter
  QStringList paths;
  QStringList targets;
  for (const QString& path : SerialDevicesPresent(m_devRoot)) {
    const QFileInfo info(path);
    paths << path;
    targets << (info.isSymLink() ? QFileInfo(info.symLinkTarget()).fileName() : QString());
  }
  bool same = m_combo->count() == m_fixedCount + paths.size();
  for (int i = 0; same && i < paths.size(); ++i)
    same = m_combo->itemText(m_fixedCount + i) == paths[i] &&
           m_combo->itemData(m_fixedCount + i, kTargetRole).toString() == targets[i];
  if (same) return;

  // Changing the items must leave what the box shows alone (it may be typed
  // and not applied yet, or locked while the port is open).
  const QString text = m_combo->currentText();
  const QSignalBlocker quiet(m_combo);
  while (m_combo->count() > m_fixedCount) m_combo->removeItem(m_combo->count() - 1);
  for (int i = 0; i < paths.size(); ++i) {
    m_combo->addItem(paths[i]);
    if (!targets[i].isEmpty()) m_combo->setItemData(m_combo->count() - 1, targets[i], kTargetRole);
  }
  m_combo->setEditText(text);
}

void PortNameList::SetWatching(bool on) {
  if (on == Watching()) return;
  if (!on) {
    m_settle.stop();
    m_folders.reset();
    return;
  }
  m_folders = std::make_unique<QFileSystemWatcher>();
  connect(m_folders.get(), &QFileSystemWatcher::directoryChanged, &m_settle,
          static_cast<void (QTimer::*)()>(&QTimer::start));
  WatchFolders();
  Refresh();
}

void PortNameList::WatchFolders() {
  if (!m_folders) return;
  const QStringList watched = m_folders->directories();
  for (const QString& folder :
       {m_devRoot, m_devRoot + QStringLiteral("/serial"), m_devRoot + QStringLiteral("/serial/by-id")}) {
    const QString clean = QDir::cleanPath(folder);
    if (!watched.contains(clean) && QFileInfo(clean).isDir()) m_folders->addPath(clean);
  }
}
