#pragma once
// Watches the user-interface thread from inside. A fine timer notes the longest gap between its
// ticks, which is the longest time the thread did not get back to its event loop; an application
// event filter counts socket notifications, so a thread spinning on a ready socket shows.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>

namespace stress {

class TUiWatch : public QObject {
 public:
  TUiWatch();
  ~TUiWatch() override;

  void Reset();
  std::chrono::milliseconds LongestBlock() const;
  int SocketActivations() const { return FSocketActivations; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Beat();

  QTimer FTimer;
  QElapsedTimer FSinceLastBeat;
  qint64 FLongestGapMs = 0;
  int FSocketActivations = 0;
};

}  // namespace stress
