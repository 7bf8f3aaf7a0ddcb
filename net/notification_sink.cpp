#include "net/notification_sink.h"

#include <QSocketNotifier>
#include <QTimer>

#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <cerrno>

#include <algorithm>
#include <stdexcept>

#include "base/application_exception.h"
#include "base/tcp_state.h"
#include "net/platform_socket.h"

namespace {
// Errors that only a connection that had been established can end with.
bool IsErrorOfEstablishedConnection(int error) {
  return error == ECONNRESET || error == ECONNABORTED || error == EPIPE;
}

// How long an orderly close waits for a reset. A peer whose socket is gone (its process killed,
// the connection closed outright) answers the data still on its way with a reset about a round
// trip after its close arrived; a live server that only ended its sending half (a server's time
// limit) goes on taking the data and sends none.
int PeerCloseWaitMs(int handle) {
  TConnectionState state;
  const double roundTripMs = ReadConnectionState(handle, state) && state.RttUs ? *state.RttUs / 1000.0 : 0;
  return std::clamp(static_cast<int>(2 * roundTripMs) + 20, 20, 2000);
}
}  // namespace

TNotificationSink::TNotificationSink(TDispatch dispatch) : FDispatch(std::move(dispatch)) {
  FEpoll = ::epoll_create1(EPOLL_CLOEXEC);
  if (FEpoll < 0) throw ESocketError("Can't create notification sink: " + platform::ErrorText(platform::LastError()));
  FNotifier = new QSocketNotifier(FEpoll, QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] { Drain(); });
}

TNotificationSink::~TNotificationSink() {
  delete FNotifier;
  ::close(FEpoll);
}

std::uint32_t TNotificationSink::EpollMask(const TRegistration& registration) const {
  std::uint32_t events = EPOLLET;
  if (registration.ConnectPending || registration.WriteDue) events |= EPOLLOUT;
  // After the peer's close only an error or a hang-up (both always reported) can still come.
  if (!registration.ConnectPending && !registration.PeerClosed) {
    if ((registration.Mask & snRead) && !registration.ReadSignalled) events |= EPOLLIN;
    if (registration.Mask & snClose) events |= EPOLLRDHUP;
  }
  return events;
}

void TNotificationSink::Register(int handle, TSocketNotifications mask) {
  std::lock_guard lock(FMutex);
  ForgetHandle(handle);
  TRegistration registration;
  registration.Handle = handle;
  registration.Mask = mask;
  registration.ConnectPending = (mask & snConnect) != 0;
  const std::uint64_t token = FNextToken++;
  epoll_event event{};
  event.events = EpollMask(registration);
  event.data.u64 = token;
  platform::SetNonBlocking(handle, true);
  if (::epoll_ctl(FEpoll, EPOLL_CTL_ADD, handle, &event) == 0) FRegistrations.emplace(token, registration);
}

void TNotificationSink::Forget(std::map<std::uint64_t, TRegistration>::iterator entry) {
  ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, entry->second.Handle, nullptr);
  FRegistrations.erase(entry);
}

void TNotificationSink::ForgetHandle(int handle) {
  for (auto entry = FRegistrations.begin(); entry != FRegistrations.end(); ++entry) {
    if (entry->second.Handle == handle) {
      Forget(entry);
      return;
    }
  }
}

void TNotificationSink::Unregister(int handle) {
  std::lock_guard lock(FMutex);
  ForgetHandle(handle);
}

bool TNotificationSink::IsRegistered(int handle) const {
  std::lock_guard lock(FMutex);
  for (const auto& [token, registration] : FRegistrations)
    if (registration.Handle == handle) return true;
  return false;
}

