#include "measure/run_details.h"

#include <algorithm>
#include <array>

namespace {
// Start-up (slow start, the first queue) is not what the line does under load.
constexpr std::uint32_t StartUpMs = 2000;
constexpr std::uint32_t RecentMs = 60000;
constexpr double BinGrowth = 1.01;
}  // namespace

// Whether the data in flight filled the receive window the server advertised: what the kernel
// delivered per least round trip reaches most of that window. A pacing congestion control (BBR)
// does not count the time between its paced packets as window-limited, so on a connection the
// receiver holds back the kernel's own count shows only about half of the time; the window's fill
// shows it all. On a path with a queue the window is far larger than that, as the receiver sizes
// it for the longer round trip.
bool WindowFull(const TConnectionState& state) {
  if (!state.DeliveryRate || !state.MinRttUs || !state.SndWnd || *state.SndWnd == 0) return false;
  return static_cast<double>(*state.DeliveryRate) * *state.MinRttUs / 1e6 >= 0.8 * *state.SndWnd;
}

// The shares of [a, b]; none without the kernel's busy and limited times. windowFull: the share of
// the time the server's window was seen full.
std::optional<TLimitShares> LimitSharesBetween(const TStateSample& a, const TStateSample& b, double windowFull) {
  const TConnectionState &from = a.State, &to = b.State;
  if (!from.BusyUs || !to.BusyUs || !from.RwndLimitedUs || !to.RwndLimitedUs || !from.SndbufLimitedUs ||
      !to.SndbufLimitedUs || b.Ms <= a.Ms) {
    return std::nullopt;
  }
  const double span = (b.Ms - a.Ms) * 1000.0;
  const auto share = [span](std::uint64_t before, std::uint64_t after) {
    return after <= before ? 0.0 : std::min(1.0, (after - before) / span);
  };
  TLimitShares shares;
  const double busy = share(*from.BusyUs, *to.BusyUs);
  shares.ReceiveWindow = std::min(busy, std::max(windowFull, share(*from.RwndLimitedUs, *to.RwndLimitedUs)));
  shares.SendBuffer = std::min(busy - shares.ReceiveWindow, share(*from.SndbufLimitedUs, *to.SndbufLimitedUs));
  shares.Network = busy - shares.ReceiveWindow - shares.SendBuffer;
  shares.Program = 1 - busy;
  return shares;
}

std::optional<double> RetransPercentBetween(const TConnectionState& from, const TConnectionState& to) {
  if (!from.BytesSent || !to.BytesSent || !from.BytesRetrans || !to.BytesRetrans || *to.BytesSent <= *from.BytesSent)
    return std::nullopt;
  const double again = *to.BytesRetrans >= *from.BytesRetrans ? *to.BytesRetrans - *from.BytesRetrans : 0.0;
  return again / static_cast<double>(*to.BytesSent - *from.BytesSent) * 100;
}

namespace {
std::pair<double, TRateLimit> LargestShare(const TLimitShares& shares) {
  const std::array<std::pair<double, TRateLimit>, 4> causes{{{shares.Network, TRateLimit::Network},
                                                             {shares.ReceiveWindow, TRateLimit::ReceiveWindow},
                                                             {shares.SendBuffer, TRateLimit::SendBuffer},
                                                             {shares.Program, TRateLimit::Program}}};
  return *std::max_element(causes.begin(), causes.end());
}
}  // namespace

TRateLimit TLimitShares::Largest() const { return LargestShare(*this).second; }

// Shares add up to one: at most one is above half.
TRateLimit TLimitShares::Main() const {
  const auto [share, cause] = LargestShare(*this);
  return share > 0.5 ? cause : TRateLimit::Unknown;
}

void TRunDetails::TRoundTrips::Clear() {
  FBins.clear();
  FCount = 0;
}

void TRunDetails::TRoundTrips::Add(std::uint32_t us) {
  const auto bin = static_cast<std::size_t>(us <= 1 ? 0 : std::log(us) / std::log(BinGrowth));
  if (bin >= FBins.size()) FBins.resize(bin + 1);
  ++FBins[bin];
  ++FCount;
}

