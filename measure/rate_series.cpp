#include "measure/rate_series.h"

int TRateSeries::AddXY(double x, double y) {
  int index = XValues.Count();
  if (index > 0 && x < XValues.Last()) {
    while (index > 0 && XValues[index - 1] > x) --index;
  }
  XValues.Insert(index, x);
  YValues.Insert(index, y);
  if (OnAfterAdd) OnAfterAdd(this, index);
  RequestRepaint();
  return index;
}

void TRateSeries::Delete(int index) {
  XValues.Delete(index);
  YValues.Delete(index);
  RequestRepaint();
}

void TRateSeries::Clear() {
  XValues.Clear();
  YValues.Clear();
  RequestRepaint();
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
