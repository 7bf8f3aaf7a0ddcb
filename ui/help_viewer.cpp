#include "help_viewer.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QFileInfo>
#include <QHash>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app_icon.h"

namespace {
QHash<QString, THelpViewer*>& OpenViewers() {
  static QHash<QString, THelpViewer*> viewers;
  return viewers;
}

QString Canonical(const QString& path) { return QFileInfo(path).absoluteFilePath(); }
}  // namespace

QString HelpFileMissingText(const QString& path) {
  return QStringLiteral("Die Hilfedatei „%1“ wurde nicht gefunden oder kann nicht gelesen werden.").arg(path);
}

THelpViewer* THelpViewer::Find(const QString& path) { return OpenViewers().value(Canonical(path)); }

THelpViewer* THelpViewer::ShowFile(const QString& path) {
  THelpViewer* viewer = Find(path);
  if (!viewer) {
    viewer = new THelpViewer(Canonical(path));
    viewer->PlaceOnScreen();
  }
  viewer->show();
  viewer->raise();
  viewer->activateWindow();
  return viewer;
}

THelpViewer::THelpViewer(const QString& path) : FFilePath(path), FBrowser(new QTextBrowser(this)) {
  setObjectName(QStringLiteral("HelpViewer"));
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_QuitOnClose, false);  // closing the main window still ends the program
  setWindowTitle(QStringLiteral("Omvra Ratavel – Hilfe"));
  setWindowIcon(AppIcon());
  FBrowser->setOpenExternalLinks(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(FBrowser);
  resize(640, 560);
  OpenViewers().insert(FFilePath, this);
  Load();
}

THelpViewer::~THelpViewer() { OpenViewers().remove(FFilePath); }

// Wholly on the screen of the active window, towards its right edge, so it opens beside the About
// box and the main window rather than behind them; never larger than the screen's free area.
void THelpViewer::PlaceOnScreen() {
  const QWidget* active = QApplication::activeWindow();
  const QScreen* screen = active ? active->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect available = screen->availableGeometry();
  const QSize frame(40, 60);  // what a window manager adds at most, before it is known
  resize(size().boundedTo(available.size() - frame));
  const QRect wanted(QPoint(available.right() - width() - frame.width() / 2, available.top() + frame.height() / 2),
                     size());
  move(wanted.topLeft().x() < available.left() ? available.left() : wanted.left(), wanted.top());
}

void THelpViewer::Load() {
  QFile file(FFilePath);
  if (!file.open(QIODevice::ReadOnly) || QFileInfo(FFilePath).isDir()) {
    FBrowser->setPlainText(HelpFileMissingText(FFilePath));
    return;
  }
  FBrowser->setSearchPaths({QFileInfo(FFilePath).absolutePath()});
  FBrowser->setHtml(QString::fromUtf8(file.readAll()));
}
