#pragma once
// A finished line test of fixed figures for the history's tests: a download of the given rate with
// its cause and latency, an upload's latency without its rate, a verdict, a missing part and two
// points, one of them with unknown figures.

#include "ui/line_test/line_test_result.h"

namespace historytest {

inline linetest::TResult Finished(const QString& server, const QDateTime& start, double downloadMbit) {
  linetest::TResult r;
  r.Server = server;
  r.Address = server;
  r.Port = 2857;
  r.Start = start;
  r.PhaseSeconds = 10;
  r.Idle.MedianMs = 12.5;
  r.Download.Measured = true;
  r.Download.Bytes = static_cast<std::uint64_t>(downloadMbit * 1e6 / 8 * 10);
  r.Download.Seconds = 10;
  r.Download.Connections = 4;
  r.Download.Cause = TRateLimit::ReceiveWindow;
  r.Download.Latency.MedianMs = 40;
  r.Upload.Latency.MedianMs = 90;
  r.Grade = "C";
  r.Rpm = 800;
  r.Verdict = "Beim Upload wächst die Latenz.";
  r.Missing << "Der Upload wurde abgelehnt.";
  r.Points = {{0.5, linetest::TPhase::Idle, NAN, NAN, 12}, {6, linetest::TPhase::Download, downloadMbit, NAN, 41}};
  return r;
}

}  // namespace historytest
