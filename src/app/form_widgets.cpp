#include "form_widgets.h"

#include <QCheckBox>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTableView>
#include <algorithm>

namespace {
// Outside a dialog a focused button takes only Space; Enter and Return
// press it too, as operators expect of a focused "Set".
class EnterPresses : public QObject {
 public:
  explicit EnterPresses(QPushButton* button) : QObject(button), m_button(button) {
    button->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != m_button || event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
        key->modifiers() & ~Qt::KeypadModifier)
      return false;
    if (!key->isAutoRepeat()) m_button->click();
    return true;
  }

 private:
  QPushButton* m_button;
};
}  // namespace

QFont ControlFont() {
  QFont f(
      QStringList{QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  f.setPointSize(11);
  return f;
}

QFont BmtFont() {
  QFont f(QStringList{QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
  f.setPointSize(11);
  return f;
}

QFont GridFont() {
  QFont f(QStringList{QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
  f.setPointSize(8);
  return f;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = Named(new QLabel(text, parent), name);
  label->setFont(ControlFont());
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
  auto* button = Named(new QPushButton(text, parent), name);
  button->setFont(ControlFont());
  new EnterPresses(button);
  return button;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& text) {
  auto* check = Named(new QCheckBox(text, parent), name);
  check->setFont(ControlFont());
  return check;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text, int maxLength, int width) {
  auto* edit = Named(new QLineEdit(text, parent), name);
  if (maxLength > 0) edit->setMaxLength(maxLength);
  if (width > 0) edit->setFixedWidth(width);
  return edit;
}

void SetupGridView(QTableView* view, int rowHeight) {
  view->setFont(GridFont());
  view->horizontalHeader()->setFont(GridFont());
  view->verticalHeader()->hide();
  view->verticalHeader()->setDefaultSectionSize(rowHeight);
  view->verticalHeader()->setMinimumSectionSize(rowHeight);
  view->horizontalHeader()->setHighlightSections(false);
  view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  // Titles sit at the cell's left, as the data does.
  view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  view->setWordWrap(false);
  // Tab moves on to the next control instead of through the cells.
  view->setTabKeyNavigation(false);
}

int FitColumnsToTitles(QTableView* view, const QList<int>& widths) {
  QHeaderView* header = view->horizontalHeader();
  int total = 0;
  for (int c = 0; c < widths.size(); ++c) {
    view->setColumnWidth(c, std::max(widths[c], header->sectionSizeHint(c)));
    total += view->columnWidth(c);
  }
  return total;
}
