#include "ui/line_test/line_test_engine.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "base/tcp_state.h"

namespace linetest {
namespace {

// Blocks of the download the server sends: large enough to carry its state ten times a second.
constexpr std::uint32_t DownloadBlockSize = 64 * 1024;
constexpr std::size_t UploadBlockSize = 64 * 1024;
constexpr std::size_t ReadBufferSize = 1 << 20;
// An upload keeps no more than this unsent in its socket: what it queued at the end of a phase
// would otherwise go on loading the line into the next one.
constexpr int UnsentLimit = 128 * 1024;
// Reads and sends per connection and wake-up, so that no connection starves the others or the probes.
constexpr int TransfersPerWakeup = 8;
constexpr auto TotalInterval = std::chrono::milliseconds(10);
constexpr auto SampleInterval = std::chrono::milliseconds(100);
constexpr auto ProbeInterval = std::chrono::milliseconds(100);
constexpr std::size_t MaxProbesOpen = 8;
// A probe whose handshake or answer takes longer than this is lost.
constexpr auto ProbeLimit = std::chrono::seconds(3);
// Probes without any answer in a row, after which the server is taken not to answer them.
constexpr int UnansweredLimit = 3;
constexpr int RefusedLimit = 3;
// The total still grows while a step's rate exceeds the step before by more than this.
constexpr double Growth = 1.05;
// Without a ramp (both directions at once) the first steps are the connections' start.
constexpr int BothStartSteps = 2;

void Abort(int fd) {
  // A reset: whatever is still queued either way is thrown away at once instead of loading the line.
  const linger reset{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(fd);
}

}  // namespace

TEngine::TEngine(TOptions options, int wake, TSink sink)
    : FOptions(std::move(options)),
      FWake(wake),
      FSink(std::move(sink)),
      FReadBuffer(ReadBufferSize),
      FUploadBlocks(2 * UploadBlockSize) {
  WriteMarker(FUploadBlocks.data(), UploadBlockSize);
  WriteMarker(FUploadBlocks.data() + UploadBlockSize, UploadBlockSize);
  FStepSeconds = FOptions.PhaseSeconds / 10;
}

TEngine::~TEngine() {
  CloseFlows();
  for (auto& probe : FProbes) CloseProbe(*probe);
}

double TEngine::Seconds(Clock::time_point at) const { return std::chrono::duration<double>(at - FStart).count(); }

std::uint32_t TEngine::Ms(Clock::time_point at) const {
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(at - FStart).count());
}

void TEngine::Fail(const QString& message) {
  if (FResult.Error.isEmpty()) FResult.Error = message;
}

void TEngine::Missing(const QString& sentence) {
  if (!FResult.Missing.contains(sentence)) FResult.Missing << sentence;
}

std::optional<TResult> TEngine::Run() {
  FResult.Server = FOptions.Host;
  FResult.Port = FOptions.Port;
  FResult.PhaseSeconds = FOptions.PhaseSeconds;
  FResult.Start = QDateTime::currentDateTime();
  QString error;
  const auto addresses = ResolveServer(FOptions.Host, FOptions.Port, FWake, error);
  if (Woken(FWake)) return std::nullopt;
  const auto chosen =
      addresses.empty() ? std::nullopt : ChooseAddress(addresses, FOptions.Host, FOptions.Port, FWake, error);
  if (Woken(FWake)) return std::nullopt;
  if (!chosen) {
    FResult.Error = error;
    return FResult;
  }
  FAddress = *chosen;
  FResult.Address = FAddress.Text;
  FSink.AddressChosen(FAddress.Text);

  FStart = Clock::now();
  FResult.Start = QDateTime::currentDateTime();
  FNextProbe = FNextPoint = FLastPoint = FStart;
  BeginPhase(0, FStart);
  while (FResult.Error.isEmpty()) {
    auto now = Clock::now();
    if (now >= FPhaseEnd || FPhaseOver) {
      EndPhase(now);
      if (FPhaseIndex + 1 >= std::size(AllPhases) || !FResult.Error.isEmpty()) break;
      BeginPhase(FPhaseIndex + 1, now);
    }
    Step(now);

    FPoll.clear();
    FPoll.push_back({FWake, POLLIN, 0});
    for (const auto& flow : FFlows) {
      const short wanted = !flow->Connected ? POLLOUT : flow->Download ? POLLIN : POLLIN | POLLOUT;
      FPoll.push_back({flow->Fd, wanted, 0});
    }
    for (const auto& probe : FProbes)
      FPoll.push_back({probe->Fd, static_cast<short>(probe->Asking ? POLLIN : POLLOUT), 0});
    const auto next = std::min({FNextProbe, FNextPoint, FNextStep, FPhaseEnd, now + TotalInterval});
    const int timeoutMs =
        static_cast<int>(std::max<std::int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(next - now).count()));
    if (poll(FPoll.data(), FPoll.size(), timeoutMs) < 0 && errno != EINTR) {
      Fail(
          QStringLiteral("Der Test konnte nicht auf das Netz warten: %1").arg(QString::fromLocal8Bit(strerror(errno))));
      break;
    }
    if (FPoll[0].revents) return std::nullopt;
    now = Clock::now();
    // The connections and probes of this pass, in the order of FPoll; the lists only grow in Step.
    std::size_t at = 1;
    for (auto& flow : FFlows) ServeFlow(*flow, FPoll[at++].revents, now);
    for (auto& probe : FProbes) ServeProbe(*probe, FPoll[at++].revents, now);
    std::erase_if(FProbes, [](const auto& probe) { return probe->Fd < 0; });
    if (FDownloadRefused) DropDownloads();
  }
  if (!FResult.Error.isEmpty()) return FResult;
  Conclude(FResult, FLoaded);
  return FResult;
}

