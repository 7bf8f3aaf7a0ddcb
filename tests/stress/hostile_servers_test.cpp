// The real program against servers that misbehave on purpose, all on 127.0.0.1. Each case checks
// the exact outcome (message or none, idle afterwards), that the user-interface thread stayed
// responsive, and that no descriptor or thread outlives the window.

#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <random>

#include "tests/stress/process_figures.h"
#include "tests/stress/program_driver.h"
#include "tests/stress/ui_watch.h"
#include "tests/support/loopback_server.h"
#include "tests/support/patience.h"
#include "tests/support/qstring_printer.h"
#include "tests/ui/observed_messages.h"

using namespace std::chrono_literals;
using stress::TProgramDriver;
using testsupport::LoopbackServer;
using testsupport::ServerMode;

namespace {

std::chrono::milliseconds LongestBlockOfAllCases{0};

// Processor time the calling thread has used.
std::chrono::milliseconds UiThreadBusy() {
  timespec used{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return std::chrono::milliseconds(used.tv_sec * 1000 + used.tv_nsec / 1000000);
}

class HostileServers : public ::testing::Test {
 protected:
  void SetUp() override {
    baseline = stress::Measure();
    program = std::make_unique<TProgramDriver>();
    watch.Reset();
  }

  // Ends the program and checks that everything it held is released.
  void TearDown() override {
    const auto block = watch.LongestBlock();
    LongestBlockOfAllCases = std::max(LongestBlockOfAllCases, block);
    program.reset();
    const auto after = stress::SettledAt(baseline, 5s);
    EXPECT_EQ(after.Descriptors, baseline.Descriptors);
    EXPECT_EQ(after.Threads, baseline.Threads);
    std::cout << "[Belastung] " << ::testing::UnitTest::GetInstance()->current_test_info()->name()
              << ": längste Blockade der Oberfläche " << block.count() << " ms (bisher höchstens "
              << LongestBlockOfAllCases.count() << " ms), " << after.Describe() << '\n';
    // Generous: the synchronous start and the chart's painting are inside; a freeze is seconds.
    if (!stress::Sanitized) {
      EXPECT_LT(block, 1000ms);
    }
  }

  void ExpectOnlyMessage(const QString& text) {
    ASSERT_EQ(messages.size(), 1U) << (messages.empty() ? QString() : messages.back().Text).toStdString();
    EXPECT_EQ(messages[0].Text, text);
    EXPECT_EQ(messages[0].Caption, "Fehler");
    messages.clear();
  }

  void Start(const LoopbackServer& server) { program->Start("127.0.0.1", server.port()); }

  TObservedMessages messages;  // declared first: it outlives the window
  stress::TProcessFigures baseline;
  std::unique_ptr<TProgramDriver> program;
  stress::TUiWatch watch;
  std::mt19937 random{20261208};
};

}  // namespace

TEST_F(HostileServers, ResetAtRandomMomentsEndsEachRunWithTheLostMessage) {
  const int rounds = stress::Rounds(40, 6, 3);
  std::uniform_int_distribution<int> delayMs(0, 1500);
  for (int round = 0; round < rounds; ++round) {
    LoopbackServer server(ServerMode::Record);
    Start(server);
    const int delay = round == 0 ? 0 : delayMs(random);
    QTimer::singleShot(delay, [&] { server.resetAll(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs)) << "delay " << delay;
    ASSERT_TRUE(program->WaitForIdle()) << "delay " << delay;
    ExpectOnlyMessage(texts::ConnectionLost);
  }
}

TEST_F(HostileServers, ResetWithinTheFirstMillisecondEndsTheRunWithTheLostMessage) {
  for (int round = 0; round < stress::Rounds(50, 10, 3); ++round) {
    LoopbackServer server(ServerMode::ResetAtOnce);
    Start(server);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs));
    ASSERT_TRUE(program->WaitForIdle());
    ExpectOnlyMessage(texts::ConnectionLost);
  }
}

TEST_F(HostileServers, ResetWhileATickIsHandledEndsTheRunWithTheLostMessage) {
  LoopbackServer server(ServerMode::Record);
  int ticks = 0;
  // Connected after the tick handler, so it runs inside the same tick, after the point was added.
  QObject::connect(&program->Form().Controller.Timer1, &QTimer::timeout, [&] {
    if (++ticks == 2) server.resetAll();
  });
  Start(server);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs));
  ASSERT_TRUE(program->WaitForIdle());
  ExpectOnlyMessage(texts::ConnectionLost);
  EXPECT_EQ(ticks, 2);
}

