#include "measure/measurement_run.h"

TMeasurementRun::TMeasurementRun(QObject* parent)
    : QObject(parent),
      Sampler(Series1, BottomAxis, LeftAxis, [this](const QString& text) { emit AverageChanged(text); }) {
  Series1.OnRepaintRequest = [this] { emit SeriesChanged(); };
  Sampler.OnPointAdded = [this](std::uint32_t elapsedMs, double rate) { History.Add(elapsedMs, rate); };
}

void TMeasurementRun::Begin(TRunDescription description) {
  Series1.Clear();
  Sampler.BeginRun();
  History.Begin(std::move(description));
}
