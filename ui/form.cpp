#include "form.h"

#include <QGuiApplication>

#include "application_exception.h"

namespace {
// The frame that window systems with decorations draw, as the window's design assumes it.
constexpr QSize DesignFrame{8, 27};
}  // namespace

void TForm::DoDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  if (OnDestroy) RunGuarded([this] { OnDestroy(this); });
}

void TForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (OnShow) RunGuarded([this] { OnShow(this); });
}

QSize TForm::FrameMargins() const {
  const QSize real = frameGeometry().size() - size();
  if (testAttribute(Qt::WA_WState_Created) && !real.isEmpty()) return real;
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return real;
  return DesignFrame;  // not framed yet by the window manager
}

TWindowState TForm::WindowState() const {
  const Qt::WindowStates state = windowState();
  if (state & Qt::WindowMinimized) return wsMinimized;
  if (state & Qt::WindowMaximized) return wsMaximized;
  return wsNormal;
}

void TForm::SetWindowState(TWindowState state) {
  switch (state) {
    case wsMinimized: setWindowState(Qt::WindowMinimized); break;
    case wsMaximized: setWindowState(Qt::WindowMaximized); break;
    default: setWindowState(Qt::WindowNoState); break;
  }
}
