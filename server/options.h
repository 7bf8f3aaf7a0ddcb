#pragma once
// Command line of korvaden-server. Kept apart from main() so the tests can feed it arguments.

#include <cstdint>
#include <string>
#include <vector>

namespace korvaden {

inline constexpr std::uint16_t kDefaultPort = 2857;

struct ServerOptions {
  std::string bindAddress = "0.0.0.0";
  std::uint16_t port = kDefaultPort;  // 0 lets the system pick a free port
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
