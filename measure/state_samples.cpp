#include "measure/state_samples.h"

void TStateSamples::Add(const TStateSample& sample) {
  std::lock_guard lock(FLock);
  if (FSamples.size() >= MaxKept) FSamples.erase(FSamples.begin());
  FSamples.push_back(sample);
}

std::vector<TStateSample> TStateSamples::Take() {
  std::vector<TStateSample> taken;
  std::lock_guard lock(FLock);
  taken.swap(FSamples);
  return taken;
}

void TStateSamples::Clear() {
  std::lock_guard lock(FLock);
  FSamples.clear();
}
