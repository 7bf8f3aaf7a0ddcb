// Writes the application icon as PNGs in the sizes desktops look for:
//   korvaden-icons DIRECTORY   ->   DIRECTORY/16x16/apps/korvaden.png ... DIRECTORY/256x256/apps/korvaden.png

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

#include "ui/components/app_icon.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "Aufruf: korvaden-icons VERZEICHNIS\n");
    return 2;
  }
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
    if (!QDir().mkpath(folder) || !AppIconImage(size).save(folder + QStringLiteral("/korvaden.png"))) return 1;
  }
  return 0;
}
