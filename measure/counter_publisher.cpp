#include "measure/counter_publisher.h"

#include <algorithm>
#include <limits>

#include "measure/measurement_counters.h"

TCounterPublisher::TCounterPublisher(std::uint32_t maxStep)
    : FFullWindow(std::numeric_limits<std::uint32_t>::max() - maxStep) {
  FRunStart = GetTickCount();
  Counters.RunStartTick = FRunStart;
  Counters.Restart(1);
  FWindowStart = FTotalRead = FRunStart;
}

std::uint32_t TCounterPublisher::ElapsedMs() const { return GetTickCount() - FRunStart; }

void TCounterPublisher::Publish(std::uint32_t now, bool totalDue, bool windowClosed, std::uint64_t moved) {
  Counters.BeginUpdate();
  FPublishedElapsed = now - FRunStart;
  Counters.ElapsedMs = FPublishedElapsed;
  if (windowClosed || totalDue) {
    Counters.TotalBytes = FTotal;
    Counters.TotalMs = FPublishedElapsed;
  }
  if (windowClosed) {
    Counters.WindowBytes = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(FTotal - FTotalAtWindowStart, std::numeric_limits<std::uint32_t>::max()));
    Counters.WindowMs = GetTickCount() - FWindowStart;
    FWindowStart = GetTickCount();
    FMovedAtWindowStart = moved;
    FTotalAtWindowStart = FTotal;
  }
  Counters.EndUpdate();
}
