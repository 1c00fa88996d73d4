#include "about_form.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

TForm4::TForm4(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("Form4"));
  setWindowTitle(QStringLiteral("RPT battery config -> About"));
  setFixedSize(351, 235);
  setModal(false);

  auto* layout = new QVBoxLayout(this);
  auto makeLabel = [this, layout](const char* name, const QString& text) {
    auto* label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignHCenter);
    layout->addWidget(label);
    return label;
  };
  Label1 = makeLabel("Label1", QStringLiteral("About this program"));
  QFont big(
      QStringList{QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  big.setPointSize(24);
  Label1->setFont(big);
  Label2 = makeLabel("Label2", QStringLiteral("Repeater on battery config program"));
  Label3 = makeLabel("Label3", QStringLiteral("v1.0.0.48"));
  Label4 = makeLabel("Label4", QStringLiteral("www.velmora.example"));
  Label4->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addStretch();

  BitBtn1 =
      new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("Close"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  layout->addWidget(BitBtn1, 0, Qt::AlignHCenter);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm4::BitBtn1Click);
}

void TForm4::BitBtn1Click() { hide(); }

void TForm4::ShowCentredOn(QWidget* owner) {
  if (owner) {
    const QRect frame = owner->frameGeometry();
    move(frame.center() - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
  activateWindow();
}
