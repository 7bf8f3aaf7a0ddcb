#pragma once
// The connection's state as the sender worker read it, handed to the user-interface thread. The
// worker adds one sample each time it reads the acknowledged total (ten times a second) and before
// it publishes that total, so a tick that has seen a total also finds the sample read with it.

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

// The one instance of the process, beside the counters.
extern TStateSamples StateSamples;
