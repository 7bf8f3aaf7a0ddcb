#pragma once
// Two windows' pictures side by side on white, as the documentation and the network lab show the
// main window with its details beside it when the windows draw themselves offscreen.

#include <QPainter>
#include <QPixmap>

#include <algorithm>

inline QPixmap SideBySide(const QPixmap& left, const QPixmap& right, int gap = 8) {
  QPixmap both(left.width() + gap + right.width(), std::max(left.height(), right.height()));
  both.fill(Qt::white);
  QPainter painter(&both);
  painter.drawPixmap(0, 0, left);
  painter.drawPixmap(left.width() + gap, 0, right);
  painter.end();
  return both;
}
