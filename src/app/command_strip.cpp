#include "command_strip.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "form_widgets.h"
#include "key_filters.h"

CommandStrip::CommandStrip(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CommandStrip"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);

  auto* row1 = new QHBoxLayout();
  Label2 = MakeLabel(this, "Label2", QStringLiteral("Enter REPEATER ID to work with"));
  Edit_repeaterID = MakeEdit(this, "Edit_repeaterID", QString(), 8, 96);
  Edit_repeaterID->setFont(ControlFont());
  BitBtn2 = MakeButton(this, "BitBtn2", QStringLiteral("Set in Korvex"));
  Check_bmt = Named(new QCheckBox(QStringLiteral("BMT"), this), "Check_bmt");
  Check_bmt->setFont(BmtFont());
  Label10 = MakeLabel(this, "Label10", QStringLiteral("Change repeater ID"));
  Edit_newID = MakeEdit(this, "Edit_newID", QString(), 8, 96);
  Edit_newID->setFont(ControlFont());
  BitBtn9 = MakeButton(this, "BitBtn9", QStringLiteral("Set"));
  row1->addWidget(Label2);
  row1->addWidget(Edit_repeaterID);
  row1->addWidget(BitBtn2);
  row1->addSpacing(8);
  row1->addWidget(Check_bmt);
  row1->addSpacing(40);
  row1->addWidget(Label10);
  row1->addWidget(Edit_newID);
  row1->addWidget(BitBtn9);
  row1->addStretch();
  layout->addLayout(row1);

  auto* row2 = new QHBoxLayout();
  Button1 = MakeButton(this, "Button1", QStringLiteral("Send custom HEX data"));
  Label3 = MakeLabel(this, "Label3", QStringLiteral("Enter only data part to be sent, in HEX"));
  Edit_send_command = MakeEdit(this, "Edit_send_command", QString(), 64, 0);
  Edit_send_command->setFont(ControlFont());
  row2->addWidget(Button1);
  row2->addWidget(Label3);
  row2->addWidget(Edit_send_command, 1);
  layout->addLayout(row2);

  for (QLineEdit* edit : {Edit_repeaterID, Edit_newID}) (new DigitKeyFilter(edit))->AllowClipboard();
}
