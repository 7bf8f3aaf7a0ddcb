#include "measure/measurement_run.h"

TMeasurementRun::TMeasurementRun(QObject* parent)
    : QObject(parent),
      Sampler(Series1, BottomAxis, LeftAxis, [this](const QString& text) { emit AverageChanged(text); }) {
  Series1.OnRepaintRequest = [this] { emit SeriesChanged(); };
  Sampler.OnPointAdded = [this](std::uint32_t elapsedMs, double rate) {
    // Taken after the sampler read the totals: the worker adds each sample before it publishes the
    // total read with it, so the samples of the point's whole interval are here.
    Details.Add(Samples.Take());
    const TPointInterval& interval = Sampler.LastInterval();
    const TPointDetails details = Details.Point(interval.FromMs, interval.ToMs);
    History.Add(elapsedMs, rate, details);
    // The point just added is the run's newest, so the last one held.
    Series1.SetRoundTripMs(Series1.Count() - 1, details.RttMs);
    emit PointAdded();
  };
}

void TMeasurementRun::Begin(TRunDescription description) {
  Series1.Clear();
  Sampler.BeginRun();
  History.Begin(std::move(description));
  Details.Begin();
}
