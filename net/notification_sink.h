#pragma once
// Delivers socket notifications as (handle, notification bit, error code) triples on the thread
// that created the sink, one at a time and in the order they happen.
//
// Each registered handle sits in an edge-triggered epoll set; one QSocketNotifier watches that set.
// Edge triggering plus the per-handle bookkeeping below turns Linux readiness into one-shot
// notifications: connect completion once, read readiness once (the client never reads, so a
// level-triggered read would fire on every pass of the event loop), close once.

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "net/socket_types.h"

class QSocketNotifier;

class TNotificationSink : public QObject {
  Q_OBJECT

 public:
  using TDispatch = std::function<void(int handle, int bit, int errorCode)>;

  explicit TNotificationSink(TDispatch dispatch);
  ~TNotificationSink() override;

  // Registers a fresh, not yet connected handle for the notifications in mask and makes it
  // non-blocking. Registering a handle again replaces its old registration.
  void Register(int handle, TSocketNotifications mask);
  // Must run before the handle is closed, on any thread.
  void Unregister(int handle);
  bool IsRegistered(int handle) const;

 private:
  struct TRegistration {
    int Handle = INVALID_SOCKET;
    TSocketNotifications Mask = 0;
    bool ConnectPending = false;
    bool WriteDue = false;
    bool ReadSignalled = false;
    int CloseError = 0;  // a break seen while the connect was still being reported
    // The peer's orderly close came; the close waits a moment for the reset that tells a peer which
    // is gone from one that only finished sending.
    bool PeerClosed = false;
  };
  struct TTriple {
    int Handle;
    int Bit;
    int ErrorCode;
  };

  void Drain();
  bool Translate(std::uint64_t token, std::uint32_t events, TTriple& triple);
  // The wait after an orderly close ended without a reset: the close is reported as orderly.
  void ReportPeerClose(std::uint64_t token);
  std::uint32_t EpollMask(const TRegistration& registration) const;
  // All three with FMutex held.
  void Rearm(std::uint64_t token, const TRegistration& registration);
  void Forget(std::map<std::uint64_t, TRegistration>::iterator entry);
  void ForgetHandle(int handle);

  TDispatch FDispatch;
  int FEpoll = -1;
  QSocketNotifier* FNotifier = nullptr;
  mutable std::mutex FMutex;
  std::map<std::uint64_t, TRegistration> FRegistrations;  // keyed by a token never reused
  std::uint64_t FNextToken = 1;
};
