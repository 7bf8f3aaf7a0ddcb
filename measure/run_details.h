#pragma once
// What the connection's own state tells about a run beyond its rate: the round trip with and
// without load, the bytes sent again, and what held the rate back. It reads the worker's samples
// on the user-interface thread; a figure the kernel does not report stays empty.
//
// The added latency is the 95th percentile of the round trip under load less the connection's
// minimum: the queue this upload builds in front of the bottleneck, as this connection sees it.

#include <cmath>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "measure/state_samples.h"

enum class TRateLimit : std::uint8_t { Unknown, Network, ReceiveWindow, SendBuffer, Program };

// Shares of a stretch of time, each from 0 to 1, together 1: sending as far as the congestion
// window allowed (the network), held back by the server's receive window, by the local send
// buffer, or with nothing to send (the program itself).
struct TLimitShares {
  double Network = 0;
  double ReceiveWindow = 0;
  double SendBuffer = 0;
  double Program = 0;

  TRateLimit Largest() const;
  // The cause that held the rate back for more than half of the time; Unknown when none did.
  TRateLimit Main() const;
};

// One chart point's figures; NaN where unknown. Twelve bytes, for a day of points in a few MB.
struct TPointDetails {
  float RttMs = NAN;                       // median of the round trips read during the point's interval
  float RetransPercent = NAN;              // of the bytes sent in the interval, the share sent again
  TRateLimit Limit = TRateLimit::Unknown;  // what held the rate back for most of the interval
};

struct TRunSummary {
  std::optional<double> MinRttMs;     // the connection's least round trip, the handshake's included
  std::optional<double> RttMedianMs;  // under load: the run without its first two seconds
  std::optional<double> RttP95Ms;
  std::optional<double> AddedLatencyMs;
  std::optional<double> LatestRttMs;
  std::optional<double> RetransPercent;  // of all bytes sent in the run
  std::optional<TLimitShares> Limits;    // over the run's time
  TConnectionState Latest;               // the raw figures as last read, for experts
};

// Whether the data in flight filled the receive window the peer advertised.
bool WindowFull(const TConnectionState& state);
// The shares of the time between two readings of one connection; none without the kernel's busy and
// limited times. windowFull: the share of that time the peer's window was seen full.
std::optional<TLimitShares> LimitSharesBetween(const TStateSample& a, const TStateSample& b, double windowFull);
// Of the bytes sent between two readings, the share sent again, in per cent.
std::optional<double> RetransPercentBetween(const TConnectionState& from, const TConnectionState& to);

class TRunDetails {
 public:
  void Begin();
  // Samples in the order the worker read them.
  void Add(const std::vector<TStateSample>& samples);
  // The figures of the interval (fromMs, toMs] since the run's start.
  TPointDetails Point(std::uint32_t fromMs, std::uint32_t toMs) const;
  TRunSummary Summary() const;

 private:
  // Round trips under load in bins one per cent wide: exact enough for a percentile, and the
  // same few kilobytes for a run of a minute or of a day.
  class TRoundTrips {
   public:
    void Clear();
    void Add(std::uint32_t us);
    std::optional<double> PercentileMs(double share) const;

   private:
    std::vector<std::uint32_t> FBins;
    std::uint64_t FCount = 0;
  };

  // The latest sample at or before ms, or the oldest kept.
  const TStateSample* At(std::uint32_t ms) const;
  // Of the samples in (fromMs, toMs], the share that found the server's window full.
  double WindowFullShare(std::uint32_t fromMs, std::uint32_t toMs) const;

  std::optional<TStateSample> FFirst;
  std::deque<TStateSample> FRecent;  // the last minute's samples
  TRoundTrips FUnderLoad;
  std::uint64_t FSamples = 0;
  std::uint64_t FWindowFullSamples = 0;
};
