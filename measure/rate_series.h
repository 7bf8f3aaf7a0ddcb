#pragma once
// The rate chart's points, sorted by x (seconds since the run's start), with y in kiB/s and each
// point's round trip beside its rate. The chart view only draws what this model holds.

#include <functional>
#include <vector>

#include "measure/chart_value_list.h"

class TRateSeries {
 public:
  using TAfterAddEvent = std::function<void(TRateSeries* Sender, int ValueIndex)>;

  TChartValueList XValues{"X", loAscending};
  TChartValueList YValues{"Y", loNone};

  // Raised synchronously by AddXY with the index at which the point was inserted.
  TAfterAddEvent OnAfterAdd;
  // Asks the view to draw again later; never draws inside the caller.
  std::function<void()> OnRepaintRequest;

  int Count() const { return XValues.Count(); }
  // The mean rate of the points held (0 without points): the average the status bar shows.
  double Mean() const { return Count() == 0 ? 0.0 : YValues.Total() / Count(); }
  // Inserts after every point whose x is not greater; returns the index.
  int AddXY(double x, double y);
  void Delete(int index);
  void Clear();

  // The point's round trip in ms: NaN until its details are in, and where none is known. It goes
  // with its point, so the round-trip line is pruned as the rate's is.
  double RoundTripMs(int index) const { return FRoundTripMs[static_cast<std::size_t>(index)]; }
  void SetRoundTripMs(int index, double ms);
  // The round-trip line's pieces: each run of points with a known round trip, from its first index
  // to one past its last. A point without one is a gap between two pieces, never a zero.
  struct TPiece {
    int First;
    int End;
  };
  std::vector<TPiece> RoundTripPieces() const;

  // Written only when the chart draws the series: the first point at or right of the axis minimum.
  int FirstVisibleIndex() const { return FFirstVisibleIndex; }
  void RecomputeFirstVisibleIndex(double axisMinimum);

 private:
  void RequestRepaint() const;
  std::vector<double> FRoundTripMs;
  int FFirstVisibleIndex = -1;
};
