#include "tests/stress/ui_watch.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>

namespace stress {
namespace {
constexpr int BeatMs = 5;
}

TUiWatch::TUiWatch() {
  FTimer.setTimerType(Qt::PreciseTimer);
  FTimer.setInterval(BeatMs);
  QObject::connect(&FTimer, &QTimer::timeout, this, [this] { Beat(); });
  FTimer.start();
  FSinceLastBeat.start();
  QCoreApplication::instance()->installEventFilter(this);
}

TUiWatch::~TUiWatch() { QCoreApplication::instance()->removeEventFilter(this); }

void TUiWatch::Reset() {
  FLongestGapMs = 0;
  FSocketActivations = 0;
  FSinceLastBeat.restart();
}

std::chrono::milliseconds TUiWatch::LongestBlock() const {
  const qint64 gap = std::max(FLongestGapMs, FSinceLastBeat.elapsed());
  return std::chrono::milliseconds(std::max<qint64>(0, gap - BeatMs));
}

bool TUiWatch::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::SockAct) ++FSocketActivations;
  return QObject::eventFilter(watched, event);
}

void TUiWatch::Beat() { FLongestGapMs = std::max(FLongestGapMs, FSinceLastBeat.restart()); }

}  // namespace stress
