#include "ui/components/help_viewer.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/components/app_icon.h"

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

THelpViewer* THelpViewer::ShowFile(const QString& path, const QWidget* beside) {
  THelpViewer* viewer = Find(path);
  if (!viewer) {
    viewer = new THelpViewer(Canonical(path));
    viewer->PlaceOnScreen(beside ? beside : QApplication::activeWindow());
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

// Beside the given window (the About box), wholly on its screen, so both can be read at once: to
// its right where there is room, else to its left, else on the wider side, narrowed to fit. Only
// where even that leaves too little room does it open over the box, towards the screen's right edge.
void THelpViewer::PlaceOnScreen(const QWidget* beside) {
  const QScreen* screen = beside ? beside->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect available = screen->availableGeometry();
  const QSize frame(40, 60);  // what a window manager adds at most, before it is known
  constexpr int ReadableWidth = 420;
  resize(size().boundedTo(available.size() - frame));
  const int top = available.top() + frame.height() / 2;
  const QRect box = beside ? beside->frameGeometry() : QRect();
  const int rightRoom = available.right() - box.right() - frame.width();
  const int leftRoom = box.left() - available.left() - frame.width();
  if (beside && std::max(rightRoom, leftRoom) >= ReadableWidth) {
    const bool right = rightRoom >= width() || rightRoom >= leftRoom;
    resize(std::min(width(), right ? rightRoom : leftRoom), height());
    move(right ? box.right() + 1 + frame.width() / 2 : box.left() - frame.width() / 2 - width(), top);
    return;
  }
  move(std::max(available.left(), available.right() - width() - frame.width() / 2), top);
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
