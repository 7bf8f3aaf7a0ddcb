#include "measure/rate_sampler.h"

#include <algorithm>

#include "measure/measure_texts.h"
#include "measure/measurement_counters.h"

namespace {
constexpr double VisibleSeconds = 60.0;
constexpr double HeadroomFactor = 1.1;
}  // namespace

TRateSampler::TRateSampler(TRateSeries& series, TChartAxis& bottomAxis, TChartAxis& leftAxis, TStatusText averageText)
    : FSeries(series), FBottomAxis(bottomAxis), FLeftAxis(leftAxis), FAverageText(std::move(averageText)) {
  FSeries.OnAfterAdd = [this](TRateSeries* Sender, int ValueIndex) { Series1AfterAdd(Sender, ValueIndex); };
}

void TRateSampler::BeginRun() {
  FLastTotal = {};
  FAverageText(AverageText(FSeries.Mean()));
}

void TRateSampler::Timer1Timer(QObject*) {
  TCounterSnapshot snapshot;
  if (!Counters.TrySnapshot(snapshot)) {  // the worker is publishing: skip this second
    ++FSkippedTicks;
    return;
  }
  if (snapshot.WindowMs == 0) return;
  const double x = snapshot.ElapsedMs / 1000.0;
  // No newer total since the last point (the worker has not read one yet): nothing was measured
  // in between, and the next point covers the whole time from the last one.
  FLastInterval = {FLastTotal.Ms, FLastTotal.Ms, 0};
  if (snapshot.TotalMs > FLastTotal.Ms && snapshot.TotalBytes >= FLastTotal.Bytes) {
    FLastInterval = {FLastTotal.Ms, snapshot.TotalMs, snapshot.TotalBytes - FLastTotal.Bytes};
    FLastTotal = {snapshot.TotalBytes, snapshot.TotalMs};
  }
  const std::uint32_t intervalMs = FLastInterval.ToMs - FLastInterval.FromMs;
  const double y = intervalMs == 0 ? 0.0 : FLastInterval.Bytes / 1.024 / intervalMs;
  FSeries.AddXY(x, y);
  if (OnPointAdded) OnPointAdded(snapshot.ElapsedMs, y);
}

void TRateSampler::Series1AfterAdd(TRateSeries*, int ValueIndex) {
  FBottomAxis.Automatic = false;
  const double m = std::max(0.0, FSeries.XValues.MaxValue() - VisibleSeconds);
  FBottomAxis.SetMinMax(m, m + VisibleSeconds);

  // Includes the points about to be pruned, so a spike still sets the range for this tick.
  FLeftAxis.Automatic = false;
  const double top = FSeries.YValues.MaxValue() * HeadroomFactor;
  // A pan may have lifted the minimum above the new top; then the range starts at zero again.
  FLeftAxis.SetMinMax(FLeftAxis.Minimum() <= top ? FLeftAxis.Minimum() : std::min(0.0, top), top);

  // Keep the point before the first one drawn, so the line enters from the left edge. The index
  // may still describe the last run's points: never delete the point just added.
  const int firstVisible = FSeries.FirstVisibleIndex();
  const int deletions = std::min(firstVisible - 1, ValueIndex);
  for (int i = 0; i < deletions; ++i) FSeries.Delete(0);

  FAverageText(AverageText(FSeries.Mean()));
}
