#pragma once
// The right column of the page: the telegram table (Grid_values), the
// "Do not add new" box and the "Export to csv" and "Clear" buttons. It owns
// the table and the operator's selected row and column.

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "grid_files.h"
#include "main_ini.h"
#include "string_grid.h"

class ErrorLogs;
class Prompts;
class QCheckBox;
class QLabel;
class QHBoxLayout;
class QPushButton;
class QProgressDialog;
class QTableView;
class QTimer;
class StringGridModel;

// What the table's file commands need from the window.
struct TableFileEnv {
  Prompts* prompts = nullptr;
  ErrorLogs* logs = nullptr;
  SeparatorSource separator;
  std::function<void(std::string_view line)> log;  // the log window
  FileFolders* folders = nullptr;                  // null: dialogs start in the data folder

  // Where a dialog for that kind of file starts.
  std::string StartFolder(FileFolders::Kind kind) const;
  // After a file was written: its folder is remembered and the log says
  // what was written ("Saved 12 rows to /home/op/meters.csv").
  void Saved(FileFolders::Kind kind, const std::string& path, int count, const char* what) const;
};

// The panel's controls under their control names (TForm1 shows them under
// the same names).
struct TelegramTableControls {
  QLabel* Label8 = nullptr;
  QCheckBox* Check_noNew = nullptr;
  QTableView* Grid_values = nullptr;
  QPushButton* BitBtn7 = nullptr;
  QPushButton* BitBtn6 = nullptr;
};

class TelegramTablePanel : public QWidget, public TelegramTableControls {
  Q_OBJECT

 public:
  TelegramTablePanel(TableFileEnv env, QWidget* parent = nullptr);
  ~TelegramTablePanel() override;

  StringGrid& Table() { return m_table; }
  const StringGrid& Table() const { return m_table; }
  int SelectedRow() const { return m_selectedRow; }
  int SelectedCol() const { return m_selectedCol; }

  void SelectCell(int col, int row);
  // True when the key was a command of the table (Ctrl+C, Delete).
  bool KeyDown(int key, Qt::KeyboardModifiers shift);
  void Clear();   // "Clear"
  void Export();  // "Export to csv"
  // "Import from file" of the meter ID list's menu: the file is read in
  // pieces on the event loop behind a progress dialog.
  void ImportFile();
  bool Importing() const;

 signals:
  // Rows went away or came from a file: the chart follows the table.
  void Changed();

 private:
  // After Delete, Clear or an import the operator's row stays selected
  // (the last row when it is gone).
  void TableChanged();
  // One step of a running import: a piece of the file, then the progress.
  void ImportStep();
  void ShowImportProgress();
  void ImportFailed(std::string reason);  // a copy: the import goes first
  // "Do not add new" goes on a row of its own below the buttons where one
  // row is too narrow for all three (a 1024-pixel screen).
  void PlaceCheck(bool below);
  int OneRowWidth() const;
  QSize minimumSizeHint() const override;
  void resizeEvent(QResizeEvent* event) override;

  TableFileEnv m_env;
  StringGrid m_table;
  StringGridModel* m_model = nullptr;
  int m_selectedRow = 1;
  int m_selectedCol = 0;
  std::unique_ptr<GridImport> m_import;  // while an import runs
  std::string m_importFile;
  QProgressDialog* m_importProgress = nullptr;
  QTimer* m_importTimer = nullptr;
  QHBoxLayout* m_buttons = nullptr;
  QHBoxLayout* m_below = nullptr;
  bool m_checkBelow = false;
};