// Turns one epoll report into at most one triple and rearms the handle for what is still to come.
// Re-arming with EPOLL_CTL_MOD re-reports conditions that still hold, so a report that carries
// several conditions yields its triples one after another, each after the previous one's handler.
bool TNotificationSink::Translate(std::uint64_t token, std::uint32_t events, TTriple& triple) {
  std::lock_guard lock(FMutex);
  auto entry = FRegistrations.find(token);
  if (entry == FRegistrations.end()) return false;  // unregistered after the report was taken
  TRegistration& registration = entry->second;
  const int handle = registration.Handle;

  if (registration.ConnectPending) {
    const int error = platform::TakePendingError(handle);
    if (error == 0 && !platform::HasPeer(handle)) return false;  // not connected yet
    if (IsErrorOfEstablishedConnection(error)) {
      // Connected and broken before we looked: report the connect, then the close with its error.
      registration.CloseError = error;
      triple = {handle, snConnect, 0};
    } else {
      triple = {handle, snConnect, error};
    }
    if (triple.ErrorCode != 0) {
      Forget(entry);  // a failed attempt raises nothing afterwards
      return true;
    }
    registration.ConnectPending = false;
    registration.WriteDue = (registration.Mask & snWrite) != 0;
  } else if ((events & EPOLLIN) && (registration.Mask & snRead) && !registration.ReadSignalled) {
    registration.ReadSignalled = true;
    triple = {handle, snRead, 0};
  } else if ((events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && (registration.Mask & snClose)) {
    const int pending = platform::TakePendingError(handle);
    const int error = registration.CloseError != 0 ? registration.CloseError : pending;
    if (error != 0 || registration.PeerClosed || (events & (EPOLLHUP | EPOLLERR))) {
      // A reset, also one that answered our data after the peer's close (Linux reports that as
      // EPIPE), is a break; a hang-up without an error is the orderly close.
      triple = {handle, snClose, error};
      Forget(entry);  // the close is reported once
      return true;
    }
    registration.PeerClosed = true;
    QTimer::singleShot(PeerCloseWaitMs(handle), this, [this, token] { ReportPeerClose(token); });
    Rearm(token, registration);
    return false;
  } else if ((events & EPOLLOUT) && registration.WriteDue) {
    registration.WriteDue = false;
    triple = {handle, snWrite, 0};
  } else {
    return false;
  }
  Rearm(token, registration);
  return true;
}

void TNotificationSink::Rearm(std::uint64_t token, const TRegistration& registration) {
  epoll_event rearm{};
  rearm.events = EpollMask(registration);
  rearm.data.u64 = token;
  ::epoll_ctl(FEpoll, EPOLL_CTL_MOD, registration.Handle, &rearm);
}

void TNotificationSink::ReportPeerClose(std::uint64_t token) {
  TTriple triple{};
  {
    std::lock_guard lock(FMutex);
    auto entry = FRegistrations.find(token);
    if (entry == FRegistrations.end()) return;  // closed or broken meanwhile
    const int handle = entry->second.Handle;
    // A download's reader has not taken everything yet, and the stream's last bytes tell whether
    // the server ended it on purpose: closing now would throw them away. It keeps reading, so the
    // same wait again soon finds nothing left. (An upload's client has nothing to read.)
    if (int unread = 0; ::ioctl(handle, FIONREAD, &unread) == 0 && unread > 0) {
      QTimer::singleShot(PeerCloseWaitMs(handle), this, [this, token] { ReportPeerClose(token); });
      return;
    }
    triple = {handle, snClose, 0};
    Forget(entry);
  }
  RunGuarded([&] { FDispatch(triple.Handle, triple.Bit, triple.ErrorCode); });
}

void TNotificationSink::Drain() {
  // One report at a time: a handler may run a nested event loop that drains the rest itself.
  for (;;) {
    epoll_event event{};
    const int count = ::epoll_wait(FEpoll, &event, 1, 0);
    if (count <= 0) return;
    TTriple triple{};
    if (!Translate(event.data.u64, event.events, triple)) continue;
    RunGuarded([&] { FDispatch(triple.Handle, triple.Bit, triple.ErrorCode); });
  }
}
