#pragma once
// The application's icon: a red rate line on a plot in a blue tile. Drawn by the program at every
// size, the same picture as resources/korvaden.svg.

#include <QIcon>
#include <QImage>

QImage AppIconImage(int size);
QIcon AppIcon();