void TEngine::BeginPhase(std::size_t index, Clock::time_point now) {
  FPhaseIndex = index;
  FPhase = AllPhases[index];
  FPhaseStart = now;
  FPhaseEnd =
      now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(PhaseLength(FOptions, FPhase)));
  FPhaseOver = false;
  FCountFrom.reset();
  FStepsDone = 0;
  FLastStepRate.reset();
  FNextStep = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(FStepSeconds));
  FSink.PhaseStarted(FPhase, Seconds(now));
  switch (FPhase) {
    case TPhase::Idle: FCountFrom = now; break;
    case TPhase::Download:
      if (FDownloadRefused)
        FPhaseOver = true;
      else
        OpenFlow(true);
      break;
    case TPhase::Upload: OpenFlow(false); break;
    case TPhase::Both:
      for (int i = 0; i < (FDownloadRefused ? 0 : std::max(1, FResult.Download.Connections)); ++i) OpenFlow(true);
      for (int i = 0; i < std::max(1, FResult.Upload.Connections); ++i) OpenFlow(false);
      break;
  }
  FTotalAtStep = FDownTotal + FUpTotal;
}

void TEngine::EndPhase(Clock::time_point now) {
  switch (FPhase) {
    case TPhase::Idle: FResult.Idle = PhaseLatency(TPhase::Idle); break;
    case TPhase::Download:
      FResult.Download = DirectionResult(true, now);
      // A server that takes the request and stays silent sends as little as one that refuses it.
      if (FResult.Download.Measured && FDownTotal == 0) {
        FlowEnded(*FFlows.front(), TEnd::SentNothing);
        FResult.Download = {};
      }
      break;
    case TPhase::Upload: FResult.Upload = DirectionResult(false, now); break;
    case TPhase::Both: {
      const TDirectionResult down = DirectionResult(true, now);
      const TDirectionResult up = DirectionResult(false, now);
      FResult.Both.Measured = up.Measured || down.Measured;
      FResult.Both.DownloadMbit = down.Mbit();
      FResult.Both.UploadMbit = up.Mbit();
      FResult.Both.Latency = PhaseLatency(TPhase::Both);
      break;
    }
  }
  CloseFlows();
}

