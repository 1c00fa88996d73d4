#include "grid_views.h"

#include <QKeyEvent>
#include <QPainter>
#include <utility>

TableCellDelegate::TableCellDelegate(std::function<int()> selectedRow, QObject* parent)
    : QStyledItemDelegate(parent), m_selectedRow(std::move(selectedRow)) {}

void TableCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  // The title row is the view's header, which never comes through here, so
  // it is never highlighted.
  const int row = index.row() + 1;
  const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                     : (opt.state & QStyle::State_Active) ? QPalette::Active
                                                                          : QPalette::Inactive;
  QBrush brush;
  QColor text = opt.palette.color(group, QPalette::Text);
  if (row == m_selectedRow()) {
    // The system highlight colour, whether or not the window has the focus.
    brush = opt.palette.brush(QPalette::Active, QPalette::Highlight);
    text = opt.palette.color(QPalette::Active, QPalette::HighlightedText);
  } else if (opt.state & QStyle::State_Selected) {
    brush = opt.palette.brush(group, QPalette::Highlight);
    text = opt.palette.color(group, QPalette::HighlightedText);
  } else if (opt.backgroundBrush.style() != Qt::NoBrush) {
    brush = opt.backgroundBrush;
  } else {
    brush = opt.palette.brush(
        group, opt.features & QStyleOptionViewItem::Alternate ? QPalette::AlternateBase : QPalette::Base);
  }
  painter->save();
  painter->setClipRect(opt.rect);
  painter->fillRect(opt.rect, brush);
  painter->setFont(opt.font);
  painter->setPen(text);
  painter->drawText(opt.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, opt.text);
  painter->restore();
}

namespace {
bool HandleKey(const GridKeyHandler& handler, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !handler) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  return handler(key->key(), key->modifiers());
}
}  // namespace

GridKeyFilter::GridKeyFilter(QObject* grid, GridKeyHandler handler)
    : QObject(grid), m_handler(std::move(handler)) {
  grid->installEventFilter(this);
}

bool GridKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  return HandleKey(m_handler, event) || QObject::eventFilter(watched, event);
}

EditorKeyDelegate::EditorKeyDelegate(GridKeyHandler handler, GridKeyHandler commitFirst, QObject* parent)
    : QStyledItemDelegate(parent), m_handler(std::move(handler)), m_commitFirst(std::move(commitFirst)) {}

bool EditorKeyDelegate::eventFilter(QObject* editor, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(editor);
  if (widget && HandleKey(m_commitFirst, event)) emit commitData(widget);
  return HandleKey(m_handler, event) || QStyledItemDelegate::eventFilter(editor, event);
}
