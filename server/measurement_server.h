#pragma once
// The far side of a throughput measurement: accepts any number of TCP connections, throws away
// whatever arrives or, for a client whose first bytes ask for a download, sends blocks as fast as
// the connection takes them, and reports per connection once a second and when it ends. A
// connection whose first bytes are a latency probe gets its answers and is neither measured nor
// reported. One thread, one poll loop; run() may also be driven from a test's own thread.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/stream_protocol.h"
#include "server/block_stream.h"
#include "server/options.h"
#include "server/report_lines.h"

namespace korvaden {

class MeasurementServer {
 public:
  // Receive every report, or its plain line without date, time and line break, on the thread
  // that calls Run().
  using ReportSink = std::function<void(const Report& report)>;
  using LineSink = std::function<void(std::string_view line)>;

  explicit MeasurementServer(ReportSink sink);
  explicit MeasurementServer(LineSink sink);
  ~MeasurementServer();
  MeasurementServer(const MeasurementServer&) = delete;
  MeasurementServer& operator=(const MeasurementServer&) = delete;

  // Binds and listens on an IPv4 or IPv6 address; "::" is every IPv6 and IPv4 address (IPv4 alone
  // where the system has no IPv6). On failure returns false with a German message in error.
  bool Listen(const std::string& bindAddress, std::uint16_t port, std::string& error);
  // Before Listen(): SO_RCVBUF of the listening socket, which every accepted connection inherits;
  // 0 leaves the system's default and its automatic tuning.
  void SetReceiveBuffer(unsigned bytes) { receiveBufferBytes_ = bytes; }
  // Before Run().
  void SetLimits(const ServerLimits& limits) { limits_ = limits; }

  // Address and port as the system bound them (the real port when 0 was asked for).
  std::string BoundAddress() const { return boundAddress_; }
  std::uint16_t Port() const { return boundPort_; }

  // Serves until RequestStop(), then reports and closes every open connection.
  void Run();

  // Async-signal-safe, and safe from any thread, also before Run() has started.
  void RequestStop() noexcept;

 private:
  using Clock = std::chrono::steady_clock;

  struct Connection {
    int fd = -1;
    unsigned number = 0;
    std::string peer;
    Clock::time_point start;
    Clock::time_point intervalStart;
    Clock::time_point nextReport;
    Clock::time_point lastData;  // a download: the last time the client took any of our bytes
    // Bytes received, or for a download sent.
    std::uint64_t totalBytes = 0;
    std::uint64_t intervalBytes = 0;
    bool finSent = false;  // ended by the maximum duration; reading on until the client closes
    // A download at its maximum duration: the stream position after which its end word goes out,
    // and how much of the word has.
    std::optional<std::uint64_t> endAt;
    std::size_t endWordSent = 0;
    bool ended = false;
    // Until its first bytes tell, a connection counts as an upload and keeps them here; a probe
    // keeps a request here that has not come whole yet.
    bool decided = false;
    std::array<char, DownloadRequestSize> head{};
    std::size_t headSize = 0;
    TDirection direction = TDirection::Send;
    bool probe = false;
    std::unique_ptr<BlockStream> blocks;  // a download's
    std::uint32_t blockSize = 0;          // a download's
    Clock::time_point nextRecord;
  };

  void AcceptPending();
  void Refuse(int fd, const std::string& peer);
  void RefuseDownload(Connection& connection);
  // The limits' deadlines: closes idle connections, ends those past the maximum duration.
  void EnforceLimits(Clock::time_point now);
  Clock::time_point NextDeadline(const Connection& connection) const;
  void Drain(Connection& connection);
  // Looks at the first bytes read: an upload goes on, a download request turns the connection into
  // a sender (or ends it, when downloads are refused or the request is bad).
  void Decide(Connection& connection, const char* data, std::size_t size);
  void StartDownload(Connection& connection, std::uint32_t blockSize);
  // A probe's requests, however the reads cut them; each whole one is answered at once.
  void TakeProbeRequests(Connection& connection, const char* data, std::size_t size);
  void AnswerProbe(Connection& connection, std::uint32_t token);
  void Send(Connection& connection);
  // A download past its maximum duration: the rest of a block head that has begun, then the end word.
  void BeginDownloadEnd(Connection& connection);
  void SendDownloadEnd(Connection& connection);
  void ReportDueIntervals(Clock::time_point now);
  void Finish(Connection& connection, EndReason reason, int errorCode = 0);
  int PollTimeoutMs(Clock::time_point now) const;

  ReportSink sink_;
  ServerLimits limits_;
  unsigned receiveBufferBytes_ = 0;
  bool firstEnded_ = false;
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::atomic<bool> stopRequested_{false};
  std::string boundAddress_;
  std::uint16_t boundPort_ = 0;
  unsigned nextNumber_ = 1;
  std::vector<Connection> connections_;
  std::vector<char> buffer_;
  Clock::time_point acceptPausedUntil_{};
  bool acceptFailing_ = false;
};

}  // namespace korvaden
