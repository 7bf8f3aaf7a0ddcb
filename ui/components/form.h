#pragma once
// A top-level window with the two notification slots that components chain themselves into:
// OnShow runs at every showing, OnDestroy once when the window is destroyed, while all its
// controls still exist. Left, Top, Width and Height are the outer rectangle, frame included.

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

class TFrameExtentsWatch;

using TNotifyEvent = std::function<void(QObject* Sender)>;

enum TWindowState { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

class TForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm(QWidget* parent = nullptr);
  ~TForm() override;

  TNotifyEvent OnShow;
  TNotifyEvent OnDestroy;

  // Runs OnDestroy once; the window's own destructor calls it at the latest.
  void DoDestroy();

  int Left() const { return OuterTopLeft().x(); }
  int Top() const { return OuterTopLeft().y(); }
  int Width() const { return OuterSize().width(); }
  int Height() const { return OuterSize().height(); }
  void SetLeft(int left) { MoveOuter({left, Top()}); }
  void SetTop(int top) { MoveOuter({Left(), top}); }
  // Places the frame's top left corner.
  void MoveOuter(QPoint position);
  void SetWidth(int width) { SetOuterSize({width, Height()}); }
  void SetHeight(int height) { SetOuterSize({Width(), height}); }
  QPoint OuterTopLeft() const;
  QSize OuterSize() const;
  void SetOuterSize(QSize outer);
  void SetMinimumOuterSize(QSize outer);

  TWindowState WindowState() const;
  void SetWindowState(TWindowState state);

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The frame the window system draws around the client area: the real one once the window has
  // been framed (kept when it is hidden again), before that the usual title bar and border (none
  // on the offscreen platform).
  QMargins FrameMargins() const;

 private:
  bool FrameAssumed() const;
  // Outer sizes and positions set while the frame was only assumed are set again once the window
  // manager has framed the window, so the window has the outer rectangle it was given, whatever
  // frame it got, and a remembered size comes back unchanged instead of drifting at every run.
  void ApplyRealFrame();
  void FrameMayBeKnown();

  bool FDestroyed = false;
  std::unique_ptr<TFrameExtentsWatch> FFrameWatch;
  std::optional<QPoint> FPositionAsked;
  std::optional<QSize> FOuterAsked;
  std::optional<QSize> FMinimumOuterAsked;
  mutable std::optional<QMargins> FKnownFrame;  // the window manager's frame, once it has drawn one
};
