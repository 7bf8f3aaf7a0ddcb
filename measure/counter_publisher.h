#pragma once
// The worker's side of the counters: starts a run's clock and, pass by pass, publishes the
// elapsed time, about every 10 ms the run's total and every half second the last window. Both
// directions publish alike, so a chart point means the same whichever way the data went.

#include <cstdint>

#include "base/tick_clock.h"

class TCounterPublisher {
 public:
  // How often the total is read: a point's interval ends at most about this long before the tick
  // that draws it.
  static constexpr std::uint32_t TotalIntervalMs = 10;

  // Starts the run's clock with all counters at zero. maxStep: the most bytes one pass can move.
  explicit TCounterPublisher(std::uint32_t maxStep);

  // One pass of the worker's loop. moved: the bytes this computer handed over or took since the
  // start; readTotal(elapsedMs) gives the run's total and is called only when the total is due.
  template <typename ReadTotal>
  void Pass(std::uint64_t moved, ReadTotal&& readTotal);

  std::uint32_t ElapsedMs() const;

 private:
  // What a pass found due; publishes it between BeginUpdate and EndUpdate.
  void Publish(std::uint32_t now, bool totalDue, bool windowClosed, std::uint64_t moved);

  std::uint32_t FRunStart;
  std::uint32_t FWindowStart;
  std::uint32_t FTotalRead;
  std::uint32_t FPublishedElapsed = 1;
  std::uint32_t FFullWindow;
  std::uint64_t FMovedAtWindowStart = 0;
  std::uint64_t FTotal = 0;
  std::uint64_t FTotalAtWindowStart = 0;
};

template <typename ReadTotal>
void TCounterPublisher::Pass(std::uint64_t moved, ReadTotal&& readTotal) {
  // A tick that finds the worker updating adds no point. So the clock is read before the update
  // begins, and a pass that would only store the elapsed time it stored before (passes take
  // microseconds, the clock counts milliseconds) updates nothing: the update is a few stores about
  // a thousand times a second, and a tick almost never meets one.
  const std::uint32_t now = GetTickCount();
  // A window normally closes after 500 ms; it closes early rather than let its 32-bit byte count
  // wrap on a very fast link, which would show a plainly wrong rate.
  const bool windowClosed = now - FWindowStart > 500 || moved - FMovedAtWindowStart > FFullWindow;
  const bool totalDue = now - FTotalRead >= TotalIntervalMs;
  if (now - FRunStart == FPublishedElapsed && !windowClosed && !totalDue) return;
  if (windowClosed || totalDue) {
    FTotal = readTotal(now - FRunStart);
    FTotalRead = now;
  }
  Publish(now, totalDue, windowClosed, moved);
}