TLatency TEngine::PhaseLatency(TPhase phase) const {
  std::vector<double> values;
  for (const auto& sample : FLatencies)
    if (sample.Phase == phase && sample.Counted) values.push_back(sample.Ms);
  // Without probes the loaded connections' own round trips are what is known of the line.
  if (values.empty()) {
    for (const auto& sample : FRoundTrips)
      if (sample.Phase == phase && sample.Counted) values.push_back(sample.Ms);
  }
  return LatencyOf(values);
}

TDirectionResult TEngine::DirectionResult(bool download, Clock::time_point now) const {
  TDirectionResult result;
  int flows = 0;
  std::uint64_t sent = 0, again = 0;
  TLimitShares shares;
  int sharesKnown = 0;
  for (const auto& flow : FFlows) {
    if (flow->Download != download) continue;
    ++flows;
    if (!flow->First || !flow->Last) continue;
    const TConnectionState &from = flow->First->State, &to = flow->Last->State;
    if (from.BytesSent && to.BytesSent && from.BytesRetrans && to.BytesRetrans && *to.BytesSent >= *from.BytesSent) {
      sent += *to.BytesSent - *from.BytesSent;
      again += *to.BytesRetrans >= *from.BytesRetrans ? *to.BytesRetrans - *from.BytesRetrans : 0;
    }
    const double full = flow->Samples ? static_cast<double>(flow->WindowFullSamples) / flow->Samples : 0;
    if (const auto these = LimitSharesBetween(*flow->First, *flow->Last, full)) {
      shares.Network += these->Network;
      shares.ReceiveWindow += these->ReceiveWindow;
      shares.SendBuffer += these->SendBuffer;
      shares.Program += these->Program;
      ++sharesKnown;
    }
  }
  result.Connections = flows;
  if (sent > 0) result.RetransPercent = 100.0 * again / sent;
  if (sharesKnown > 0) {
    shares.Network /= sharesKnown;
    shares.ReceiveWindow /= sharesKnown;
    shares.SendBuffer /= sharesKnown;
    shares.Program /= sharesKnown;
    result.Limits = shares;
    result.Cause = shares.Main();
  }
  if (FCountFrom && flows > 0) {
    result.Measured = true;
    result.Seconds = std::chrono::duration<double>(now - *FCountFrom).count();
    result.Bytes = download ? FDownTotal - FDownAtCount : FUpTotal - FUpAtCount;
    result.WindowStartNs = std::chrono::duration_cast<std::chrono::nanoseconds>(FCountFrom->time_since_epoch()).count();
    result.WindowEndNs = std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
  }
  result.Latency = PhaseLatency(FPhase);
  return result;
}

void TEngine::OpenFlow(bool download) {
  auto flow = std::make_unique<TFlow>();
  flow->Download = download;
  flow->Fd = StartConnect(FAddress);
  if (flow->Fd < 0) {
    Fail(QStringLiteral("Für den Test ließ sich keine Verbindung anlegen: %1")
             .arg(QString::fromLocal8Bit(strerror(errno))));
    return;
  }
  if (download) {
    flow->Records = std::make_unique<TStateRecordFinder>(DownloadBlockSize);
  } else {
    setsockopt(flow->Fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &UnsentLimit, sizeof UnsentLimit);
  }
  FFlows.push_back(std::move(flow));
}

void TEngine::CloseFlows() {
  for (auto& flow : FFlows) {
    if (flow->Fd < 0) continue;
    // A download first says it is over, so its server ends in order; our close then resets what
    // is still under way.
    if (flow->Download && flow->Connected) shutdown(flow->Fd, SHUT_WR);
    Abort(flow->Fd);
    flow->Fd = -1;
  }
  FFlows.clear();
}

void TEngine::DropDownloads() {
  for (auto& flow : FFlows) {
    if (!flow->Download) continue;
    Abort(flow->Fd);
    flow->Fd = -1;
  }
  if (std::erase_if(FFlows, [](const auto& flow) { return flow->Fd < 0; }) > 0 && FPhase == TPhase::Download)
    FPhaseOver = true;
}

