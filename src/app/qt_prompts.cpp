#include "qt_prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

namespace {
QMessageBox::Icon ToQt(Prompts::Icon icon) {
  switch (icon) {
    case Prompts::Icon::Information:
      return QMessageBox::Information;
    case Prompts::Icon::Warning:
      return QMessageBox::Warning;
    case Prompts::Icon::Error:
      return QMessageBox::Critical;
    case Prompts::Icon::None:
      break;
  }
  return QMessageBox::NoIcon;
}
}  // namespace

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    out << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
  }
  return out.join(QStringLiteral(";;"));
}

std::string WithDefaultExt(const std::string& name, const std::string& ext) {
  if (name.empty() || ext.empty()) return name;
  const QString file = QFileInfo(QString::fromStdString(name)).fileName();
  if (file.isEmpty() || file.contains(QLatin1Char('.'))) return name;
  return name + "." + ext;
}

void KeepAboveStayOnTopWindows(QWidget& dialog) {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window != &dialog && window->isVisible() && (window->windowFlags() & Qt::WindowStaysOnTopHint)) {
      dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
      return;
    }
}

QWidget* QtPrompts::Owner() const { return m_owner ? m_owner : QApplication::activeWindow(); }

bool QtPrompts::Confirm(const std::string& caption, const std::string& text, Icon icon) {
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, Owner());
  box.setDefaultButton(QMessageBox::No);
  KeepAboveStayOnTopWindows(box);
  return box.exec() == QMessageBox::Yes;
}

void QtPrompts::Message(const std::string& caption, const std::string& text, Icon icon) {
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                  Owner());
  KeepAboveStayOnTopWindows(box);
  box.exec();
}

std::optional<std::string> QtPrompts::RunFileDialog(const FileDialog& dialog, bool save) {
  QFileDialog box(Owner(), QString::fromStdString(dialog.title), QString::fromStdString(dialog.folder),
                  QtFileFilter(dialog.filter));
  box.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // Opening too takes a name that does not exist: the reader then reports
  // the file error itself, as it does for any file it cannot read.
  box.setFileMode(QFileDialog::AnyFile);
  if (save) box.setOption(QFileDialog::DontConfirmOverwrite);
  if (!dialog.defaultExt.empty()) box.setDefaultSuffix(QString::fromStdString(dialog.defaultExt));
  if (!dialog.proposedName.empty()) box.selectFile(QString::fromStdString(dialog.proposedName));
  KeepAboveStayOnTopWindows(box);
  if (box.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = box.selectedFiles();
  if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
  const std::string chosen = files.front().toStdString();
  return save ? WithDefaultExt(chosen, dialog.defaultExt) : chosen;
}

std::optional<std::string> QtPrompts::SaveFile(const FileDialog& dialog) {
  return RunFileDialog(dialog, true);
}
std::optional<std::string> QtPrompts::OpenFile(const FileDialog& dialog) {
  return RunFileDialog(dialog, false);
}
