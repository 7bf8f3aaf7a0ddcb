#pragma once
// Tells when the X window manager states the frame it draws around a window (the
// _NET_FRAME_EXTENTS property). Qt takes the new frame up at once, but reports it to the widget
// only at the window's next move or resize, which may never come once the window stands; this
// is the moment to look at the window's frame again. Does nothing on other platforms.

#include <QAbstractNativeEventFilter>
#include <QWindow>

#include <cstdint>
#include <functional>

class TFrameExtentsWatch : public QAbstractNativeEventFilter {
 public:
  TFrameExtentsWatch(const QWindow& window, std::function<void()> onChange);
  ~TFrameExtentsWatch() override;
  TFrameExtentsWatch(const TFrameExtentsWatch&) = delete;
  TFrameExtentsWatch& operator=(const TFrameExtentsWatch&) = delete;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  const QWindow& FWindow;
  std::function<void()> FOnChange;
  std::uint32_t FAtom = 0;  // none where the platform is not X11
};
