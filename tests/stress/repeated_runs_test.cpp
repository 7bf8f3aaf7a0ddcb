// A thousand runs in one process: whatever a run takes (descriptors, threads, memory) it gives back.

#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <iostream>

#include "tests/stress/process_figures.h"
#include "tests/stress/program_driver.h"
#include "tests/support/loopback_server.h"
#include "tests/support/patience.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/server_process.h"
#include "tests/ui/observed_messages.h"

using namespace std::chrono_literals;
using stress::TProcessFigures;
using stress::TProgramDriver;

namespace {

// Heap and resident memory may settle a little after the warm-up rounds; a leak of even a few
// bytes per run shows as many kilobytes over a thousand runs.
constexpr long AllowedResidentGrowthKiB = 1024;
constexpr std::ptrdiff_t AllowedHeapGrowthBytes = 64 * 1024;

// The figures once the last worker thread has gone: a worker is forgotten by the window before its
// thread has quite ended.
TProcessFigures FiguresWithThreads(int threads) {
  TProcessFigures figures;
  (void)QTest::qWaitFor([&] { return (figures = stress::Measure()).Threads == threads; }, testsupport::PatienceMs);
  return figures;
}

void Report(const char* what, int rounds, const TProcessFigures& before, const TProcessFigures& after) {
  std::cout << "[Belastung] " << rounds << ' ' << what << ": vorher " << before.Describe() << "; nachher "
            << after.Describe() << '\n';
}

void ExpectSameFigures(const TProcessFigures& before, const TProcessFigures& after) {
  EXPECT_EQ(after.Descriptors, before.Descriptors);
  EXPECT_EQ(after.Threads, before.Threads);
  if (!stress::Sanitized) {  // the sanitizers keep freed memory aside on purpose
    EXPECT_LE(after.ResidentKiB - before.ResidentKiB, AllowedResidentGrowthKiB);
    EXPECT_LE(static_cast<std::ptrdiff_t>(after.HeapBytes) - static_cast<std::ptrdiff_t>(before.HeapBytes),
              AllowedHeapGrowthBytes);
  }
}

}  // namespace

TEST(RepeatedRuns, StartStopCyclesAgainstTheCompanionServerGiveEverythingBack) {
  servertest::ServerProcess server({"--bind", "127.0.0.1", "--port", "0"});
  const auto port = server.waitForListeningPort(testsupport::Patience);
  ASSERT_TRUE(port.has_value());

  TObservedMessages messages;
  TProgramDriver program;
  const int idleThreads = stress::Measure().Threads;  // no worker has run yet
  auto cycle = [&] {
    program.Start("127.0.0.1", *port);
    if (!program.WaitForMeasuring()) return false;
    program.Stop();
    server.discardOutput();  // a line per connection
    return program.WaitForIdle();
  };
  for (int warmUp = 0; warmUp < 10; ++warmUp) ASSERT_TRUE(cycle());
  const TProcessFigures before = FiguresWithThreads(idleThreads);

  const int rounds = stress::Rounds(1000, 1000, 100);
  for (int round = 0; round < rounds; ++round) ASSERT_TRUE(cycle()) << "cycle " << round << ": " << program.Status();
  const TProcessFigures after = stress::SettledAt(before, 5s);
  Report("Start/Stop-Zyklen", rounds, before, after);
  ExpectSameFigures(before, after);
  EXPECT_TRUE(messages.empty());
}

TEST(RepeatedRuns, RefusedConnectsGiveEverythingBack) {
  TObservedMessages messages;
  TProgramDriver program;
  const int idleThreads = stress::Measure().Threads;
  const int refused = testsupport::unusedPort();
  auto attempt = [&] {
    program.Start("127.0.0.1", refused);
    const bool ended =
        QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs) && program.WaitForIdle();
    const bool exact = messages.size() == 1 && messages[0].Text == texts::ConnectFailed("127.0.0.1");
    messages.clear();
    return ended && exact;
  };
  for (int warmUp = 0; warmUp < 10; ++warmUp) ASSERT_TRUE(attempt());
  messages.shrink_to_fit();
  const TProcessFigures before = FiguresWithThreads(idleThreads);

  const int rounds = stress::Rounds(1000, 1000, 100);
  for (int round = 0; round < rounds; ++round) ASSERT_TRUE(attempt()) << "attempt " << round;
  messages.shrink_to_fit();
  const TProcessFigures after = stress::SettledAt(before, 5s);
  Report("abgewiesene Verbindungen", rounds, before, after);
  ExpectSameFigures(before, after);
}
