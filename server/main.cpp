// korvaden-server: the far end for throughput measurements. Receives and discards, and tells
// on stdout how much arrived. See report_lines.h for the shape of what it prints.

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "server/measurement_server.h"
#include "server/options.h"

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

// Local time: "2026-12-08 05:20:01" for the plain lines, "2026-12-08T05:20:01.123+01:00" for JSON.
std::string LocalTime(bool iso) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[48];
  if (!iso) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
  }
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char offset[8];
  std::strftime(offset, sizeof offset, "%z", &local);  // +0100
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  std::snprintf(text + length, sizeof text - length, ".%03d%.3s:%.2s", static_cast<int>(millis), offset, offset + 3);
  return text;
}

bool jsonLines = false;

void PrintReport(const korvaden::Report& report) {
  PrintLine(jsonLines ? korvaden::JsonLine(report, LocalTime(true))
                      : LocalTime(false) + " " + korvaden::PlainLine(report));
}

// A thousand connections at once need more descriptors than the usual soft limit of 1024.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
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
    std::fprintf(stderr, "korvaden-server: %s\n\n%s", parsed.error.c_str(), korvaden::UsageText().c_str());
    return 2;
  }

  jsonLines = parsed.options.json;
  RaiseDescriptorLimit();
  korvaden::MeasurementServer server{korvaden::MeasurementServer::ReportSink(PrintReport)};
  server.SetLimits(parsed.options.limits);
  server.SetReceiveBuffer(parsed.options.receiveBufferBytes);
  std::string error;
  if (!server.Listen(parsed.options.bindAddress, parsed.options.port, error)) {
    std::fprintf(stderr, "korvaden-server: %s\n", error.c_str());
    return 1;
  }

  runningServer.store(&server);
  InstallSignalHandlers();
  korvaden::Report listening;
  listening.kind = korvaden::Report::Kind::Listening;
  listening.peer = server.BoundAddress();
  listening.port = server.Port();
  PrintReport(listening);
  server.Run();
  runningServer.store(nullptr);
  return 0;
}
