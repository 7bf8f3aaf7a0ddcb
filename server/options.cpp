#include "server/options.h"

#include "server/report_lines.h"

#include <arpa/inet.h>

#include <charconv>
#include <limits>

namespace korvaden {
namespace {

bool ParseNumber(const std::string& text, unsigned maximum, unsigned& number) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || stop != end || value > maximum) return false;
  number = value;
  return true;
}

bool IsAddress(const std::string& text) {
  in6_addr address{};
  return inet_pton(AF_INET, text.c_str(), &address) == 1 || inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

ParseResult Invalid(std::string message) {
  ParseResult result;
  result.outcome = ParseOutcome::Invalid;
  result.error = std::move(message);
  return result;
}

}  // namespace

ParseResult ParseArguments(const std::vector<std::string>& args) {
  ParseResult result;
  ServerOptions& options = result.options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    // Accept both "--port 5000" and "--port=5000"; people type either.
    if (auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }

    bool* flag = name == "--json"          ? &options.json
                 : name == "--once"        ? &options.limits.once
                 : name == "--no-download" ? &options.limits.refuseDownloads
                                           : nullptr;
    if (name == "-h" || name == "--help" || flag) {
      if (hasValue) return Invalid("Option " + Printable(name) + " erwartet keinen Wert");
      if (flag) {
        *flag = true;
        continue;
      }
      result.outcome = ParseOutcome::ShowHelp;
      return result;
    }
    unsigned* seconds = name == "--idle-timeout"   ? &options.limits.idleTimeoutSeconds
                        : name == "--max-duration" ? &options.limits.maxDurationSeconds
                                                   : nullptr;
    unsigned* count = name == "--max-connections"  ? &options.limits.maxConnections
                      : name == "--receive-buffer" ? &options.receiveBufferBytes
                                                   : nullptr;
    const bool known = seconds || count || name == "-p" || name == "--port" || name == "-b" || name == "--bind";
    if (!known) return Invalid("Unbekannte Option: " + Printable(args[i]));
    if (!hasValue) {
      if (i + 1 >= args.size()) return Invalid("Option " + Printable(name) + " erwartet einen Wert");
      value = args[++i];
    }

    unsigned number = 0;
    if (name == "-p" || name == "--port") {
      if (!ParseNumber(value, 65535, number)) {
        return Invalid("Ungültiger Port: \"" + Printable(value) + "\" (erlaubt sind 0 bis 65535)");
      }
      options.port = static_cast<std::uint16_t>(number);
    } else if (name == "-b" || name == "--bind") {
      if (!IsAddress(value)) return Invalid("Ungültige IPv4- oder IPv6-Adresse: \"" + Printable(value) + "\"");
      options.bindAddress = value;
    } else {
      // A day at most for the times, as the poll loop counts in milliseconds; a GiB for the receive
      // buffer, far above the cap the kernel puts on it anyway (net.core.rmem_max).
      const unsigned maximum = seconds                                ? 86400
                               : count == &options.receiveBufferBytes ? 1u << 30
                                                                      : std::numeric_limits<int>::max();
      if (!ParseNumber(value, maximum, number) || number == 0) {
        return Invalid("Ungültiger Wert für " + name + ": \"" + Printable(value) + "\" (erlaubt sind 1 bis " +
                       std::to_string(maximum) + ")");
      }
      *(seconds ? seconds : count) = number;
    }
  }
  return result;
}

std::string UsageText() {
  return "Aufruf: korvaden-server [OPTIONEN]\n"
         "\n"
         "Nimmt beliebig viele TCP-Verbindungen an, verwirft alle empfangenen Daten\n"
         "und meldet je Verbindung jede Sekunde die empfangene Datenmenge, jede Zeile\n"
         "mit Datum und Uhrzeit. Bittet ein Client mit seinen ersten Bytes um einen\n"
         "Download, sendet der Server ihm Blöcke der erbetenen Größe, so schnell die\n"
         "Verbindung sie abnimmt, bis der Client schließt, und meldet die gesendete\n"
         "Datenmenge (\"gesendet\").\n"
         "\n"
         "  -p, --port PORT            TCP-Port (Standard: " +
         std::to_string(kDefaultPort) +
         "; 0 = vom System gewählt)\n"
         "  -b, --bind ADRESSE         IPv4- oder IPv6-Adresse, an der gelauscht wird\n"
         "                             (Standard: alle IPv6- und IPv4-Adressen)\n"
         "      --idle-timeout SEK     eine Verbindung schließen, die SEK Sekunden lang\n"
         "                             nichts geliefert (beim Download: nichts\n"
         "                             abgenommen) hat\n"
         "      --max-duration SEK     jede Verbindung nach SEK Sekunden geordnet beenden\n"
         "                             (der Client beendet seine Messung ohne Meldung)\n"
         "      --max-connections N    höchstens N Verbindungen zugleich; weitere werden\n"
         "                             sofort zurückgesetzt und gemeldet\n"
         "      --receive-buffer BYTE  Empfangspuffer jeder Verbindung (SO_RCVBUF), etwa\n"
         "                             um einen langsamen Empfänger nachzubilden; der\n"
         "                             Kernel verdoppelt den Wert für seine Verwaltung\n"
         "      --no-download          Downloads abweisen: die Verbindung wird nach der\n"
         "                             Anfrage sofort geschlossen und als abgewiesen\n"
         "                             gemeldet\n"
         "      --json                 je Ereignis ein JSON-Objekt je Zeile statt Text\n"
         "      --once                 nach dem Ende der ersten Verbindung beenden\n"
         "  -h, --help                 diese Hilfe anzeigen\n";
}

}  // namespace korvaden
