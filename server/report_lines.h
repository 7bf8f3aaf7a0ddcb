#pragma once
// The lines korvaden-server prints. Scripts and tests parse them, so their shape must stay put:
//   korvaden-server lauscht auf 127.0.0.1:2857
//   [Verbindung 1 von 127.0.0.1:54321] 1.00 s: 123456789 Bytes, 117.74 MiB/s
//   [Verbindung 1] beendet: 1234567890 Bytes in 10.52 s, 111.83 MiB/s (geschlossen)

#include <cstdint>
#include <string>
#include <string_view>

namespace korvaden {

// Why a connection ended, as shown in brackets at the end of the summary line.
enum class EndReason { Closed, Reset, Error, ServerStopped };

double MebibytesPerSecond(std::uint64_t bytes, double seconds);

std::string ListeningLine(std::string_view address, std::uint16_t port);

// elapsedSeconds: time since the connection was accepted, at the end of the interval.
// The rate is taken over intervalSeconds, the real length of the interval.
std::string IntervalLine(unsigned number, std::string_view peer, double elapsedSeconds,
                         std::uint64_t bytes, double intervalSeconds);

// errorCode only matters for EndReason::Error.
std::string SummaryLine(unsigned number, std::uint64_t bytes, double seconds, EndReason reason,
                        int errorCode = 0);

}  // namespace korvaden
