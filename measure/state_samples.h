#pragma once
// The connection's state as the sender worker read it, handed to the user-interface thread. Each
// run owns its samples. The worker adds one ten times a second, each before it publishes the total
// read with it, so a tick that has seen a total also finds the samples of the interval up to it.

#include <cstdint>
#include <mutex>
#include <vector>

#include "base/connection_state.h"

struct TStateSample {
  std::uint32_t Ms = 0;  // since the run's start, on the clock of the published totals
  TConnectionState State;
};

class TStateSamples {
 public:
  // Worker side. A reader that stopped taking costs at most the newest minute.
  void Add(const TStateSample& sample);
  // Reader side: the samples since the last call, oldest first.
  std::vector<TStateSample> Take();
  void Clear();

 private:
  static constexpr std::size_t MaxKept = 600;
  std::mutex FLock;
  std::vector<TStateSample> FSamples;
};