void TEngine::Step(Clock::time_point now) {
  if (now >= FNextStep) {
    Ramp(now);
    FNextStep += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(FStepSeconds));
  }
  if (now >= FNextPoint) {
    AddPoint(now);
    FNextPoint += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(FStepSeconds / 2));
  }
  if (now >= FNextProbe) {
    if (FProbes.size() < MaxProbesOpen) StartProbe(now);
    FNextProbe += ProbeInterval;
    if (FNextProbe < now) FNextProbe = now + ProbeInterval;
  }
  if (now >= FNextTotals) {
    for (auto& flow : FFlows)
      if (!flow->Download && flow->Connected && flow->End == TEnd::Open) ReadAcknowledged(*flow, now);
    FNextTotals = now + TotalInterval;
  }
  for (auto& probe : FProbes) {
    if (now - (probe->Asking ? probe->Asked : probe->Started) < ProbeLimit) continue;
    if (probe->Asking) ProbeUnanswered();
    CloseProbe(*probe);
  }
  std::erase_if(FProbes, [](const auto& probe) { return probe->Fd < 0; });
}

void TEngine::Ramp(Clock::time_point now) {
  const std::uint64_t total = FDownTotal + FUpTotal;
  const double rate = (total - FTotalAtStep) / FStepSeconds;
  FTotalAtStep = total;
  ++FStepsDone;
  if (FCountFrom) return;
  if (FPhase == TPhase::Both) {
    if (FStepsDone >= BothStartSteps) FCountFrom = now;
  } else {
    // The first step is the first connection's start; from then on each step is compared with the
    // one before, and a connection is added while the total grows, at the latest until half the
    // phase has gone.
    const bool growing = !FLastStepRate || rate > Growth * *FLastStepRate;
    const bool room = static_cast<int>(FFlows.size()) < FOptions.MaxConnections && FStepsDone < 5;
    FLastStepRate = rate;
    if (FStepsDone == 1) return;
    if (growing && room) {
      OpenFlow(FPhase == TPhase::Download);
    } else {
      FCountFrom = now;
    }
  }
  if (FCountFrom) {
    FDownAtCount = FDownTotal;
    FUpAtCount = FUpTotal;
  }
}

void TEngine::AddPoint(Clock::time_point now) {
  const double seconds = std::chrono::duration<double>(now - FLastPoint).count();
  if (seconds <= 0) return;
  TPoint point;
  point.Seconds = Seconds(now);
  point.Phase = FPhase;
  const bool loaded = FPhase != TPhase::Idle;
  if (loaded && FPhase != TPhase::Upload && !FDownloadRefused)
    point.DownloadMbit = (FDownTotal - FDownAtPoint) * 8.0 / seconds / 1e6;
  if (loaded && FPhase != TPhase::Download) point.UploadMbit = (FUpTotal - FUpAtPoint) * 8.0 / seconds / 1e6;
  if (const auto median = Percentile(FPointLatencies, 0.5)) point.LatencyMs = *median;
  FPointLatencies.clear();
  FDownAtPoint = FDownTotal;
  FUpAtPoint = FUpTotal;
  FLastPoint = now;
  FResult.Points.push_back(point);
  FSink.PointAdded(point);
}

void TEngine::ServeFlow(TFlow& flow, short events, Clock::time_point now) {
  if (flow.End != TEnd::Open || events == 0) return;
  if (!flow.Connected) {
    FlowConnected(flow, now);
    return;
  }
  if (events & (POLLIN | POLLHUP | POLLERR)) Receive(flow, now);
  if (flow.End == TEnd::Open && !flow.Download && (events & POLLOUT)) Send(flow);
}

void TEngine::FlowConnected(TFlow& flow, Clock::time_point now) {
  int code = 0;
  socklen_t length = sizeof code;
  getsockopt(flow.Fd, SOL_SOCKET, SO_ERROR, &code, &length);
  if (code != 0) {
    FlowEnded(flow, TEnd::Broken);
    return;
  }
  flow.Connected = true;
  flow.NextSample = now;
  if (flow.Download) {
    const auto request = EncodeDownloadRequest(DownloadBlockSize);
    // A fresh connection's buffer takes the 16 bytes whole.
    if (send(flow.Fd, request.data(), request.size(), MSG_DONTWAIT | MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size()))
      FlowEnded(flow, TEnd::Broken);
  } else {
    TConnectionState state;
    if (ReadConnectionState(flow.Fd, state) && state.BytesAcked) flow.AckedAtConnect = *state.BytesAcked;
  }
}

