#pragma once
// Command line of korvaden-server. Kept apart from main() so the tests can feed it arguments.

#include <cstdint>
#include <string>
#include <vector>

#include "base/tcp_port.h"

namespace korvaden {

// The client's default, so that the two never part.
inline constexpr std::uint16_t kDefaultPort = ::DefaultPort;

// What a server offered to a network needs; 0 means no limit.
struct ServerLimits {
  unsigned idleTimeoutSeconds = 0;  // a connection that delivered nothing for that long is closed
  unsigned maxDurationSeconds = 0;  // each connection is ended in an orderly way after that long
  unsigned maxConnections = 0;      // a connection beyond that many is turned away with a reset
  bool once = false;                // the server ends after its first connection has ended
  bool refuseDownloads = false;     // a download request is answered by closing the connection
};

struct ServerOptions {
  // "::" listens on every IPv6 and IPv4 address with one dual-stack socket.
  std::string bindAddress = "::";
  std::uint16_t port = kDefaultPort;  // 0 lets the system pick a free port
  ServerLimits limits;
  // SO_RCVBUF of the listening socket, which every accepted connection inherits; 0 leaves the system's.
  unsigned receiveBufferBytes = 0;
  bool json = false;
};

enum class ParseOutcome { Run, ShowHelp, Invalid };

struct ParseResult {
  ParseOutcome outcome = ParseOutcome::Run;
  ServerOptions options;
  std::string error;  // German, for the user; set only when outcome is Invalid
};

// args excludes the program name.
ParseResult ParseArguments(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace korvaden
