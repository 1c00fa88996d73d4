#pragma once
// TForm4, the about window: shown modeless from Help / "About", on top of
// the other windows.

#include <QDialog>

class QLabel;
class QPushButton;

class TForm4 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm4(QWidget* parent = nullptr);

  // Shows the window centred on `owner`.
  void ShowCentredOn(QWidget* owner);

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QPushButton* BitBtn1;

  void BitBtn1Click();
};