void TEngine::Receive(TFlow& flow, Clock::time_point now) {
  for (int i = 0; i < TransfersPerWakeup; ++i) {
    const ssize_t n = recv(flow.Fd, FReadBuffer.data(), FReadBuffer.size(), MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n < 0) {
      FlowEnded(flow, TEnd::Broken);
      return;
    }
    if (n == 0) {
      // An upload's server never sends: its end is the server's. A download's end tells whether
      // the server ended it on purpose, broke off, or never sent at all.
      if (!flow.Download)
        FlowEnded(flow, TEnd::EndedByServer);
      else if (flow.Bytes == 0)
        FlowEnded(flow, TEnd::SentNothing);
      else
        FlowEnded(flow, IsDownloadEnd(flow.Tail.data(), flow.Bytes) ? TEnd::EndedByServer : TEnd::Broken);
      return;
    }
    if (!flow.Download) continue;  // nothing an upload's server could say counts
    const auto size = static_cast<std::size_t>(n);
    const std::size_t kept = std::min(size, flow.Tail.size());
    std::memmove(flow.Tail.data(), flow.Tail.data() + kept, flow.Tail.size() - kept);
    std::memcpy(flow.Tail.data() + flow.Tail.size() - kept, FReadBuffer.data() + size - kept, kept);
    flow.Bytes += size;
    FDownTotal += size;
    flow.Records->Feed(FReadBuffer.data(), size,
                       [&](std::uint32_t, const TConnectionState& state) { AddState(flow, state, now); });
    if (size < FReadBuffer.size()) return;
  }
}

void TEngine::Send(TFlow& flow) {
  for (int i = 0; i < TransfersPerWakeup; ++i) {
    const std::size_t offset = flow.Accepted % UploadBlockSize;
    const ssize_t n = send(flow.Fd, FUploadBlocks.data() + offset, UploadBlockSize, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      flow.Accepted += static_cast<std::uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) FlowEnded(flow, TEnd::Broken);
    return;
  }
}

void TEngine::ReadAcknowledged(TFlow& flow, Clock::time_point now) {
  TConnectionState state;
  std::uint64_t acked = flow.Accepted;  // where the kernel keeps no count, what it took stands in
  const bool known = ReadConnectionState(flow.Fd, state);
  if (known && state.BytesAcked && flow.AckedAtConnect) acked = *state.BytesAcked - *flow.AckedAtConnect;
  if (acked > flow.Bytes) {
    FUpTotal += acked - flow.Bytes;
    flow.Bytes = acked;
  }
  if (known && now >= flow.NextSample) {
    AddState(flow, state, now);
    flow.NextSample = now + SampleInterval;
  }
}

void TEngine::AddState(TFlow& flow, const TConnectionState& state, Clock::time_point now) {
  const TStateSample sample{Ms(now), state};
  if (!flow.First) flow.First = sample;
  flow.Last = sample;
  ++flow.Samples;
  if (WindowFull(state)) ++flow.WindowFullSamples;
  if (!state.RttUs) return;
  const double ms = *state.RttUs / 1000.0;
  FRoundTrips.push_back({FPhase, Counting(), ms});
  if (FPhase != TPhase::Idle && Counting()) FLoaded.RoundTripMs.push_back(ms);
}

void TEngine::FlowEnded(TFlow& flow, TEnd end) {
  flow.End = end;
  const QString phase = PhaseName(FPhase);
  switch (end) {
    case TEnd::Open: break;
    case TEnd::SentNothing:
      // A server that refuses downloads closes at once; the test goes on without them.
      FDownloadRefused = true;
      Missing(
          QStringLiteral("Der Server sendet keine Daten (er lehnt Downloads ab oder kennt sie nicht): "
                         "Der Download wurde nicht gemessen, nur der Upload."));
      break;
    case TEnd::Broken:
      Fail(QStringLiteral("Im Abschnitt „%1“ brach eine Verbindung zum Server %2 ab. Läuft der Server noch? "
                          "Der Test ist nicht vollständig; bitte wiederholen Sie ihn.")
               .arg(phase, FOptions.Host));
      break;
    case TEnd::EndedByServer:
      Fail(QStringLiteral("Im Abschnitt „%1“ beendete der Server %2 eine Verbindung von sich aus (eine Zeitgrenze "
                          "des Servers?). Der Test ist nicht vollständig.")
               .arg(phase, FOptions.Host));
      break;
  }
}

