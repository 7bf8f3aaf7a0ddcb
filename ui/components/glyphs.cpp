#include "ui/components/glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
QPixmap Draw(const QPainterPath& shape, const QColor& colour) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillPath(shape, colour);
  return pixmap;
}

QIcon TwoStates(const QPainterPath& shape) {
  QIcon icon;
  icon.addPixmap(Draw(shape, Qt::black), QIcon::Normal);
  icon.addPixmap(Draw(shape, QColor(128, 128, 128)), QIcon::Disabled);
  return icon;
}
}  // namespace

QIcon StartGlyph() {
  QPainterPath triangle;
  triangle.moveTo(4, 2);
  triangle.lineTo(13, 8);
  triangle.lineTo(4, 14);
  triangle.closeSubpath();
  return TwoStates(triangle);
}

QIcon StopGlyph() {
  QPainterPath square;
  square.addRect(3, 3, 10, 10);
  return TwoStates(square);
}
