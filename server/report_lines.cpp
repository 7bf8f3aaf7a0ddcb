#include "server/report_lines.h"

#include <cinttypes>
#include <cstdio>
#include <system_error>

namespace korvaden {
namespace {

constexpr const char* RefusedDownloadText = "Download abgeschaltet";

std::string ReasonText(EndReason reason, int errorCode) {
  switch (reason) {
    case EndReason::Closed: return "geschlossen";
    case EndReason::Reset: return "zurückgesetzt";
    case EndReason::ServerStopped: return "Server beendet";
    case EndReason::IdleTimeout: return "keine Daten mehr";
    case EndReason::MaxDuration: return "Höchstdauer erreicht";
    case EndReason::BadRequest: return "ungültige Download-Anfrage";
    case EndReason::Error: break;
  }
  // generic_category() rather than strerror(): the server may run on a test's thread.
  return "Fehler: " + std::generic_category().message(errorCode);
}

// After the byte count: uploads keep the words they always had.
const char* SentWord(TDirection direction) { return direction == TDirection::Receive ? " gesendet" : ""; }

}  // namespace

std::string Printable(std::string_view text) {
  std::string printable;
  printable.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      printable += "\\\\";
    } else if (c == '\n') {
      printable += "\\n";
    } else if (c == '\t') {
      printable += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      printable += escape;
    } else {
      printable += c;
    }
  }
  return printable;
}

double MebibytesPerSecond(std::uint64_t bytes, double seconds) {
  if (seconds <= 0.0) return 0.0;
  return static_cast<double>(bytes) / seconds / (1024.0 * 1024.0);
}

std::string ListeningLine(std::string_view address, std::uint16_t port) {
  return "korvaden-server lauscht auf " + std::string(address) + ":" + std::to_string(port);
}

std::string IntervalLine(unsigned number, std::string_view peer, double elapsedSeconds, std::uint64_t bytes,
                         double intervalSeconds, TDirection direction) {
  const std::string from = Printable(peer);
  char text[170];
  std::snprintf(text, sizeof text, "[Verbindung %u von %.*s] %.2f s: %" PRIu64 " Bytes%s, %.2f MiB/s", number,
                static_cast<int>(from.size()), from.data(), elapsedSeconds, bytes, SentWord(direction),
                MebibytesPerSecond(bytes, intervalSeconds));
  return text;
}

std::string SummaryLine(unsigned number, std::uint64_t bytes, double seconds, EndReason reason, int errorCode,
                        TDirection direction) {
  char text[130];
  std::snprintf(text, sizeof text, "[Verbindung %u] beendet: %" PRIu64 " Bytes%s in %.2f s, %.2f MiB/s", number, bytes,
                SentWord(direction), seconds, MebibytesPerSecond(bytes, seconds));
  return std::string(text) + " (" + ReasonText(reason, errorCode) + ")";
}

std::string PlainLine(const Report& r) {
  switch (r.kind) {
    case Report::Kind::Listening: return ListeningLine(r.peer, r.port);
    case Report::Kind::Interval:
      return IntervalLine(r.connection, r.peer, r.seconds, r.bytes, r.intervalSeconds, r.direction);
    case Report::Kind::Ended: return SummaryLine(r.connection, r.bytes, r.seconds, r.reason, r.errorCode, r.direction);
    case Report::Kind::Refused:
      if (r.direction == TDirection::Receive) {
        return "[Verbindung " + std::to_string(r.connection) + " von " + Printable(r.peer) +
               "] abgewiesen: " + RefusedDownloadText;
      }
      return "[Verbindung " + std::to_string(r.connection) + " von " + Printable(r.peer) + "] abgewiesen: Grenze von " +
             std::to_string(r.limit) + " Verbindungen erreicht";
    case Report::Kind::Problem: break;
  }
  return r.message;
}

// Written by hand, not through nlohmann::json: its dump() has no fixed decimals ("seconds":2.00
// would read 2.0), writes a tab as \t where these lines have always had \u0009, and throws on bytes
// that are no UTF-8 instead of passing them on, so the lines scripts parse would change.
namespace {
std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      quoted += escape;
    } else {
      quoted += c;  // UTF-8 passes through
    }
  }
  return quoted + '"';
}

std::string Fixed2(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}
}  // namespace

std::string JsonLine(const Report& r, std::string_view time) {
  static constexpr const char* kEvents[] = {"listening", "interval", "end", "refused", "error"};
  std::string json =
      "{\"event\":\"" + std::string(kEvents[static_cast<int>(r.kind)]) + "\",\"time\":" + JsonString(time);
  switch (r.kind) {
    case Report::Kind::Listening:
      return json + ",\"address\":" + JsonString(r.peer) + ",\"port\":" + std::to_string(r.port) + "}";
    case Report::Kind::Problem: return json + ",\"message\":" + JsonString(r.message) + "}";
    default: break;
  }
  json += ",\"connection\":" + std::to_string(r.connection) + ",\"peer\":" + JsonString(r.peer);
  const std::string direction = r.direction == TDirection::Receive ? "\"download\"" : "\"upload\"";
  if (r.kind == Report::Kind::Refused && r.direction == TDirection::Receive) {
    return json + ",\"direction\":" + direction + ",\"reason\":" + JsonString(RefusedDownloadText) + "}";
  }
  if (r.kind == Report::Kind::Refused) return json + ",\"limit\":" + std::to_string(r.limit) + "}";
  json += ",\"direction\":" + direction;
  const double rateSeconds = r.kind == Report::Kind::Interval ? r.intervalSeconds : r.seconds;
  json += ",\"seconds\":" + Fixed2(r.seconds) + ",\"bytes\":" + std::to_string(r.bytes) +
          ",\"rate\":" + Fixed2(MebibytesPerSecond(r.bytes, rateSeconds));
  if (r.kind == Report::Kind::Ended) json += ",\"reason\":" + JsonString(ReasonText(r.reason, r.errorCode));
  return json + "}";
}

}  // namespace korvaden
