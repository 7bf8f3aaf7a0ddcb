#include "ui/line_test/line_test_result.h"

#include <algorithm>
#include <numeric>

namespace linetest {

QString PhaseName(TPhase phase) {
  switch (phase) {
    case TPhase::Idle: return QStringLiteral("Leerlauf");
    case TPhase::Download: return QStringLiteral("Download");
    case TPhase::Upload: return QStringLiteral("Upload");
    case TPhase::Both: return QStringLiteral("Beides");
  }
  return {};
}

TPhase PhaseNamed(const QString& name) {
  for (const TPhase phase : AllPhases) {
    if (PhaseName(phase) == name) return phase;
  }
  return TPhase::Idle;
}

std::optional<double> TDirectionResult::Mbit() const {
  if (!Measured || Seconds <= 0) return std::nullopt;
  return Bytes * 8.0 / Seconds / 1e6;
}

std::optional<double> Percentile(std::vector<double> values, double share) {
  if (values.empty()) return std::nullopt;
  const auto rank = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(share * values.size())));
  const auto at = values.begin() + static_cast<std::ptrdiff_t>(std::min(rank, values.size()) - 1);
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

TLatency LatencyOf(const std::vector<double>& values) {
  return {Percentile(values, 0.5), Percentile(values, 0.9), static_cast<int>(values.size())};
}

std::optional<double> TrimmedMean(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const std::size_t kept = values.size() - values.size() * 5 / 100;
  return std::accumulate(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(kept), 0.0) / kept;
}

QString GradeFor(double addedLatencyMs) {
  static const std::pair<double, const char*> grades[] = {{5, "A+"}, {30, "A"}, {60, "B"}, {200, "C"}, {400, "D"}};
  for (const auto& [below, grade] : grades)
    if (addedLatencyMs < below) return QString::fromLatin1(grade);
  return QStringLiteral("F");
}

std::optional<double> RoundTripsPerMinute(const TLoadedSamples& samples) {
  const auto handshake = TrimmedMean(samples.HandshakeMs);
  const auto answer = TrimmedMean(samples.AnswerMs);
  const auto roundTrip = TrimmedMean(samples.RoundTripMs);
  std::optional<double> newConnections;
  if (handshake && answer) {
    newConnections = (*handshake + *answer) / 2;
  } else {
    newConnections = handshake ? handshake : answer;
  }
  std::vector<double> rpms;
  for (const auto& ms : {newConnections, roundTrip})
    if (ms && *ms > 0) rpms.push_back(60000 / *ms);
  if (rpms.empty()) return std::nullopt;
  return std::accumulate(rpms.begin(), rpms.end(), 0.0) / rpms.size();
}

QString RpmClassFor(double rpm) {
  if (rpm < 300) return QStringLiteral("schlecht");
  if (rpm < 1000) return QStringLiteral("mäßig");
  if (rpm < 6000) return QStringLiteral("gut");
  return QStringLiteral("ausgezeichnet");
}

namespace {
std::optional<double> Added(const TLatency& loaded, const TLatency& idle) {
  if (!loaded.MedianMs || !idle.MedianMs) return std::nullopt;
  return std::max(0.0, *loaded.MedianMs - *idle.MedianMs);
}
}  // namespace

void Conclude(TResult& result, const TLoadedSamples& loaded) {
  result.AddedDownloadMs = Added(result.Download.Latency, result.Idle);
  result.AddedUploadMs = Added(result.Upload.Latency, result.Idle);
  result.AddedBothMs = Added(result.Both.Latency, result.Idle);
  std::vector<double> added;
  for (const auto& ms : {result.AddedDownloadMs, result.AddedUploadMs})
    if (ms) added.push_back(*ms);
  result.AddedLatencyMs.reset();
  result.Grade.clear();
  if (!added.empty()) {
    result.AddedLatencyMs = std::accumulate(added.begin(), added.end(), 0.0) / added.size();
    result.Grade = GradeFor(*result.AddedLatencyMs);
  }
  result.Rpm = RoundTripsPerMinute(loaded);
  result.RpmClass = result.Rpm ? RpmClassFor(*result.Rpm) : QString();
  result.Verdict = VerdictFor(result);
}

}  // namespace linetest
