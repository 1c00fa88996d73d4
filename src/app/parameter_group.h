#pragma once
// GroupBox1, "Setting parameters": the repeater parameters with their
// "Set" buttons, and the legend of the flag values.

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class UpDown;

// The group's controls under their control names (TForm1 shows them under
// the same names).
struct ParameterGroupControls {
  QLabel* Label_datetime = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QLabel* Label5 = nullptr;
  QCheckBox* Check_onClock = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* Button5 = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* Edit_rxtime = nullptr;
  UpDown* UD_rxtime = nullptr;
  QPushButton* Button2 = nullptr;
  QLabel* Label9 = nullptr;
  QLineEdit* Edit_rxstarttime = nullptr;
  UpDown* UD_rxstarttime = nullptr;
  QPushButton* BitBtn5 = nullptr;
  QPushButton* Button3 = nullptr;
  QLabel* Label4 = nullptr;
  QComboBox* Combo_wirelessMode = nullptr;
  QPushButton* Button4 = nullptr;
  QCheckBox* CheckBox2 = nullptr;
  QLineEdit* Edit_flag = nullptr;
  QPushButton* BitBtn8 = nullptr;
  QLabel* Label11 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Label12 = nullptr;
};

class ParameterGroup : public QGroupBox, public ParameterGroupControls {
  Q_OBJECT

 public:
  explicit ParameterGroup(QWidget* parent = nullptr);
};
