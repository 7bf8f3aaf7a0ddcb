#pragma once
// What korvaden-server reports, and the lines it prints for it. Scripts and tests parse them, so
// their shape must stay put. Plain lines (the program puts the local date and time before each):
//   korvaden-server lauscht auf 127.0.0.1:2857
//   [Verbindung 1 von 127.0.0.1:54321] 1.00 s: 123456789 Bytes, 117.74 MiB/s
//   [Verbindung 1] beendet: 1234567890 Bytes in 10.52 s, 111.83 MiB/s (geschlossen)
//   [Verbindung 2 von 127.0.0.1:54322] abgewiesen: Grenze von 100 Verbindungen erreicht
// A download's lines say "gesendet" after the bytes, an upload's stay as they were:
//   [Verbindung 3 von 127.0.0.1:54323] 1.00 s: 123456789 Bytes gesendet, 117.74 MiB/s
//   [Verbindung 3] beendet: 1234567890 Bytes gesendet in 10.52 s, 111.83 MiB/s (geschlossen)
//   [Verbindung 4 von 127.0.0.1:54324] abgewiesen: Download abgeschaltet
// A latency probe's connection prints nothing, though it takes a number: the next connection's
// number may skip some.
// With --json one object per line instead, for example
//   {"event":"interval","time":"2026-12-08T05:20:01.123+01:00","connection":1,
//    "peer":"127.0.0.1:54321","direction":"upload","seconds":1.00,"bytes":123456789,"rate":117.74}
// (rate in MiB/s; "direction" "upload" or "download" and "bytes" received or sent on "interval" and
// "end"; "reason" on "end"; "limit" on "refused", or "direction" and "reason" for a refused download;
// "address" and "port" on "listening"; "message" on "error").

#include <cstdint>
#include <string>
#include <string_view>

#include "base/direction.h"

namespace korvaden {

// Why a connection ended, as shown in brackets at the end of the summary line.
// BadRequest: a download request with a block size of 0 or above 2 GiB - 1.
enum class EndReason { Closed, Reset, Error, ServerStopped, IdleTimeout, MaxDuration, BadRequest };

struct Report {
  enum class Kind { Listening, Interval, Ended, Refused, Problem };
  Kind kind = Kind::Problem;
  unsigned connection = 0;
  std::string peer;        // Listening: the bound address
  std::uint16_t port = 0;  // Listening only
  double seconds = 0;      // since the accept: at the interval's end, or the whole connection
  std::uint64_t bytes = 0;
  double intervalSeconds = 0;  // the real length of the interval, which the rate is taken over
  EndReason reason = EndReason::Closed;
  int errorCode = 0;                        // EndReason::Error
  unsigned limit = 0;                       // Refused: the connection limit; 0 for a refused download
  TDirection direction = TDirection::Send;  // Interval, Ended, Refused
  std::string message;                      // Problem
};

double MebibytesPerSecond(std::uint64_t bytes, double seconds);

// A text from the command line or from a peer as it may be printed: control characters and the
// backslash become escapes (\n, \t, \xNN, \\), so a value can neither forge a line nor steer the
// terminal.
std::string Printable(std::string_view text);

std::string ListeningLine(std::string_view address, std::uint16_t port);

// elapsedSeconds: time since the connection was accepted, at the end of the interval.
// The rate is taken over intervalSeconds, the real length of the interval.
std::string IntervalLine(unsigned number, std::string_view peer, double elapsedSeconds, std::uint64_t bytes,
                         double intervalSeconds, TDirection direction = TDirection::Send);

// errorCode only matters for EndReason::Error.
std::string SummaryLine(unsigned number, std::uint64_t bytes, double seconds, EndReason reason, int errorCode = 0,
                        TDirection direction = TDirection::Send);

// The plain line of a report, without date and time.
std::string PlainLine(const Report& report);
// The JSON object of a report; time is its ISO 8601 local time.
std::string JsonLine(const Report& report, std::string_view time);

}  // namespace korvaden
