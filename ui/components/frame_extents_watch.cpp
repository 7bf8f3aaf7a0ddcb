#include "ui/components/frame_extents_watch.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {
std::uint32_t FrameExtentsAtom() {
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return 0;
  xcb_connection_t* connection = x11->connection();
  static constexpr char name[] = "_NET_FRAME_EXTENTS";
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
  if (!reply) return 0;
  const std::uint32_t atom = reply->atom;
  std::free(reply);
  return atom;
}
}  // namespace

TFrameExtentsWatch::TFrameExtentsWatch(const QWindow& window, std::function<void()> onChange)
    : FWindow(window), FOnChange(std::move(onChange)), FAtom(FrameExtentsAtom()) {
  if (FAtom) qGuiApp->installNativeEventFilter(this);
}

TFrameExtentsWatch::~TFrameExtentsWatch() {
  if (FAtom) qGuiApp->removeNativeEventFilter(this);
}

bool TFrameExtentsWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
  const auto* change = static_cast<const xcb_property_notify_event_t*>(message);
  if (change->atom == FAtom && FWindow.handle() && change->window == FWindow.winId()) FOnChange();
  return false;  // Qt takes the new frame up itself
}
