// The counters hand a reader one publication whole, or nothing.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "measure/measurement_counters.h"

TEST(MeasurementCounters, SnapshotNeverMixesTwoPublications) {
  TMeasurementCounters counters;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (std::uint32_t n = 1; !stop; ++n) {
      counters.BeginUpdate();
      counters.ElapsedMs = n;
      counters.WindowBytes = n;
      counters.WindowMs = n;
      counters.EndUpdate();
    }
  });
  int taken = 0;
  for (int i = 0; i < 200000; ++i) {
    TCounterSnapshot snapshot;
    if (!counters.TrySnapshot(snapshot)) continue;
    ++taken;
    ASSERT_EQ(snapshot.WindowBytes, snapshot.WindowMs);
    ASSERT_EQ(snapshot.ElapsedMs, snapshot.WindowMs);
  }
  stop = true;
  writer.join();
  TCounterSnapshot last;
  EXPECT_TRUE(counters.TrySnapshot(last));  // quiet again: the snapshot succeeds
  EXPECT_GT(taken + 1, 0);
}

TEST(MeasurementCounters, SkipsWhileTheWorkerIsUpdating) {
  TMeasurementCounters counters;
  counters.BeginUpdate();
  TCounterSnapshot snapshot;
  EXPECT_FALSE(counters.TrySnapshot(snapshot));
  counters.WindowMs = 7;
  counters.EndUpdate();
  ASSERT_TRUE(counters.TrySnapshot(snapshot));
  EXPECT_EQ(snapshot.WindowMs, 7U);
}
