#include "measure/chart_value_list.h"

#include <algorithm>

void TChartValueList::Insert(int index, double value) {
  FValues.insert(FValues.begin() + index, value);
  FTotal += value;
  if (FValues.size() == 1) {
    FMax = FMin = value;
  } else {
    FMin = std::min(FMin, value);
    FMax = std::max(FMax, value);
  }
}

void TChartValueList::Delete(int index) {
  FTotal -= FValues[static_cast<std::size_t>(index)];
  FValues.erase(FValues.begin() + index);
  if (FValues.empty()) {
    FMax = FMin = 0;
    return;
  }
  const auto [smallest, largest] = std::minmax_element(FValues.begin(), FValues.end());
  FMin = *smallest;
  FMax = *largest;
}

void TChartValueList::Clear() {
  FValues.clear();
  FMax = FMin = FTotal = 0;
}