TEST_F(HostileServers, ServerThatNeverReadsKeepsTheWindowResponsiveAndStopEndsAtOnce) {
  LoopbackServer server(ServerMode::NeverRead);
  int ticks = 0;
  QObject::connect(&program->Form().Controller.Timer1, &QTimer::timeout, [&] { ++ticks; });
  Start(server);
  ASSERT_TRUE(program->WaitForMeasuring());
  // The send buffer is full long before the first tick; a frozen window would never tick.
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 1; }, testsupport::PatienceMs)) << "the window is frozen";
  std::cout << "[Belastung] Server liest nie: " << ticks << " Ticks, " << program->Form().Series1.Count() << " Punkte, "
            << program->Form().Sampler.SkippedTicks() << " übersprungen\n";
  QElapsedTimer stopping;
  stopping.start();
  program->Stop();
  ASSERT_TRUE(program->WaitForIdle());
  std::cout << "[Belastung] Stop bei vollem Sendepuffer bis zum Ruhezustand: " << stopping.elapsed() << " ms\n";
  if (!stress::Sanitized) {
    EXPECT_LT(stopping.elapsed(), 500);
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(HostileServers, ServerFloodingDataBackNeitherSpinsTheWindowNorGrowsMemory) {
  LoopbackServer server(ServerMode::SendBack);
  Start(server);
  ASSERT_TRUE(program->WaitForMeasuring());
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.bytesSent() > 1024 * 1024; }, testsupport::PatienceMs));
  QTest::qWait(500);
  const auto before = stress::Measure();
  const auto busyBefore = UiThreadBusy();
  watch.Reset();
  QTest::qWait(3000);
  const auto busy = UiThreadBusy() - busyBefore;
  const auto after = stress::Measure();
  std::cout << "[Belastung] Flut vom Server: " << watch.SocketActivations() << " Socket-Meldungen in 3 s, "
            << server.bytesSent() / 1024 << " KiB zurückgeschickt, Oberfläche " << busy.count()
            << " ms beschäftigt, Speicher " << before.ResidentKiB << " -> " << after.ResidentKiB << " KiB\n";
  EXPECT_LT(watch.SocketActivations(), 30) << "the window reacts to every byte that arrives";
  EXPECT_LT(busy, 1500ms) << "the user-interface thread spins";
  if (!stress::Sanitized) {
    EXPECT_LT(after.ResidentKiB - before.ResidentKiB, 4096);
  }
  program->Stop();
  ASSERT_TRUE(program->WaitForIdle());
  EXPECT_TRUE(messages.empty());
}

TEST_F(HostileServers, ServerClosingItsSendingHalfEndsTheRunSilently) {
  LoopbackServer server(ServerMode::Record);
  Start(server);
  ASSERT_TRUE(program->WaitForMeasuring());
  ASSERT_TRUE(server.waitForBytes(64 * 1024, testsupport::Patience));
  server.shutdownWriteAll();
  ASSERT_TRUE(program->WaitForIdle());
  EXPECT_TRUE(messages.empty());
}

// A server that closes its socket outright, at once or mid-run as a killed one's kernel does,
// resets the data still on its way: always the break, never the silent end of a server that only
// stopped sending.
TEST_F(HostileServers, ServerWhoseSocketIsGoneEndsEachRunWithTheLostMessage) {
  for (int round = 0; round < stress::Rounds(50, 10, 3); ++round) {
    LoopbackServer closing(ServerMode::CloseAtOnce);
    Start(closing);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs)) << "round " << round;
    ASSERT_TRUE(program->WaitForIdle()) << "round " << round;
    ExpectOnlyMessage(texts::ConnectionLost);

    LoopbackServer dying(ServerMode::Record);
    Start(dying);
    ASSERT_TRUE(program->WaitForMeasuring());
    ASSERT_TRUE(dying.waitForBytes(64 * 1024, testsupport::Patience));
    dying.closeAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs)) << "round " << round;
    ASSERT_TRUE(program->WaitForIdle()) << "round " << round;
    ExpectOnlyMessage(texts::ConnectionLost);
  }
}

TEST_F(HostileServers, ConnectIntoAFullAcceptQueueWaitsUntilStopAbandonsIt) {
  testsupport::FullBacklogListener listener;  // proving the queue full takes a moment of its own
  watch.Reset();
  program->Start("127.0.0.1", listener.port());
  QTest::qWait(1500);
  EXPECT_EQ(program->Status(), texts::ConnectingStatus("127.0.0.1"));
  program->Stop();
  EXPECT_TRUE(program->IsIdle());
  QTest::qWait(300);
  EXPECT_TRUE(program->IsIdle());
  EXPECT_TRUE(messages.empty());
}

TEST_F(HostileServers, RefusedPortAndUnresolvableNameShowTheConnectFailedMessage) {
  program->Start("127.0.0.1", testsupport::unusedPort());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs));
  ASSERT_TRUE(program->WaitForIdle());
  ExpectOnlyMessage(texts::ConnectFailed("127.0.0.1"));

  program->Start("name.invalid", 2857);
  ASSERT_TRUE(program->WaitForIdle());
  ExpectOnlyMessage(texts::ConnectFailed("name.invalid"));
}
