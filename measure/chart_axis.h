#pragma once
// The range of one chart axis. Minimum and maximum are set together, so a range moved by panning
// can always be replaced by any valid one.

class TChartAxis {
 public:
  TChartAxis(double minimum, double maximum) : FMinimum(minimum), FMaximum(maximum) {}

  bool Automatic = false;
  double Minimum() const { return FMinimum; }
  double Maximum() const { return FMaximum; }
  // A range whose minimum lies above its maximum is refused.
  bool SetMinMax(double minimum, double maximum) {
    if (minimum > maximum) return false;
    FMinimum = minimum;
    FMaximum = maximum;
    return true;
  }
  void Shift(double delta) { SetMinMax(FMinimum + delta, FMaximum + delta); }

 private:
  double FMinimum;
  double FMaximum;
};
