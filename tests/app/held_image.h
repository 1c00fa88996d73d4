#pragma once
// What a shown widget looks like in its window's backing store (what the
// screen gets), beside a fresh paint of the whole widget. A widget that
// repaints only what changed must end up looking like the fresh paint.
#include <QImage>
#include <QScreen>
#include <QWidget>

inline QImage HeldImage(QWidget& widget) {
  const QPoint at = widget.mapTo(widget.window(), QPoint(0, 0));
  return widget.screen()
      ->grabWindow(widget.window()->winId(), at.x(), at.y(), widget.width(), widget.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

inline bool LooksAsIfPaintedAnew(QWidget& widget) {
  return HeldImage(widget) == widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}
