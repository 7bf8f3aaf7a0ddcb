#include "measure/rate_series.h"

#include <cmath>

int TRateSeries::AddXY(double x, double y) {
  int index = XValues.Count();
  if (index > 0 && x < XValues.Last()) {
    while (index > 0 && XValues[index - 1] > x) --index;
  }
  XValues.Insert(index, x);
  YValues.Insert(index, y);
  FRoundTripMs.insert(FRoundTripMs.begin() + index, NAN);
  if (OnAfterAdd) OnAfterAdd(this, index);
  RequestRepaint();
  return index;
}

void TRateSeries::Delete(int index) {
  XValues.Delete(index);
  YValues.Delete(index);
  FRoundTripMs.erase(FRoundTripMs.begin() + index);
  RequestRepaint();
}

void TRateSeries::Clear() {
  XValues.Clear();
  YValues.Clear();
  FRoundTripMs.clear();
  RequestRepaint();
}

void TRateSeries::SetRoundTripMs(int index, double ms) {
  FRoundTripMs[static_cast<std::size_t>(index)] = ms;
  RequestRepaint();
}

std::vector<TRateSeries::TPiece> TRateSeries::RoundTripPieces() const {
  std::vector<TPiece> pieces;
  for (int i = 0; i < Count(); ++i) {
    if (!std::isfinite(RoundTripMs(i))) continue;
    if (pieces.empty() || pieces.back().End < i) pieces.push_back({i, i});
    pieces.back().End = i + 1;
  }
  return pieces;
}

void TRateSeries::RecomputeFirstVisibleIndex(double axisMinimum) {
  FFirstVisibleIndex = -1;
  for (int i = 0; i < Count(); ++i) {
    if (XValues[i] >= axisMinimum) {
      FFirstVisibleIndex = i;
      return;
    }
  }
}

void TRateSeries::RequestRepaint() const {
  if (OnRepaintRequest) OnRepaintRequest();
}
