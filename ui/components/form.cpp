#include "ui/components/form.h"

#include <QGuiApplication>
#include <QWindow>

#include <utility>

#include "base/application_exception.h"
#include "ui/components/frame_extents_watch.h"

namespace {
// The frame that window systems with decorations draw, as the window's design assumes it: a
// 4-pixel border and a title bar that makes the top 23 pixels high.
constexpr QMargins DesignFrame{4, 23, 4, 4};

QSize Thickness(QMargins frame) { return {frame.left() + frame.right(), frame.top() + frame.bottom()}; }
QPoint TopLeft(QMargins frame) { return {frame.left(), frame.top()}; }
}  // namespace

TForm::TForm(QWidget* parent) : QMainWindow(parent) {}
TForm::~TForm() = default;

void TForm::DoDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  if (OnDestroy) RunGuarded([this] { OnDestroy(this); });
}

void TForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The frame is known once the window is on the screen; its window's events tell when.
  if (!FFrameWatch && windowHandle()) {
    windowHandle()->installEventFilter(this);
    FFrameWatch = std::make_unique<TFrameExtentsWatch>(*windowHandle(), [this] { FrameMayBeKnown(); });
  }
  if (OnShow) RunGuarded([this] { OnShow(this); });
}

void TForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) FrameMayBeKnown();
}

void TForm::FrameMayBeKnown() {
  if (!FOuterAsked && !FMinimumOuterAsked && !FPositionAsked) return;
  // Queued: Qt takes the new frame up only after the event that brought it.
  QMetaObject::invokeMethod(
      this, [this] { ApplyRealFrame(); }, Qt::QueuedConnection);
}

bool TForm::eventFilter(QObject* watched, QEvent* event) {
  // The frame may be reported after the first exposure: the moves and resizes the window manager
  // makes when it frames the window tell of it as well.
  const bool mayKnowFrame =
      event->type() == QEvent::Expose || event->type() == QEvent::Move || event->type() == QEvent::Resize;
  if (watched == windowHandle() && mayKnowFrame) FrameMayBeKnown();
  return QMainWindow::eventFilter(watched, event);
}

QPoint TForm::OuterTopLeft() const {
  if (FrameAssumed()) return frameGeometry().topLeft();  // where it was asked to go, frame included
  return geometry().topLeft() - TopLeft(FrameMargins());
}

QSize TForm::OuterSize() const { return size() + Thickness(FrameMargins()); }

void TForm::MoveOuter(QPoint position) {
  if (FrameAssumed()) {
    FPositionAsked = position;
    move(position);
    return;
  }
  FPositionAsked.reset();
  // move() counts the frame Qt last gave the widget, which lags behind the window manager's.
  const QPoint framedByQt = geometry().topLeft() - frameGeometry().topLeft();
  move(position + TopLeft(FrameMargins()) - framedByQt);
}

void TForm::SetOuterSize(QSize outer) {
  FOuterAsked = FrameAssumed() ? std::optional(outer) : std::nullopt;
  resize(outer - Thickness(FrameMargins()));
}

void TForm::SetMinimumOuterSize(QSize outer) {
  FMinimumOuterAsked = FrameAssumed() ? std::optional(outer) : std::nullopt;
  setMinimumSize(outer - Thickness(FrameMargins()));
}

void TForm::ApplyRealFrame() {
  if (FrameAssumed() || !windowHandle() || !windowHandle()->isExposed()) return;
  const QSize frame = Thickness(FrameMargins());
  if (FMinimumOuterAsked) setMinimumSize(*std::exchange(FMinimumOuterAsked, std::nullopt) - frame);
  // A maximised or minimised window keeps the size for when it is shown normally again.
  if (WindowState() != wsNormal) return;
  if (FOuterAsked) resize(*std::exchange(FOuterAsked, std::nullopt) - frame);
  if (FPositionAsked) MoveOuter(*FPositionAsked);
}

bool TForm::FrameAssumed() const {
  // The window's own frame is the window manager's latest word; the widget's frame geometry
  // follows it only at the next move or resize. Before the window is framed it reads as none or,
  // while the window manager builds the frame, as one that does not reach around the window.
  if (testAttribute(Qt::WA_WState_Created) && windowHandle()) {
    const QMargins real = windowHandle()->frameMargins();
    const bool aroundTheWindow = real.left() >= 0 && real.top() >= 0 && real.right() >= 0 && real.bottom() >= 0;
    // A hidden window loses its frame, but the size saved at the end must count the one it had.
    if (aroundTheWindow && !real.isNull()) FKnownFrame = real;
  }
  if (FKnownFrame) return false;
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

QMargins TForm::FrameMargins() const {
  if (FrameAssumed()) return DesignFrame;  // not framed yet by the window manager
  return FKnownFrame.value_or(QMargins());
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
