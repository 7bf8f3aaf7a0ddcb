#pragma once
// The receiving side of a throughput measurement: accepts any number of TCP connections,
// throws away whatever arrives and reports per connection once a second and when it ends.
// One thread, one poll loop; run() may also be driven from a test's own thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "report_lines.h"

namespace korvaden {

class MeasurementServer {
 public:
  // Receives every report line, without the line break, on the thread that calls run().
  using LineSink = std::function<void(std::string_view line)>;

  explicit MeasurementServer(LineSink sink);
  ~MeasurementServer();
  MeasurementServer(const MeasurementServer&) = delete;
  MeasurementServer& operator=(const MeasurementServer&) = delete;

  // Binds and listens on a dotted IPv4 address. On failure returns false with a German
  // message in error.
  bool Listen(const std::string& bindAddress, std::uint16_t port, std::string& error);

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
    std::uint64_t totalBytes = 0;
    std::uint64_t intervalBytes = 0;
    bool ended = false;
  };

  void AcceptPending();
  void Drain(Connection& connection);
  void ReportDueIntervals(Clock::time_point now);
  void Finish(Connection& connection, EndReason reason, int errorCode = 0);
  int PollTimeoutMs(Clock::time_point now) const;

  LineSink sink_;
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
};

}  // namespace korvaden
