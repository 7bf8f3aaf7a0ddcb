// The rate series, the tick and the after-add step.

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <utility>
#include <vector>

#include "measure/measure_texts.h"
#include "measure/measurement_counters.h"
#include "measure/number_format.h"
#include "measure/rate_sampler.h"

namespace {
class RateSampler : public ::testing::Test {
 protected:
  RateSampler() : sampler(series, bottom, left, [this](const QString& text) { average = text; }) {}

  // The run's acknowledged total as read at totalMs; a total of 0 ms publishes nothing.
  void Publish(std::uint32_t elapsedMs, std::uint64_t totalBytes, std::uint32_t totalMs) {
    Counters.BeginUpdate();
    Counters.ElapsedMs = elapsedMs;
    Counters.WindowMs = totalMs;
    Counters.TotalBytes = totalBytes;
    Counters.TotalMs = totalMs;
    Counters.EndUpdate();
  }
  // One tick per second at x = 1, 2, 3, ... with the chart drawn between ticks.
  void TickAndDraw(double x, double y) {
    series.AddXY(x, y);
    series.RecomputeFirstVisibleIndex(bottom.Minimum());
  }
  void TearDown() override { Publish(0, 0, 0); }

  TRateSeries series;
  TChartAxis bottom{0, 60};
  TChartAxis left{0, 1000};
  QString average;
  TRateSampler sampler;
};
}  // namespace

TEST(RateSeries, KeepsPointsSortedWithStatisticsAndPutsEqualXAfterEarlierOnes) {
  TRateSeries series;
  std::vector<int> addedAt;
  series.OnAfterAdd = [&](TRateSeries* sender, int index) {
    EXPECT_EQ(sender, &series);
    addedAt.push_back(index);
  };
  EXPECT_EQ(series.FirstVisibleIndex(), -1);
  series.AddXY(2, 20);
  series.AddXY(4, 40);
  series.AddXY(1, 10);
  series.AddXY(2, 25);  // equal x: after the earlier point
  EXPECT_EQ(addedAt, (std::vector<int>{0, 1, 0, 2}));
  EXPECT_EQ(series.YValues[1], 20);
  EXPECT_EQ(series.YValues[2], 25);
  EXPECT_EQ(series.YValues.Total(), 95);
  EXPECT_EQ(series.YValues.MaxValue(), 40);
  EXPECT_EQ(series.YValues.MinValue(), 10);

  series.Delete(3);  // the largest goes: a rescan finds the next one
  EXPECT_EQ(series.YValues.MaxValue(), 25);
  EXPECT_EQ(series.XValues.MaxValue(), 2);
  EXPECT_EQ(series.YValues.Total(), 55);

  series.RecomputeFirstVisibleIndex(1.5);
  EXPECT_EQ(series.FirstVisibleIndex(), 1);
  series.RecomputeFirstVisibleIndex(3);
  EXPECT_EQ(series.FirstVisibleIndex(), -1);
  series.RecomputeFirstVisibleIndex(0);
  series.Clear();
  EXPECT_EQ(series.Count(), 0);
  EXPECT_EQ(series.YValues.Total(), 0);
  EXPECT_EQ(series.FirstVisibleIndex(), 0);  // clearing leaves it to the next draw
}

// Each point's round trip stays beside its rate and goes with it when the point is pruned; a
// second without one splits the round-trip line, and a lone known one is a piece of its own.
TEST(RateSeries, EachPointsRoundTripGoesWithItAndUnknownOnesSplitTheLine) {
  TRateSeries series;
  for (int x = 1; x <= 6; ++x) series.AddXY(x, 100);
  EXPECT_TRUE(std::isnan(series.RoundTripMs(5)));  // unknown until the point's details are in
  for (const auto& [index, ms] : {std::pair{0, 20.0}, {1, 21.0}, {3, 30.0}, {5, 50.0}})
    series.SetRoundTripMs(index, ms);
  const auto pieces = [&] {
    std::vector<std::pair<int, int>> bounds;
    for (const TRateSeries::TPiece& piece : series.RoundTripPieces()) bounds.emplace_back(piece.First, piece.End);
    return bounds;
  };
  EXPECT_EQ(pieces(), (std::vector<std::pair<int, int>>{{0, 2}, {3, 4}, {5, 6}}));
  series.Delete(0);
  series.Delete(0);
  EXPECT_EQ(series.RoundTripMs(1), 30);
  EXPECT_EQ(pieces(), (std::vector<std::pair<int, int>>{{1, 2}, {3, 4}}));
  series.Clear();
  EXPECT_TRUE(pieces().empty());
}

