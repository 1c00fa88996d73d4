#pragma once
// The strip above the tab: the repeater to work with, "Set in Korvex" with
// its BMT box, the change of the repeater's ID and the custom HEX data.

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CommandStrip : public QWidget {
  Q_OBJECT

 public:
  explicit CommandStrip(QWidget* parent = nullptr);

  QLabel* Label2;
  QLineEdit* Edit_repeaterID;
  QPushButton* BitBtn2;
  QCheckBox* Check_bmt;
  QLabel* Label10;
  QLineEdit* Edit_newID;
  QPushButton* BitBtn9;
  QPushButton* Button1;
  QLabel* Label3;
  QLineEdit* Edit_send_command;
};
