#pragma once
// Turns the worker's published totals into one chart point per second, keeps the axes on the
// last 60 seconds, drops the points that scrolled out and produces the average text.
//
// A point is the rate over the whole interval since the previous point: the bytes acknowledged in
// it over its real length. Half a second is not the second on a link that delivers in bursts
// (Wi-Fi, mobile, any loss), so a point never stands for less than its interval; a skipped tick
// loses nothing, the next point covers the longer interval, and the points of a run add up to its
// acknowledged bytes.

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

#include "measure/chart_axis.h"
#include "measure/rate_series.h"

// The interval a point stands for, in milliseconds since the run's start, and its bytes.
struct TPointInterval {
  std::uint32_t FromMs = 0;
  std::uint32_t ToMs = 0;
  std::uint64_t Bytes = 0;
};

class TRateSampler {
 public:
  using TStatusText = std::function<void(const QString& text)>;

  TRateSampler(TRateSeries& series, TChartAxis& bottomAxis, TChartAxis& leftAxis, TStatusText averageText);

  // A new run: its first point covers the time from the connection's start. Until then the average
  // is that of no points, 0 as in the run's saved file, not the last run's.
  void BeginRun();
  // One tick: adds at most one point from one publication of the counters.
  void Timer1Timer(QObject* Sender);
  void Series1AfterAdd(TRateSeries* Sender, int ValueIndex);

  // Each point as it is added: the run's elapsed milliseconds and the rate in kiB/s.
  std::function<void(std::uint32_t elapsedMs, double rate)> OnPointAdded;

  // Ticks that found the worker publishing and added no point, since the program started.
  int SkippedTicks() const { return FSkippedTicks; }
  // What the last point added stands for.
  const TPointInterval& LastInterval() const { return FLastInterval; }

 private:
  TRateSeries& FSeries;
  TChartAxis& FBottomAxis;
  TChartAxis& FLeftAxis;
  TStatusText FAverageText;
  int FSkippedTicks = 0;
  TPointInterval FLastInterval;
  struct {
    std::uint64_t Bytes = 0;
    std::uint32_t Ms = 0;
  } FLastTotal;
};
