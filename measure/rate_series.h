#pragma once
// The rate chart's points, sorted by x (seconds since the run's start), with y in kiB/s. The chart
// view only draws what this model holds.

#include <functional>

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

  // Written only when the chart draws the series: the first point at or right of the axis minimum.
  int FirstVisibleIndex() const { return FFirstVisibleIndex; }
  void RecomputeFirstVisibleIndex(double axisMinimum);

 private:
  void RequestRepaint() const;
  int FFirstVisibleIndex = -1;
};
