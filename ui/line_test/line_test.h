#pragma once
// The line test: idle, download, upload and both at once against one measurement server, with
// latency probes throughout. Each load phase starts with one connection and adds one a step
// (a tenth of the phase, a second by default) while the total still grows by more than 5 %, up to
// eight; its rate counts from the moment the total stopped growing. Every probe opens a new
// connection (its handshake time) and asks the server for its short answer (the request-to-answer
// time), at most ten a second.
//
// The test runs on a thread of its own with non-blocking sockets in one poll loop, so neither the
// window nor the command line ever waits for the network; results come back as queued signals on
// the thread that owns the object. Cancel() and the destructor end it within a few milliseconds,
// a name lookup still under way included.

#include <QObject>

#include <atomic>
#include <memory>
#include <thread>

#include "base/tcp_port.h"
#include "ui/line_test/line_test_result.h"

namespace linetest {

struct TOptions {
  QString Host;
  int Port = DefaultPort;
  double PhaseSeconds = 10;  // download, upload and both; the idle phase lasts half of it
  int MaxConnections = 8;
};

// The length of a phase with these options.
double PhaseLength(const TOptions& options, TPhase phase);
double TotalLength(const TOptions& options);

class TLineTest : public QObject {
  Q_OBJECT

 public:
  explicit TLineTest(TOptions options, QObject* parent = nullptr);
  ~TLineTest() override;

  void Start();
  // Ends the test at once; nothing of it is reported after this.
  void Cancel();
  bool Running() const { return FRunning; }
  const TOptions& Options() const { return FOptions; }

 signals:
  void AddressChosen(const QString& address);
  void PhaseStarted(linetest::TPhase phase, double atSeconds);
  void PointAdded(const linetest::TPoint& point);
  // Once per test, also when it could not be done (result.Error).
  void Finished(const linetest::TResult& result);

 private:
  void Post(std::function<void()> deliver);
  void Join();

  TOptions FOptions;
  bool FRunning = false;
  std::shared_ptr<std::atomic<bool>> FCancelled;
  int FWake = -1;  // eventfd that interrupts the engine's poll
  std::thread FThread;
};

}  // namespace linetest
