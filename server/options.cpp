#include "server/options.h"

#include "server/report_lines.h"

#include <arpa/inet.h>
#include <getopt.h>

#include <algorithm>
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
  // Codes of the long-only options above every char, so none can meet a short option's.
  enum : int { IdleTimeout = 256, MaxDuration, MaxConnections, ReceiveBuffer, Json, Once, NoDownload };
  static constexpr option kOptions[] = {{"help", no_argument, nullptr, 'h'},
                                        {"port", required_argument, nullptr, 'p'},
                                        {"bind", required_argument, nullptr, 'b'},
                                        {"idle-timeout", required_argument, nullptr, IdleTimeout},
                                        {"max-duration", required_argument, nullptr, MaxDuration},
                                        {"max-connections", required_argument, nullptr, MaxConnections},
                                        {"receive-buffer", required_argument, nullptr, ReceiveBuffer},
                                        {"json", no_argument, nullptr, Json},
                                        {"once", no_argument, nullptr, Once},
                                        {"no-download", no_argument, nullptr, NoDownload},
                                        {nullptr, 0, nullptr, 0}};
  std::vector<std::string> words{"korvaden-server"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  ParseResult result;
  ServerOptions& options = result.options;
  // "+": no reordering, so each option is the word at optind before the call; ":" and opterr = 0:
  // no English of getopt's own. optind = 0 starts afresh, as the tests parse many command lines.
  optind = 0;
  opterr = 0;
  for (int word = 1; word < argc; word = optind) {
    // The server never took what getopt_long also would: a non-option word, "--", a shortened long
    // option ("--po") or short ones run together ("-p5000", "-hb").
    const std::string& text = words[word];
    const std::string name = text.starts_with("--") ? text.substr(0, text.find('=')) : text;
    const bool whole = std::ranges::any_of(kOptions, [&](const option& o) {
      return o.name && (name == "--" + std::string(o.name) ||
                        (o.val < 256 && name == std::string{'-', static_cast<char>(o.val)}));
    });
    if (!whole) return Invalid("Unbekannte Option: " + Printable(text));
    const int code = getopt_long(argc, argv.data(), "+:hp:b:", kOptions, nullptr);
    if (code == '?') return Invalid("Option " + name + " erwartet keinen Wert");
    if (code == ':') return Invalid("Option " + name + " erwartet einen Wert");
    const std::string value = optarg ? optarg : "";
    unsigned number = 0;
    switch (code) {
      case 'h': result.outcome = ParseOutcome::ShowHelp; return result;
      case Json: options.json = true; continue;
      case Once: options.limits.once = true; continue;
      case NoDownload: options.limits.refuseDownloads = true; continue;
      case 'p':
        if (!ParseNumber(value, 65535, number)) {
          return Invalid("Ungültiger Port: \"" + Printable(value) + "\" (erlaubt sind 0 bis 65535)");
        }
        options.port = static_cast<std::uint16_t>(number);
        continue;
      case 'b':
        if (!IsAddress(value)) return Invalid("Ungültige IPv4- oder IPv6-Adresse: \"" + Printable(value) + "\"");
        options.bindAddress = value;
        continue;
      default: break;
    }
    unsigned& target = code == IdleTimeout      ? options.limits.idleTimeoutSeconds
                       : code == MaxDuration    ? options.limits.maxDurationSeconds
                       : code == MaxConnections ? options.limits.maxConnections
                                                : options.receiveBufferBytes;
    // A day at most for the times, as the poll loop counts in milliseconds; a GiB for the receive
    // buffer, far above the cap the kernel puts on it anyway (net.core.rmem_max).
    const unsigned maximum = code == IdleTimeout || code == MaxDuration ? 86400
                             : code == ReceiveBuffer                    ? 1u << 30
                                                                        : std::numeric_limits<int>::max();
    if (!ParseNumber(value, maximum, number) || number == 0) {
      return Invalid("Ungültiger Wert für " + name + ": \"" + Printable(value) + "\" (erlaubt sind 1 bis " +
                     std::to_string(maximum) + ")");
    }
    target = number;
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