TEST(AverageText, RoundsHalvesAwayFromZeroWithTheLocaleSeparator) {
  const QLocale c(QLocale::C);
  const QLocale german(QLocale::German, QLocale::Germany);
  EXPECT_EQ(FormatFixed2(0.125, c), "0.13");
  EXPECT_EQ(FormatFixed2(0.125, german), "0,13");
  EXPECT_EQ(FormatFixed2(500, german), "500,00");
  // 18 digits keep what the double really holds: 1.00499999999999989... rounds down.
  EXPECT_EQ(FormatFixed2(1.005, c), "1.00");
  EXPECT_EQ(FormatFixed2(2.675, c), "2.67");
  EXPECT_EQ(FormatFixed2(0.375, c), "0.38");
  EXPECT_EQ(FormatFixed2(99.995, c), "100.00");
  EXPECT_EQ(FormatFixed2(0.004, c), "0.00");
  EXPECT_EQ(FormatFixed2(123456789.126, german), "123456789,13");  // no grouping
  EXPECT_EQ(FormatFixed2(-0.125, c), "-0.13");
  EXPECT_EQ(FormatFixed2(1e20, c), "100000000000000000000.00");
  EXPECT_EQ(AverageText(500, german), QString::fromUtf8("Durchschnittliche Übertragungsrate: 500,00 kiBytes/s"));
}

// Each point covers the whole interval since the previous one: a skipped tick loses nothing, and
// the points of a run add up to its bytes.
TEST_F(RateSampler, EachPointCoversTheWholeIntervalSinceThePreviousOne) {
  sampler.BeginRun();
  Publish(12345, 1024, 1000);  // the first point counts from the connection's start
  sampler.Timer1Timer(nullptr);
  ASSERT_EQ(series.Count(), 1);
  EXPECT_DOUBLE_EQ(series.XValues[0], 12.345);
  EXPECT_DOUBLE_EQ(series.YValues[0], 1.0);
  sampler.Timer1Timer(nullptr);  // no newer total: nothing was measured in between
  EXPECT_EQ(series.Count(), 2);
  EXPECT_DOUBLE_EQ(series.YValues[1], 0.0);

  Publish(13000, 2048, 2000);
  Counters.BeginUpdate();  // the worker is publishing: no point this second
  sampler.Timer1Timer(nullptr);
  Counters.EndUpdate();
  EXPECT_EQ(series.Count(), 2);
  Publish(14000, 1024 + 2 * 10240, 3000);  // the next point covers both seconds
  sampler.Timer1Timer(nullptr);
  EXPECT_DOUBLE_EQ(series.YValues[2], 10.0);
  EXPECT_EQ(sampler.LastInterval().FromMs, 1000U);
  EXPECT_EQ(sampler.LastInterval().ToMs, 3000U);

  series.Clear();  // a new run starts from zero again
  sampler.BeginRun();
  Publish(900, 921600, 900);
  sampler.Timer1Timer(nullptr);
  EXPECT_DOUBLE_EQ(series.YValues[0], 1000.0);

  Publish(0, 0, 0);  // nothing published yet
  sampler.Timer1Timer(nullptr);
  EXPECT_EQ(series.Count(), 1);
}

TEST_F(RateSampler, FirstPointSetsTheRangesAndTheAverage) {
  sampler.BeginRun();
  Publish(1020, 512000, 1000);  // 500 kiB/s
  sampler.Timer1Timer(nullptr);
  EXPECT_EQ(bottom.Minimum(), 0);
  EXPECT_EQ(bottom.Maximum(), 60);
  EXPECT_EQ(left.Minimum(), 0);
  EXPECT_DOUBLE_EQ(left.Maximum(), 550);
  EXPECT_EQ(average, AverageText(500));
  EXPECT_TRUE(average.endsWith(QLocale().decimalPoint() + QStringLiteral("00 kiBytes/s")));
}