std::optional<double> TRunDetails::TRoundTrips::PercentileMs(double share) const {
  if (FCount == 0) return std::nullopt;
  const auto rank = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ceil(share * FCount)));
  std::uint64_t seen = 0;
  std::size_t bin = 0;
  while ((seen += FBins[bin]) < rank) ++bin;
  return std::pow(BinGrowth, bin + 0.5) / 1000;  // the bin's middle
}

void TRunDetails::Begin() {
  FFirst.reset();
  FRecent.clear();
  FUnderLoad.Clear();
  FSamples = FWindowFullSamples = 0;
}

void TRunDetails::Add(const std::vector<TStateSample>& samples) {
  for (const TStateSample& sample : samples) {
    if (!FRecent.empty() && sample.Ms < FRecent.back().Ms) continue;  // a stale sample of the last run
    if (!FFirst) FFirst = sample;
    FRecent.push_back(sample);
    if (sample.Ms >= StartUpMs && sample.State.RttUs) FUnderLoad.Add(*sample.State.RttUs);
    ++FSamples;
    if (WindowFull(sample.State)) ++FWindowFullSamples;
  }
  while (!FRecent.empty() && FRecent.back().Ms - FRecent.front().Ms > RecentMs) FRecent.pop_front();
}

const TStateSample* TRunDetails::At(std::uint32_t ms) const {
  if (FRecent.empty()) return nullptr;
  const auto after = std::upper_bound(FRecent.begin(), FRecent.end(), ms,
                                      [](std::uint32_t at, const TStateSample& sample) { return at < sample.Ms; });
  return after == FRecent.begin() ? &FRecent.front() : &*(after - 1);
}

double TRunDetails::WindowFullShare(std::uint32_t fromMs, std::uint32_t toMs) const {
  int samples = 0, full = 0;
  for (const TStateSample& sample : FRecent) {
    if (sample.Ms <= fromMs || sample.Ms > toMs) continue;
    ++samples;
    if (WindowFull(sample.State)) ++full;
  }
  return samples ? static_cast<double>(full) / samples : 0;
}

TPointDetails TRunDetails::Point(std::uint32_t fromMs, std::uint32_t toMs) const {
  TPointDetails point;
  const TStateSample* from = At(fromMs);
  const TStateSample* to = At(toMs);
  if (!from || !to) return point;
  std::vector<std::uint32_t> rtts;
  for (const TStateSample& sample : FRecent) {
    if (sample.Ms > fromMs && sample.Ms <= toMs && sample.State.RttUs) rtts.push_back(*sample.State.RttUs);
  }
  if (!rtts.empty()) {
    const auto middle = rtts.begin() + static_cast<std::ptrdiff_t>(rtts.size() / 2);
    std::nth_element(rtts.begin(), middle, rtts.end());
    // An even count has two middles: the median lies between them.
    const double lower = rtts.size() % 2 ? *middle : *std::max_element(rtts.begin(), middle);
    point.RttMs = static_cast<float>((lower + *middle) / 2000.0);
  }
  if (const auto again = RetransPercentBetween(from->State, to->State))
    point.RetransPercent = static_cast<float>(*again);
  if (const auto shares = LimitSharesBetween(*from, *to, WindowFullShare(fromMs, toMs)))
    point.Limit = shares->Largest();
  return point;
}

TRunSummary TRunDetails::Summary() const {
  TRunSummary summary;
  if (!FFirst || FRecent.empty()) return summary;
  const TConnectionState& latest = FRecent.back().State;
  summary.Latest = latest;
  if (latest.MinRttUs) summary.MinRttMs = *latest.MinRttUs / 1000.0;
  if (latest.RttUs) summary.LatestRttMs = *latest.RttUs / 1000.0;
  summary.RttMedianMs = FUnderLoad.PercentileMs(0.5);
  summary.RttP95Ms = FUnderLoad.PercentileMs(0.95);
  if (summary.RttP95Ms && summary.MinRttMs)
    summary.AddedLatencyMs = std::max(0.0, *summary.RttP95Ms - *summary.MinRttMs);
  summary.RetransPercent = RetransPercentBetween(FFirst->State, latest);
  summary.Limits = LimitSharesBetween(*FFirst, FRecent.back(),
                                      static_cast<double>(FWindowFullSamples) / std::max<std::uint64_t>(1, FSamples));
  return summary;
}
