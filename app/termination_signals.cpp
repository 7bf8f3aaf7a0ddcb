#include "app/termination_signals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace {
constexpr int Handled[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, which may run on any thread; only async-signal-safe calls there.
volatile sig_atomic_t WriteEnd = -1;

void Handler(int) {
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(WriteEnd, &byte, 1);  // a full pipe already says enough
  errno = savedErrno;
}

sigset_t HandledSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : Handled) sigaddset(&set, signal);
  return set;
}
}  // namespace

TTerminationSignals::TTerminationSignals(std::function<void()> onSignal) : FOnSignal(std::move(onSignal)) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0)
    throw std::system_error(errno, std::generic_category(), "socketpair");
  FReadEnd = ends[0];
  WriteEnd = ends[1];
  FNotifier = new QSocketNotifier(FReadEnd, QSocketNotifier::Read);
  QObject::connect(FNotifier, &QSocketNotifier::activated, [this] { Received(); });

  struct sigaction action {};
  action.sa_handler = Handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : Handled) ::sigaction(signal, &action, nullptr);
  // A program started with these signals blocked would never hear the session end. A signal that
  // arrived while they were blocked is delivered now and handled once the event loop runs.
  const sigset_t set = HandledSet();
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

TTerminationSignals::~TTerminationSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signal : Handled) ::sigaction(signal, &action, nullptr);
  delete FNotifier;
  ::close(WriteEnd);
  WriteEnd = -1;
  ::close(FReadEnd);
}

void TTerminationSignals::Received() {
  char bytes[64];
  while (::read(FReadEnd, bytes, sizeof bytes) > 0) {
  }
  FOnSignal();
}
