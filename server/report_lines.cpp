#include "report_lines.h"

#include <cinttypes>
#include <cstdio>
#include <system_error>

namespace korvaden {
namespace {

std::string ReasonText(EndReason reason, int errorCode) {
  switch (reason) {
    case EndReason::Closed: return "geschlossen";
    case EndReason::Reset: return "zurückgesetzt";
    case EndReason::ServerStopped: return "Server beendet";
    case EndReason::Error: break;
  }
  // generic_category() rather than strerror(): the server may run on a test's thread.
  return "Fehler: " + std::generic_category().message(errorCode);
}

}  // namespace

double MebibytesPerSecond(std::uint64_t bytes, double seconds) {
  if (seconds <= 0.0) return 0.0;
  return static_cast<double>(bytes) / seconds / (1024.0 * 1024.0);
}

std::string ListeningLine(std::string_view address, std::uint16_t port) {
  return "korvaden-server lauscht auf " + std::string(address) + ":" + std::to_string(port);
}

std::string IntervalLine(unsigned number, std::string_view peer, double elapsedSeconds,
                         std::uint64_t bytes, double intervalSeconds) {
  char text[160];
  std::snprintf(text, sizeof text, "[Verbindung %u von %.*s] %.2f s: %" PRIu64 " Bytes, %.2f MiB/s",
                number, static_cast<int>(peer.size()), peer.data(), elapsedSeconds, bytes,
                MebibytesPerSecond(bytes, intervalSeconds));
  return text;
}

std::string SummaryLine(unsigned number, std::uint64_t bytes, double seconds, EndReason reason,
                        int errorCode) {
  char text[120];
  std::snprintf(text, sizeof text, "[Verbindung %u] beendet: %" PRIu64 " Bytes in %.2f s, %.2f MiB/s",
                number, bytes, seconds, MebibytesPerSecond(bytes, seconds));
  return std::string(text) + " (" + ReasonText(reason, errorCode) + ")";
}

}  // namespace korvaden
