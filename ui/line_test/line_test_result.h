#pragma once
// What a line test finds: the rates of each direction with the line filled, the latency idle and
// under load, and what follows from them: the added latency, the grade, the responsiveness (round
// trips per minute) and a verdict in plain German. Qt Core only, so the command line shares it.

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "measure/run_details.h"

namespace linetest {

enum class TPhase { Idle, Download, Upload, Both };
inline constexpr TPhase AllPhases[] = {TPhase::Idle, TPhase::Download, TPhase::Upload, TPhase::Both};

// "Leerlauf", "Download", "Upload", "Beides".
QString PhaseName(TPhase phase);
// The phase of that name; Idle for a name of none.
TPhase PhaseNamed(const QString& name);

// One point of the test's chart, about twice a second; NaN where the phase has no such figure.
struct TPoint {
  double Seconds = 0;  // since the first phase began
  TPhase Phase = TPhase::Idle;
  double DownloadMbit = NAN;
  double UploadMbit = NAN;
  double LatencyMs = NAN;  // median of the probes answered in the point's interval
};

struct TLatency {
  std::optional<double> MedianMs;
  std::optional<double> P90Ms;
  int Samples = 0;
};

// One direction filled: its rate over the time after the ramp, and what the line did meanwhile.
struct TDirectionResult {
  bool Measured = false;
  std::uint64_t Bytes = 0;  // in the counted time
  double Seconds = 0;       // the counted time
  int Connections = 0;
  TLatency Latency;
  std::optional<double> RetransPercent;
  TRateLimit Cause = TRateLimit::Unknown;
  std::optional<TLimitShares> Limits;
  // The counted time on the system's monotonic clock, so a lab can judge it against its link.
  std::int64_t WindowStartNs = 0;
  std::int64_t WindowEndNs = 0;

  std::optional<double> Mbit() const;
};

struct TBothResult {
  bool Measured = false;
  std::optional<double> DownloadMbit;
  std::optional<double> UploadMbit;
  TLatency Latency;
};

struct TResult {
  QString Server;   // as typed
  QString Address;  // the address measured
  int Port = 0;
  QDateTime Start;
  double PhaseSeconds = 0;
  QString Error;  // set when the test could not be done; the figures then mean nothing

  TLatency Idle;
  TDirectionResult Download;
  TDirectionResult Upload;
  TBothResult Both;
  std::optional<double> AddedDownloadMs;
  std::optional<double> AddedUploadMs;
  std::optional<double> AddedBothMs;
  std::optional<double> AddedLatencyMs;  // the mean of download's and upload's
  QString Grade;                         // "A+" to "F"; empty without an added latency
  std::optional<double> Rpm;
  QString RpmClass;
  QStringList Missing;  // what could not be measured, and why: whole German sentences
  QString Verdict;
  std::vector<TPoint> Points;
};

// The raw samples a test gathers for its responsiveness, each in milliseconds.
struct TLoadedSamples {
  std::vector<double> HandshakeMs;  // new connections' handshakes while the line was loaded
  std::vector<double> AnswerMs;     // their request-to-answer times
  std::vector<double> RoundTripMs;  // the loaded connections' own round trips, as their TCP reports
};

// The share-th quantile (0..1) by the nearest rank; none without values.
std::optional<double> Percentile(std::vector<double> values, double share);
TLatency LatencyOf(const std::vector<double>& values);
// The mean without the slowest 5 % of the values.
std::optional<double> TrimmedMean(std::vector<double> values);
// A+ below 5 ms of added latency, A below 30, B below 60, C below 200, D below 400, F from there on.
QString GradeFor(double addedLatencyMs);
// Round trips per minute: the mean of 60000 / the new connections' mean of trimmed handshake and
// answer, and 60000 / the trimmed loaded round trip; either alone where the other is unknown.
std::optional<double> RoundTripsPerMinute(const TLoadedSamples& samples);
// "schlecht" below 300, "mäßig" below 1000, "gut" below 6000, else "ausgezeichnet".
QString RpmClassFor(double rpm);

// Fills in the added latencies, the grade, the responsiveness and the verdict.
void Conclude(TResult& result, const TLoadedSamples& loaded);

// The verdict: a few German sentences on what the figures mean and what helps.
QString VerdictFor(const TResult& result);

}  // namespace linetest

Q_DECLARE_METATYPE(linetest::TPoint)
Q_DECLARE_METATYPE(linetest::TResult)
