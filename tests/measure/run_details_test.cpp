// The run's details from the connection's samples: round trips, bytes sent again, the limits.

#include <gtest/gtest.h>

#include "measure/run_details.h"

namespace {
// A sample at ms: rttMs, bytes sent and resent, and busy and window-limited time since the start.
TStateSample Sample(std::uint32_t ms, double rttMs, std::uint64_t sent, std::uint64_t resent, double busyShare,
                    double windowShare) {
  TConnectionState state;
  state.RttUs = static_cast<std::uint32_t>(rttMs * 1000);
  state.MinRttUs = 20000;
  state.BytesSent = sent;
  state.BytesRetrans = resent;
  state.BusyUs = static_cast<std::uint64_t>(ms * 1000 * busyShare);
  state.RwndLimitedUs = static_cast<std::uint64_t>(ms * 1000 * windowShare);
  state.SndbufLimitedUs = 0;
  state.SndWnd = 1 << 20;
  state.DeliveryRate = 1000000;
  return {ms, state};
}
}  // namespace

TEST(RunDetails, TheRunsRoundTripsLeaveOutStartUpAndTheLimitsAreSharesOfItsTime) {
  TRunDetails details;
  details.Begin();
  std::vector<TStateSample> samples;
  // Start-up with a round trip of a second, then 100 round trips of 21 to 120 ms; 1 % sent again.
  for (std::uint32_t ms = 0; ms < 2000; ms += 100) samples.push_back(Sample(ms, 1000, ms * 100, ms, 1, 0.3));
  for (std::uint32_t i = 0; i < 100; ++i) {
    const std::uint32_t ms = 2000 + i * 100;
    samples.push_back(Sample(ms, 21 + i, ms * 100, ms, 1, 0.3));
  }
  details.Add(samples);
  const TRunSummary summary = details.Summary();
  EXPECT_NEAR(*summary.MinRttMs, 20, 1e-9);
  EXPECT_NEAR(*summary.RttMedianMs, 70, 1);
  EXPECT_NEAR(*summary.RttP95Ms, 115, 1.2);
  EXPECT_NEAR(*summary.AddedLatencyMs, 95, 1.2);
  EXPECT_NEAR(*summary.RetransPercent, 1, 1e-6);
  EXPECT_NEAR(summary.Limits->ReceiveWindow, 0.3, 0.01);
  EXPECT_NEAR(summary.Limits->Network, 0.7, 0.01);
  EXPECT_EQ(summary.Limits->Main(), TRateLimit::Network);

  const TPointDetails point = details.Point(5000, 6000);
  EXPECT_NEAR(point.RttMs, 56.5, 1e-3);  // the median of the ten samples in (5 s, 6 s]
  EXPECT_NEAR(point.RetransPercent, 1, 1e-4);
  EXPECT_EQ(point.Limit, TRateLimit::Network);
}

// BBR paces: the kernel counts only part of a receiver-limited run as window-limited, but the data
// in flight fills the window (rate × least round trip = window).
TEST(RunDetails, AWindowTheDataInFlightFillsIsTheMainCauseWhateverTheKernelsOwnCount) {
  TRunDetails details;
  details.Begin();
  std::vector<TStateSample> samples;
  for (std::uint32_t ms = 0; ms <= 10000; ms += 100) {
    TStateSample sample = Sample(ms, 21, ms * 100, 0, 1, 0.45);
    sample.State.SndWnd = 20000;  // 1 MB/s over 20 ms
    samples.push_back(sample);
  }
  details.Add(samples);
  EXPECT_EQ(details.Summary().Limits->Main(), TRateLimit::ReceiveWindow);
  EXPECT_EQ(details.Point(3000, 4000).Limit, TRateLimit::ReceiveWindow);
}