void TEngine::StartProbe(Clock::time_point now) {
  auto probe = std::make_unique<TProbe>();
  probe->Fd = StartConnect(FAddress);
  if (probe->Fd < 0) return;
  probe->Phase = FPhase;
  probe->Started = now;
  probe->Token = FNextToken++;
  FProbes.push_back(std::move(probe));
}

void TEngine::ServeProbe(TProbe& probe, short events, Clock::time_point now) {
  if (probe.Fd < 0 || events == 0) return;
  if (!probe.Asking) {
    ProbeConnected(probe, now);
  } else {
    ProbeAnswered(probe, now);
  }
}

void TEngine::AddLatency(std::vector<double>& loadedSamples, double ms) {
  FLatencies.push_back({FPhase, Counting(), ms});
  FPointLatencies.push_back(ms);
  if (FPhase != TPhase::Idle && Counting()) loadedSamples.push_back(ms);
}

void TEngine::ProbeConnected(TProbe& probe, Clock::time_point now) {
  int code = 0;
  socklen_t length = sizeof code;
  getsockopt(probe.Fd, SOL_SOCKET, SO_ERROR, &code, &length);
  if (code != 0) {
    CloseProbe(probe);
    // A server that refuses new connections again and again has gone away.
    if (code == ECONNREFUSED && ++FRefusedInRow >= RefusedLimit)
      Fail(QStringLiteral("Der Server %1 nimmt keine Verbindungen mehr an: Er wurde wohl während des Tests beendet.")
               .arg(FOptions.Host));
    return;
  }
  FRefusedInRow = 0;
  AddLatency(FLoaded.HandshakeMs, std::chrono::duration<double, std::milli>(now - probe.Started).count());
  if (!FAsking) {
    CloseProbe(probe);
    return;
  }
  const auto request = EncodeProbeRequest(probe.Token);
  probe.Asked = Clock::now();
  if (send(probe.Fd, request.data(), request.size(), MSG_DONTWAIT | MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    CloseProbe(probe);
    return;
  }
  probe.Asking = true;
}

void TEngine::ProbeAnswered(TProbe& probe, Clock::time_point now) {
  const ssize_t n =
      recv(probe.Fd, probe.Answer.data() + probe.AnswerSize, probe.Answer.size() - probe.AnswerSize, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) {
    ProbeUnanswered();
    CloseProbe(probe);
    return;
  }
  probe.AnswerSize += static_cast<std::size_t>(n);
  if (probe.AnswerSize < probe.Answer.size()) return;
  std::uint32_t token = 0;
  if (ParseProbeAnswer(probe.Answer.data(), probe.Answer.size(), token) && token == probe.Token) {
    ++FAnswers;
    FUnansweredInRow = 0;
    AddLatency(FLoaded.AnswerMs, std::chrono::duration<double, std::milli>(now - probe.Asked).count());
  } else {
    ProbeUnanswered();
  }
  CloseProbe(probe);
}

void TEngine::ProbeUnanswered() {
  if (FAnswers > 0 || ++FUnansweredInRow < UnansweredLimit || !FAsking) return;
  FAsking = false;
  Missing(
      QStringLiteral("Der Server beantwortet keine Latenzproben (ein älterer korvaden-server?): Die Latenz "
                     "beruht nur auf dem Verbindungsaufbau neuer Verbindungen."));
}

void TEngine::CloseProbe(TProbe& probe) {
  if (probe.Fd < 0) return;
  close(probe.Fd);
  probe.Fd = -1;
}

}  // namespace linetest
