// One long measurement against the companion server: a point per tick (a tick that finds the worker
// publishing adds none, by rule), the series settles at its 63 points, and memory stays flat.
// The long form runs ten minutes; the short form only a few seconds.

#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "tests/stress/process_figures.h"
#include "tests/stress/program_driver.h"
#include "tests/support/patience.h"
#include "tests/support/server_process.h"
#include "tests/ui/observed_messages.h"

using namespace std::chrono_literals;

TEST(LongRun, EveryTickAddsItsPointTheSeriesHoldsItsMinuteAndMemoryStaysFlat) {
  servertest::ServerProcess server({"--bind", "127.0.0.1", "--port", "0"});
  const auto port = server.waitForListeningPort(testsupport::Patience);
  ASSERT_TRUE(port.has_value());

  TObservedMessages messages;
  stress::TProgramDriver program;
  TForm1& form = program.Form();
  const char* chosen = std::getenv("KORVADEN_STRESS_SECONDS");  // for a look at the trend in between
  const int seconds = chosen != nullptr ? std::atoi(chosen) : stress::LongForm() ? 600 : 5;

  int ticks = 0;
  int added = 0;
  int mostPoints = 0;
  int fullMinutes = 0;  // ticks that found exactly 63 points after a minute without skipped ticks
  int lastSkip = 0;     // the tick that last found the worker publishing
  double newestX = -1;
  stress::TProcessFigures afterOneMinute;
  QObject::connect(&form.Controller.Timer1, &QTimer::timeout, [&] {
    ++ticks;  // runs after the tick handler, which was connected first
    const int skippedBefore = ticks - 1 - added;
    if (form.Series1.Count() > 0 && form.Series1.XValues.Last() != newestX) {
      newestX = form.Series1.XValues.Last();
      ++added;
    }
    if (ticks - added > skippedBefore) lastSkip = ticks;
    mostPoints = std::max(mostPoints, form.Series1.Count());
    if (ticks - lastSkip > 63 && form.Series1.Count() == 63) ++fullMinutes;
    if (ticks == 60) afterOneMinute = stress::Measure();
    if (ticks % 60 == 0)
      std::cout << "[Belastung] nach " << ticks << " Ticks: " << stress::Measure().Describe() << '\n';
    server.discardOutput();  // a line per second
  });

  program.Start("127.0.0.1", *port);
  ASSERT_TRUE(program.WaitForMeasuring());
  // Generous: under ThreadSanitizer painting is slow and ticks come late.
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= seconds; }, 2 * seconds * 1000 + testsupport::PatienceMs));
  const stress::TProcessFigures atEnd = stress::Measure();
  program.Stop();
  ASSERT_TRUE(program.WaitForIdle());

  const int skipped = form.Sampler.SkippedTicks();
  std::cout << "[Belastung] Lauf über " << ticks << " Ticks: " << added << " Punkte, " << skipped
            << " Ticks übersprungen (Messwerte wurden gerade geschrieben), höchstens " << mostPoints
            << " Punkte gehalten, " << fullMinutes << " Ticks mit genau 63 Punkten";
  if (ticks >= 60) std::cout << "; nach 60 s " << afterOneMinute.Describe() << ", am Ende " << atEnd.Describe();
  std::cout << '\n';

  EXPECT_EQ(added + skipped, ticks);
  EXPECT_LE(mostPoints, 63);
  EXPECT_TRUE(messages.empty());
  if (ticks >= 130) {
    EXPECT_GT(fullMinutes, 0);
    EXPECT_GE(form.Series1.Count(), 60);
    if (!stress::Sanitized) {
      EXPECT_LE(atEnd.ResidentKiB - afterOneMinute.ResidentKiB, 2048);
      EXPECT_LE(static_cast<long>(atEnd.HeapBytes) - static_cast<long>(afterOneMinute.HeapBytes), 256 * 1024);
    }
  }
}
