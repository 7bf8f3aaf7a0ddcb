// The memory a run of a day holds with its details: 86,400 points in the history, each with its
// round trip, share sent again and limit, and the details fed with ten samples of the connection's
// state per second as the worker reads them. Prints the heap the run holds at the end.
//
//   korvaden-day-memory-bench [HOURS, default 24]

#include <malloc.h>

#include <cstdio>
#include <cstdlib>

#include "base/tcp_port.h"
#include "measure/run_details.h"
#include "measure/run_history.h"

namespace {
// In use from the heap and in blocks of their own (large vectors get pages of their own).
double HeapMb() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd) / (1024 * 1024);
}

TStateSample Sample(std::uint32_t ms) {
  TConnectionState state;
  state.BytesAcked = state.BytesSent = std::uint64_t{ms} * 2500;
  state.BytesRetrans = ms / 10;
  state.RttUs = 20000 + ms % 7000;
  state.MinRttUs = 20000;
  state.BusyUs = std::uint64_t{ms} * 1000;
  state.RwndLimitedUs = state.SndbufLimitedUs = 0;
  state.DeliveryRate = 2500000;
  state.SndWnd = 1 << 20;
  return {ms, state};
}
}  // namespace

int main(int argc, char** argv) {
  const int hours = argc > 1 ? std::max(1, std::atoi(argv[1])) : 24;
  const double before = HeapMb();
  TRunHistory history;
  TRunDetails details;
  history.Begin({QStringLiteral("198.18.0.2"), DefaultPort, 1024, QDateTime::currentDateTime()});
  details.Begin();
  std::uint32_t last = 0;
  for (std::uint32_t second = 1; second <= static_cast<std::uint32_t>(hours) * 3600; ++second) {
    std::vector<TStateSample> samples;
    for (std::uint32_t tenth = 1; tenth <= 10; ++tenth) samples.push_back(Sample((second - 1) * 1000 + tenth * 100));
    details.Add(samples);
    history.Add(second * 1000, 2441.4, details.Point(last, second * 1000));
    last = second * 1000;
  }
  const TRunSummary summary = details.Summary();
  const double held = HeapMb() - before;
  std::printf(
      "%d h: %zu Punkte, Verlauf %.2f MB, Heap der Messung %.2f MB (Ziel unter 5 MB: %s); "
      "Median der Umlaufzeit %.1f ms\n",
      hours, history.Count(), history.Bytes() / (1024.0 * 1024), held, held < 5 ? "erfüllt" : "verfehlt",
      summary.RttMedianMs.value_or(0));
  return held < 5 ? 0 : 1;
}
