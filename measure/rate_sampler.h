#pragma once
// Turns the worker's published windows into one chart point per second, keeps the axes on the
// last 60 seconds, drops the points that scrolled out and produces the average text.

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

#include "chart_axis.h"
#include "rate_series.h"

class TRateSampler {
 public:
  using TStatusText = std::function<void(const QString& text)>;

  TRateSampler(TRateSeries& series, TChartAxis& bottomAxis, TChartAxis& leftAxis, TStatusText averageText);

  // One tick: adds at most one point from one publication of the counters.
  void Timer1Timer(QObject* Sender);
  void Series1AfterAdd(TRateSeries* Sender, int ValueIndex);

  // Each point as it is added: the run's elapsed milliseconds and the rate in kiB/s.
  std::function<void(std::uint32_t elapsedMs, double rate)> OnPointAdded;

  // Ticks that found the worker publishing and added no point, since the program started.
  int SkippedTicks() const { return FSkippedTicks; }

 private:
  TRateSeries& FSeries;
  TChartAxis& FBottomAxis;
  TChartAxis& FLeftAxis;
  TStatusText FAverageText;
  int FSkippedTicks = 0;
};
