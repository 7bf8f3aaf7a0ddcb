#include "form.h"

#include <QGuiApplication>
#include <QWindow>

#include <utility>

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
  // The frame is known once the window is on the screen; its window's events tell when.
  if (!FWatchingWindow && windowHandle()) {
    windowHandle()->installEventFilter(this);
    FWatchingWindow = true;
  }
  if (OnShow) RunGuarded([this] { OnShow(this); });
}

void TForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && (FOuterAsked || FPositionAsked)) {
    QMetaObject::invokeMethod(this, [this] { ApplyRealFrame(); }, Qt::QueuedConnection);
  }
}

bool TForm::eventFilter(QObject* watched, QEvent* event) {
  // The frame may be reported after the first exposure: the moves and resizes the window manager
  // makes when it frames the window tell of it as well.
  const bool mayKnowFrame =
      event->type() == QEvent::Expose || event->type() == QEvent::Move || event->type() == QEvent::Resize;
  if (watched == windowHandle() && mayKnowFrame && (FOuterAsked || FMinimumOuterAsked || FPositionAsked)) {
    QMetaObject::invokeMethod(this, [this] { ApplyRealFrame(); }, Qt::QueuedConnection);
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm::MoveOuter(QPoint position) {
  FPositionAsked = FrameAssumed() ? std::optional(position) : std::nullopt;
  move(position);
}

void TForm::SetOuterSize(QSize outer) {
  FOuterAsked = FrameAssumed() ? std::optional(outer) : std::nullopt;
  resize(outer - FrameMargins());
}

void TForm::SetMinimumOuterSize(QSize outer) {
  FMinimumOuterAsked = FrameAssumed() ? std::optional(outer) : std::nullopt;
  setMinimumSize(outer - FrameMargins());
}

void TForm::ApplyRealFrame() {
  if (FrameAssumed() || !windowHandle() || !windowHandle()->isExposed()) return;
  if (FMinimumOuterAsked) setMinimumSize(*std::exchange(FMinimumOuterAsked, std::nullopt) - FrameMargins());
  // A maximised or minimised window keeps the size for when it is shown normally again.
  if (WindowState() != wsNormal) return;
  if (FOuterAsked) resize(*std::exchange(FOuterAsked, std::nullopt) - FrameMargins());
  if (FPositionAsked) move(*std::exchange(FPositionAsked, std::nullopt));
}

bool TForm::FrameAssumed() const {
  const QSize real = frameGeometry().size() - size();
  // A hidden window loses its frame, but the size saved at the end must count the one it had.
  if (testAttribute(Qt::WA_WState_Created) && !real.isEmpty()) FKnownFrame = real;
  if (FKnownFrame) return false;
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

QSize TForm::FrameMargins() const {
  if (FrameAssumed()) return DesignFrame;  // not framed yet by the window manager
  return FKnownFrame ? *FKnownFrame : frameGeometry().size() - size();
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
