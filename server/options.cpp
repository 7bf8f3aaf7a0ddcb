#include "options.h"

#include <arpa/inet.h>

#include <charconv>

namespace korvaden {
namespace {

bool ParsePort(const std::string& text, std::uint16_t& port) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || stop != end || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

bool IsDottedIPv4(const std::string& text) {
  in_addr address{};
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
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

    if (name == "-h" || name == "--help") {
      if (hasValue) return Invalid("Option " + name + " erwartet keinen Wert");
      result.outcome = ParseOutcome::ShowHelp;
      return result;
    }
    if (name != "-p" && name != "--port" && name != "-b" && name != "--bind") {
      return Invalid("Unbekannte Option: " + args[i]);
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) return Invalid("Option " + name + " erwartet einen Wert");
      value = args[++i];
    }

    if (name == "-p" || name == "--port") {
      if (!ParsePort(value, result.options.port)) {
        return Invalid("Ungültiger Port: \"" + value + "\" (erlaubt sind 0 bis 65535)");
      }
    } else {
      if (!IsDottedIPv4(value)) {
        return Invalid("Ungültige IPv4-Adresse: \"" + value + "\"");
      }
      result.options.bindAddress = value;
    }
  }
  return result;
}

std::string UsageText() {
  return "Aufruf: korvaden-server [-p|--port PORT] [-b|--bind ADRESSE] [-h|--help]\n"
         "\n"
         "Nimmt beliebig viele TCP-Verbindungen an, verwirft alle empfangenen Daten\n"
         "und meldet je Verbindung jede Sekunde die empfangene Datenmenge.\n"
         "\n"
         "  -p, --port PORT      TCP-Port (Standard: 2857; 0 = vom System gewählt)\n"
         "  -b, --bind ADRESSE   IPv4-Adresse, an der gelauscht wird (Standard: 0.0.0.0)\n"
         "  -h, --help           diese Hilfe anzeigen\n";
}

}  // namespace korvaden
