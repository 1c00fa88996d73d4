#pragma once
// The strip above the tab: the repeater to work with, "Set in Korvex" with
// its BMT box, the change of the repeater's ID and the custom HEX data.

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The strip's controls under their control names (TForm1 shows them under
// the same names).
struct CommandStripControls {
  QLabel* Label2 = nullptr;
  QLineEdit* Edit_repeaterID = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QCheckBox* Check_bmt = nullptr;
  QLabel* Label10 = nullptr;
  QLineEdit* Edit_newID = nullptr;
  QPushButton* BitBtn9 = nullptr;
  QPushButton* Button1 = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* Edit_send_command = nullptr;
};

class CommandStrip : public QWidget, public CommandStripControls {
  Q_OBJECT

 public:
  explicit CommandStrip(QWidget* parent = nullptr);
};
