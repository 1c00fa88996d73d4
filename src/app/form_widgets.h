#pragma once
// Small makers shared by the main window's panels: named controls in the
// fonts the window was laid out with, and the grids' common setup.

#include <QFont>
#include <QList>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QWidget;
class QObject;

// Linux stand-ins for the fonts of the layout.
QFont ControlFont();
QFont BmtFont();
// The grids keep the small window font inside the larger-font page.
QFont GridFont();

template <class W>
W* Named(W* object, const char* name) {
  object->setObjectName(QString::fromLatin1(name));
  return object;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text);
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text);
QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& text);
// maxLength or width 0: no limit, the layout decides.
QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text, int maxLength, int width);

void SetupGridView(QTableView* view, int rowHeight);
// Each column as wide as laid out, or as its title needs when that is more;
// the sum of the widths.
int FitColumnsToTitles(QTableView* view, const QList<int>& widths);
