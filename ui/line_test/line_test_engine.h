#pragma once
// The line test's own loop, on the test's thread: the phases, their connections and probes in one
// poll, and the figures gathered from them. Its news go out through the sink, from this thread.

#include <poll.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/stream_protocol.h"
#include "measure/state_samples.h"
#include "ui/line_test/line_test.h"
#include "ui/line_test/line_test_network.h"

namespace linetest {

struct TSink {
  std::function<void(const QString& address)> AddressChosen;
  std::function<void(TPhase phase, double atSeconds)> PhaseStarted;
  std::function<void(const TPoint& point)> PointAdded;
};

class TEngine {
 public:
  TEngine(TOptions options, int wake, TSink sink);
  ~TEngine();
  TEngine(const TEngine&) = delete;
  TEngine& operator=(const TEngine&) = delete;

  // The whole test; none when it was cancelled.
  std::optional<TResult> Run();

 private:
  using Clock = std::chrono::steady_clock;
  enum class TEnd { Open, Broken, EndedByServer, SentNothing };

  // One loaded connection: a download reads the server's blocks, an upload sends its own.
  struct TFlow {
    int Fd = -1;
    bool Download = false;
    bool Connected = false;
    TEnd End = TEnd::Open;
    std::uint64_t Bytes = 0;  // read, or acknowledged by the server
    std::uint64_t Accepted = 0;
    std::optional<std::uint64_t> AckedAtConnect;
    std::unique_ptr<TStateRecordFinder> Records;
    std::array<char, DownloadEndSize> Tail{};
    Clock::time_point NextSample;
    std::optional<TStateSample> First;
    std::optional<TStateSample> Last;
    int Samples = 0;
    int WindowFullSamples = 0;
  };

  // One latency probe: a new connection, then one request and its answer.
  struct TProbe {
    int Fd = -1;
    TPhase Phase = TPhase::Idle;
    Clock::time_point Started;
    Clock::time_point Asked;
    bool Asking = false;
    std::uint32_t Token = 0;
    std::array<char, ProbeMessageSize> Answer{};
    std::size_t AnswerSize = 0;
  };

  struct TLatencySample {
    TPhase Phase;
    bool Counted;
    double Ms;
  };

  double Seconds(Clock::time_point at) const;
  std::uint32_t Ms(Clock::time_point at) const;
  bool Counting() const { return FCountFrom.has_value(); }

  void BeginPhase(std::size_t index, Clock::time_point now);
  void EndPhase(Clock::time_point now);
  void OpenFlow(bool download);
  void CloseFlows();
  // Once the server refused a download: the test goes on with uploads alone.
  void DropDownloads();
  void Step(Clock::time_point now);
  void Ramp(Clock::time_point now);
  void AddPoint(Clock::time_point now);

  void ServeFlow(TFlow& flow, short events, Clock::time_point now);
  void FlowConnected(TFlow& flow, Clock::time_point now);
  void Receive(TFlow& flow, Clock::time_point now);
  void Send(TFlow& flow);
  void ReadAcknowledged(TFlow& flow, Clock::time_point now);
  void AddState(TFlow& flow, const TConnectionState& state, Clock::time_point now);
  void FlowEnded(TFlow& flow, TEnd end);

  void StartProbe(Clock::time_point now);
  void ServeProbe(TProbe& probe, short events, Clock::time_point now);
  void ProbeConnected(TProbe& probe, Clock::time_point now);
  void ProbeAnswered(TProbe& probe, Clock::time_point now);
  void ProbeUnanswered();
  void CloseProbe(TProbe& probe);
  void AddLatency(std::vector<double>& loadedSamples, double ms);

  void Fail(const QString& message);
  TDirectionResult DirectionResult(bool download, Clock::time_point now) const;
  TLatency PhaseLatency(TPhase phase) const;
  void Missing(const QString& sentence);

  TOptions FOptions;
  int FWake;
  TSink FSink;
  TResult FResult;
  TLoadedSamples FLoaded;
  TAddress FAddress;
  Clock::time_point FStart;

  std::size_t FPhaseIndex = 0;  // in AllPhases
  TPhase FPhase = TPhase::Idle;
  Clock::time_point FPhaseStart;
  Clock::time_point FPhaseEnd;
  double FStepSeconds = 1;
  std::optional<Clock::time_point> FCountFrom;
  std::uint64_t FDownAtCount = 0;
  std::uint64_t FUpAtCount = 0;
  bool FPhaseOver = false;

  // Ramp of a load phase: the total at the last step and the rate of the step before.
  Clock::time_point FNextStep;
  int FStepsDone = 0;
  std::uint64_t FTotalAtStep = 0;
  std::optional<double> FLastStepRate;

  std::vector<std::unique_ptr<TFlow>> FFlows;
  std::vector<std::unique_ptr<TProbe>> FProbes;
  std::vector<TLatencySample> FLatencies;
  std::vector<TLatencySample> FRoundTrips;  // the loaded connections' own, per phase
  Clock::time_point FNextProbe;
  std::uint32_t FNextToken = 1;
  int FAnswers = 0;
  int FUnansweredInRow = 0;
  bool FAsking = true;  // false once the server showed it does not answer probes
  int FRefusedInRow = 0;
  bool FDownloadRefused = false;

  std::uint64_t FDownTotal = 0;
  std::uint64_t FUpTotal = 0;
  Clock::time_point FNextPoint;
  Clock::time_point FNextTotals;
  std::uint64_t FDownAtPoint = 0;
  std::uint64_t FUpAtPoint = 0;
  Clock::time_point FLastPoint;
  std::vector<double> FPointLatencies;

  std::vector<char> FReadBuffer;
  std::vector<char> FUploadBlocks;
  std::vector<pollfd> FPoll;
};

}  // namespace linetest
