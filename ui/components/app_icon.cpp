#include "ui/components/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

QImage AppIconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 256.0, size / 256.0);  // drawn in the SVG's 256-unit square
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1f, 0x4e, 0x79));
  painter.drawRoundedRect(QRectF(8, 8, 240, 240), 40, 40);
  painter.setBrush(QColor(0xf4, 0xf6, 0xf8));
  painter.drawRoundedRect(QRectF(36, 44, 184, 168), 8, 8);
  painter.setPen(QPen(QColor(0xc9, 0xd1, 0xd9), 4));
  painter.drawLine(QPointF(36, 100), QPointF(220, 100));
  painter.drawLine(QPointF(36, 156), QPointF(220, 156));
  painter.setPen(QPen(QColor(0xd0, 0x10, 0x10), 14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  const QPolygonF line{{52, 184}, {88, 150}, {116, 166}, {150, 104}, {184, 120}, {206, 68}};
  painter.drawPolyline(line);
  return image;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
  return icon;
}
