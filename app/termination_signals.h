#pragma once
// Lets the session or a user end the program as closing its window would (SIGTERM, SIGINT, SIGHUP):
// the measurement stops and the settings and the window's placement are saved. The signal handler
// only writes a byte to a socket pair; the user-interface thread reads it and runs the given action.

#include <QSocketNotifier>

#include <functional>

class TTerminationSignals {
 public:
  explicit TTerminationSignals(std::function<void()> onSignal);
  ~TTerminationSignals();
  TTerminationSignals(const TTerminationSignals&) = delete;
  TTerminationSignals& operator=(const TTerminationSignals&) = delete;

 private:
  void Received();

  std::function<void()> FOnSignal;
  int FReadEnd = -1;
  QSocketNotifier* FNotifier = nullptr;
};
