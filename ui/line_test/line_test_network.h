#pragma once
// The line test's way to its server: the name looked up as every other program on this computer
// would (the system's address order, IPv6 first where it answers), the first address that accepts
// a connection chosen, and non-blocking connections to it. Every wait watches the wake descriptor,
// so a cancelled test never waits for the network.

#include <sys/socket.h>

#include <QString>

#include <atomic>
#include <optional>
#include <vector>

namespace linetest {

struct TAddress {
  sockaddr_storage Storage{};
  socklen_t Length = 0;
  QString Text;  // "192.0.2.1" or "2001:db8::1"
};

// The addresses of host in the system's order; none, with a German message in error, when the name
// has none, the lookup failed or wake was signalled (error then stays empty).
std::vector<TAddress> ResolveServer(const QString& host, int port, int wake, QString& error);

// A non-blocking TCP socket whose connect to address is under way or done; -1 when no socket could
// be had. Never raises SIGPIPE.
int StartConnect(const TAddress& address);

// The first address that accepts a connection within a few seconds. None, with a German message,
// when none did; none with an empty error when wake was signalled.
std::optional<TAddress> ChooseAddress(const std::vector<TAddress>& addresses, const QString& host, int port, int wake,
                                      QString& error);

// True when the wake descriptor was signalled (its count stays, so every later wait sees it too).
bool Woken(int wake);

}  // namespace linetest
