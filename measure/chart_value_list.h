#pragma once
// One list of a series' values with its running statistics: largest, smallest and total.

#include <QString>

#include <vector>

enum TChartListOrder { loNone, loAscending, loDescending };

class TChartValueList {
 public:
  TChartValueList(QString name, TChartListOrder order) : Name(std::move(name)), Order(order) {}

  const QString Name;
  const TChartListOrder Order;
  const double Multiplier = 1.0;
  const bool DateTime = false;

  int Count() const { return static_cast<int>(FValues.size()); }
  double operator[](int index) const { return FValues[static_cast<std::size_t>(index)]; }
  double Last() const { return FValues.back(); }
  double MaxValue() const { return FMax; }
  double MinValue() const { return FMin; }
  double Total() const { return FTotal; }

  // Constant time: the statistics follow the new value.
  void Insert(int index, double value);
  // Subtracts from the total and rescans the rest for largest and smallest.
  void Delete(int index);
  void Clear();

 private:
  std::vector<double> FValues;
  double FMax = 0;
  double FMin = 0;
  double FTotal = 0;
};
