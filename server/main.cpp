// korvaden-server: the far end for throughput measurements. Receives and discards, and tells
// on stdout how much arrived. See report_lines.h for the shape of what it prints.

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "measurement_server.h"
#include "options.h"

namespace {

std::atomic<korvaden::MeasurementServer*> runningServer{nullptr};

extern "C" void OnStopSignal(int) {
  if (auto* server = runningServer.load()) server->RequestStop();
}

void PrintLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  // Scripts read us through a pipe and must see each line as it happens.
  std::fflush(stdout);
}

void InstallSignalHandlers() {
  // A reader of our stdout that goes away must not kill the server.
  std::signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char* argv[]) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  const std::vector<std::string> args(argv + 1, argv + argc);
  const korvaden::ParseResult parsed = korvaden::ParseArguments(args);
  if (parsed.outcome == korvaden::ParseOutcome::ShowHelp) {
    std::fputs(korvaden::UsageText().c_str(), stdout);
    return 0;
  }
  if (parsed.outcome == korvaden::ParseOutcome::Invalid) {
    std::fprintf(stderr, "korvaden-server: %s\n\n%s", parsed.error.c_str(),
                 korvaden::UsageText().c_str());
    return 2;
  }

  korvaden::MeasurementServer server(PrintLine);
  std::string error;
  if (!server.Listen(parsed.options.bindAddress, parsed.options.port, error)) {
    std::fprintf(stderr, "korvaden-server: %s\n", error.c_str());
    return 1;
  }

  runningServer.store(&server);
  InstallSignalHandlers();
  PrintLine(korvaden::ListeningLine(server.BoundAddress(), server.Port()));
  server.Run();
  runningServer.store(nullptr);
  return 0;
}