TEST_F(RateSampler, HorizontalRangeFollowsTheNewestSixtySeconds) {
  series.AddXY(60, 1);
  EXPECT_EQ(bottom.Minimum(), 0);
  EXPECT_EQ(bottom.Maximum(), 60);
  series.AddXY(75.5, 1);
  EXPECT_DOUBLE_EQ(bottom.Minimum(), 15.5);
  EXPECT_DOUBLE_EQ(bottom.Maximum(), 75.5);
}

TEST_F(RateSampler, SteadyRunningHoldsSixtyThreePointsAndDeletesOnePerTick) {
  for (int x = 1; x <= 63; ++x) TickAndDraw(x, 100);
  EXPECT_EQ(series.Count(), 63);  // nothing deleted up to x = 63
  for (int x = 64; x <= 200; ++x) {
    const int before = series.Count();
    TickAndDraw(x, 100);
    ASSERT_EQ(series.Count(), before == 63 ? 63 : before) << x;
  }
  EXPECT_EQ(series.XValues[0], 200 - 62);
  EXPECT_EQ(average, AverageText(100));
}

TEST_F(RateSampler, ASpikeSetsTheMaximumForExactlyOneMoreTickAfterItScrollsOut) {
  TickAndDraw(1, 5000);
  for (int x = 2; x <= 63; ++x) TickAndDraw(x, 100);
  TickAndDraw(64, 100);  // prunes the spike, yet its maximum still counts
  EXPECT_DOUBLE_EQ(left.Maximum(), 5500);
  EXPECT_EQ(series.YValues.MaxValue(), 100);
  TickAndDraw(65, 100);
  EXPECT_DOUBLE_EQ(left.Maximum(), 110);
}

TEST_F(RateSampler, AllZeroRatesGiveAZeroToZeroRange) {
  TickAndDraw(1, 0);
  EXPECT_EQ(left.Minimum(), 0);
  EXPECT_EQ(left.Maximum(), 0);
}

TEST_F(RateSampler, UndrawnWindowAccumulatesAndTheNextDrawPrunesInOneStep) {
  for (int x = 1; x <= 30; ++x) TickAndDraw(x, 100);
  for (int x = 31; x <= 100; ++x) series.AddXY(x, 100);  // minimised: index stays 0
  EXPECT_EQ(series.Count(), 100);
  series.RecomputeFirstVisibleIndex(bottom.Minimum());  // shown again: range 40..100
  series.AddXY(101, 100);
  EXPECT_EQ(series.XValues[0], 39);  // of the points left of the range only the last one stays
}

TEST_F(RateSampler, StaleIndexFromTheLastRunNeverRemovesTheNewPoint) {
  for (int x = 1; x <= 100; ++x) TickAndDraw(x, 100);
  ASSERT_GE(series.FirstVisibleIndex(), 2);
  series.Clear();  // the connect event of the next run, no draw since
  series.AddXY(1.02, 500);
  ASSERT_EQ(series.Count(), 1);
  EXPECT_EQ(average, AverageText(500));
  EXPECT_EQ(bottom.Maximum(), 60);
}

TEST_F(RateSampler, RangesAreReachedAfterPanning) {
  for (int x = 1; x <= 10; ++x) TickAndDraw(x, 100);
  bottom.Shift(-500);  // panned far back in time
  left.Shift(5000);    // and far up
  series.AddXY(11, 100);
  EXPECT_EQ(bottom.Minimum(), 0);
  EXPECT_EQ(bottom.Maximum(), 60);
  EXPECT_DOUBLE_EQ(left.Maximum(), 110);
  EXPECT_LE(left.Minimum(), left.Maximum());

  left.Shift(-20);  // a pan that keeps the minimum below the top stays where it was
  series.AddXY(12, 100);
  EXPECT_DOUBLE_EQ(left.Minimum(), -20);
}
