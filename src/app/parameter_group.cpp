#include "parameter_group.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "form_widgets.h"
#include "key_filters.h"
#include "up_down.h"

ParameterGroup::ParameterGroup(QWidget* parent)
    : QGroupBox(QStringLiteral("   Setting parameters   "), parent) {
  setObjectName(QStringLiteral("GroupBox1"));
  setFont(ControlFont());
  QWidget* g = this;
  auto* grid = new QGridLayout(this);
  // Tight rows: the group sets the tab's smallest height.
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setVerticalSpacing(1);
  grid->setHorizontalSpacing(4);

  auto spinPair = [g](QLineEdit* edit, UpDown* spin) {
    auto* box = new QWidget(g);
    auto* h = new QHBoxLayout(box);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(0);
    h->addWidget(edit);
    h->addWidget(spin);
    h->addStretch();
    spin->SetBuddy(edit);
    return box;
  };

  Label_datetime = MakeLabel(g, "Label_datetime", QString());
  // Rewritten every second: painting its own background spares the group
  // box behind it a repaint of its whole frame at each tick.
  Label_datetime->setAutoFillBackground(true);
  BitBtn1 = MakeButton(g, "BitBtn1", QStringLiteral("Set datetime"));
  grid->addWidget(Label_datetime, 0, 0, 1, 2, Qt::AlignLeft | Qt::AlignVCenter);
  grid->addWidget(BitBtn1, 0, 2);

  Label5 = MakeLabel(g, "Label5", QStringLiteral("Calibrate clock"));
  Check_onClock = MakeCheck(g, "Check_onClock", QStringLiteral("On/Off"));
  Edit1 = MakeEdit(g, "Edit1", QString(), 0, 56);
  Button5 = MakeButton(g, "Button5", QStringLiteral("Set"));
  auto* calib = new QWidget(g);
  auto* calibRow = new QHBoxLayout(calib);
  calibRow->setContentsMargins(0, 0, 0, 0);
  calibRow->addWidget(Check_onClock);
  calibRow->addWidget(Edit1);
  calibRow->addStretch();
  grid->addWidget(Label5, 1, 0);
  grid->addWidget(calib, 1, 1);
  grid->addWidget(Button5, 1, 2);

  Label1 = MakeLabel(g, "Label1", QStringLiteral("RX hours:"));
  Edit_rxtime = MakeEdit(g, "Edit_rxtime", QStringLiteral("1"), 0, 40);
  UD_rxtime = Named(new UpDown(1, 6, 1, g), "UD_rxtime");
  Button2 = MakeButton(g, "Button2", QStringLiteral("Set"));
  grid->addWidget(Label1, 2, 0);
  grid->addWidget(spinPair(Edit_rxtime, UD_rxtime), 2, 1);
  grid->addWidget(Button2, 2, 2);

  Label9 = MakeLabel(g, "Label9", QStringLiteral("RX start hour (0-23)"));
  Edit_rxstarttime = MakeEdit(g, "Edit_rxstarttime", QStringLiteral("1"), 2, 40);
  Edit_rxstarttime->setReadOnly(true);
  UD_rxstarttime = Named(new UpDown(0, 23, 1, g), "UD_rxstarttime");
  BitBtn5 = MakeButton(g, "BitBtn5", QStringLiteral("Set"));
  grid->addWidget(Label9, 3, 0);
  grid->addWidget(spinPair(Edit_rxstarttime, UD_rxstarttime), 3, 1);
  grid->addWidget(BitBtn5, 3, 2);

  Button3 = MakeButton(g, "Button3", QStringLiteral("Set both Start and Operating time"));
  grid->addWidget(Button3, 4, 0, 1, 3);

  Label4 = MakeLabel(g, "Label4", QStringLiteral("Wireless mode"));
  Combo_wirelessMode = Named(new QComboBox(g), "Combo_wirelessMode");
  Combo_wirelessMode->addItems({QStringLiteral("Mode T+C"), QStringLiteral("Mode T"),
                                QStringLiteral("Mode S"), QStringLiteral("Mode C")});
  Combo_wirelessMode->setCurrentIndex(0);
  Button4 = MakeButton(g, "Button4", QStringLiteral("Set"));
  grid->addWidget(Label4, 5, 0);
  grid->addWidget(Combo_wirelessMode, 5, 1);
  grid->addWidget(Button4, 5, 2);

  CheckBox2 = MakeCheck(g, "CheckBox2", QStringLiteral("Set/Clear flag"));
  Edit_flag = MakeEdit(g, "Edit_flag", QStringLiteral("1"), 2, 40);
  BitBtn8 = MakeButton(g, "BitBtn8", QStringLiteral("Set"));
  grid->addWidget(CheckBox2, 6, 0);
  grid->addWidget(Edit_flag, 6, 1);
  grid->addWidget(BitBtn8, 6, 2);

  Label11 = MakeLabel(g, "Label11", QStringLiteral("1 - Auto mode (always ON) "));
  Label6 = MakeLabel(g, "Label6", QStringLiteral("3 - Clock Debug (service)"));
  Label12 = MakeLabel(g, "Label12", QStringLiteral("33 - put in Sleep"));
  grid->addWidget(Label11, 7, 0, 1, 3);
  grid->addWidget(Label6, 8, 0, 1, 3);
  grid->addWidget(Label12, 9, 0, 1, 3);
  grid->setRowStretch(10, 1);

  for (QLineEdit* edit : {Edit_rxtime, Edit_rxstarttime, Edit1}) new DigitKeyFilter(edit);
  // Edit_flag: the text before the key decides; a value that cannot grow
  // into a flag number (1..32) is replaced by the typed digit.
  new DigitKeyFilter(Edit_flag, [](QLineEdit& edit, char) {
    if (FlagTextMustRestart(edit.text())) edit.clear();
  });
}
