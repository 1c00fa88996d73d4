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

class ParameterGroup : public QGroupBox {
  Q_OBJECT

 public:
  explicit ParameterGroup(QWidget* parent = nullptr);

  QLabel* Label_datetime;
  QPushButton* BitBtn1;
  QLabel* Label5;
  QCheckBox* Check_onClock;
  QLineEdit* Edit1;
  QPushButton* Button5;
  QLabel* Label1;
  QLineEdit* Edit_rxtime;
  UpDown* UD_rxtime;
  QPushButton* Button2;
  QLabel* Label9;
  QLineEdit* Edit_rxstarttime;
  UpDown* UD_rxstarttime;
  QPushButton* BitBtn5;
  QPushButton* Button3;
  QLabel* Label4;
  QComboBox* Combo_wirelessMode;
  QPushButton* Button4;
  QCheckBox* CheckBox2;
  QLineEdit* Edit_flag;
  QPushButton* BitBtn8;
  QLabel* Label11;
  QLabel* Label6;
  QLabel* Label12;
};
