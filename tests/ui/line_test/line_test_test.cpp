// The line test: its arithmetic on fixed figures, and whole tests against the real korvaden-server
// on loopback with short phases: the command line's report, a cancel, a server that refuses
// downloads and one killed in the middle.

#include <signal.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "tests/support/patience.h"
#include "tests/support/server_process.h"
#include "ui/history/history_store.h"
#include "ui/line_test/line_test.h"

using namespace linetest;

namespace {

struct TServer {
  explicit TServer(std::vector<std::string> extra = {})
      : Process([&] {
          std::vector<std::string> args{"--bind", "127.0.0.1", "--port", "0"};
          args.insert(args.end(), extra.begin(), extra.end());
          return args;
        }()) {
    Port = Process.waitForListeningPort(testsupport::Patience).value_or(0);
  }
  servertest::ServerProcess Process;
  int Port = 0;
};

TOptions Short(int port) {
  TOptions options;
  options.Host = QStringLiteral("127.0.0.1");
  options.Port = port;
  options.PhaseSeconds = 1;
  return options;
}

TResult Finish(TLineTest& test) {
  QSignalSpy finished(&test, &TLineTest::Finished);
  test.Start();
  EXPECT_TRUE(finished.wait(testsupport::PatienceMs));
  return finished.isEmpty() ? TResult{} : finished.first().first().value<TResult>();
}

}  // namespace

TEST(LineTestFigures, GradeResponsivenessAndAddedLatencyFollowTheirRules) {
  const std::pair<double, const char*> grades[] = {{4.9, "A+"}, {5, "A"},   {29.9, "A"}, {30, "B"},  {59.9, "B"},
                                                   {60, "C"},   {199, "C"}, {200, "D"},  {399, "D"}, {400, "F"}};
  for (const auto& [ms, grade] : grades) EXPECT_EQ(GradeFor(ms), QString::fromLatin1(grade)) << ms;

  // Of twenty samples the slowest one (5 %) is dropped.
  std::vector<double> twenty(19, 10.0);
  twenty.push_back(1000);
  EXPECT_DOUBLE_EQ(*TrimmedMean(twenty), 10);
  // (60000 / mean(20, 40) + 60000 / 60) / 2 = (2000 + 1000) / 2
  EXPECT_DOUBLE_EQ(*RoundTripsPerMinute({{20}, {40}, {60}}), 1500);
  EXPECT_DOUBLE_EQ(*RoundTripsPerMinute({{20}, {}, {}}), 3000);
  EXPECT_FALSE(RoundTripsPerMinute({}));
  EXPECT_EQ(RpmClassFor(299), "schlecht");
  EXPECT_EQ(RpmClassFor(300), "mäßig");
  EXPECT_EQ(RpmClassFor(5999), "gut");
  EXPECT_EQ(RpmClassFor(6000), "ausgezeichnet");

  TResult result;
  result.Idle = LatencyOf({30, 30, 31});
  result.Download.Latency = LatencyOf({130, 130, 140});
  result.Upload.Latency = LatencyOf({280, 280, 300});
  Conclude(result, {});
  EXPECT_DOUBLE_EQ(*result.AddedDownloadMs, 100);
  EXPECT_DOUBLE_EQ(*result.AddedUploadMs, 250);
  EXPECT_DOUBLE_EQ(*result.AddedLatencyMs, 175);
  EXPECT_EQ(result.Grade, "C");
  EXPECT_TRUE(result.Verdict.contains("Upload")) << result.Verdict.toStdString();
  EXPECT_TRUE(result.Verdict.contains("fq_codel")) << result.Verdict.toStdString();
}

TEST(LineTestCommand, ReportsEveryPhaseAsOneJsonObjectKeepsItInTheHistoryAndRefusesWrongUsage) {
  TServer server;
  QProcess check;
  QTemporaryDir data;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_DATA_HOME", data.path());
  check.setProcessEnvironment(environment);
  check.start(KORVADEN_CHECK_PATH,
              {"127.0.0.1", "--port", QString::number(server.Port), "--json", "--phase-seconds", "1"});
  ASSERT_TRUE(check.waitForFinished(testsupport::PatienceMs));
  EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardError().toStdString();
  const QJsonObject json = QJsonDocument::fromJson(check.readAllStandardOutput()).object();
  for (const char* key : {"server", "port", "start", "idle_latency_ms", "download", "upload", "both",
                          "added_latency_ms", "grade", "rpm", "rpm_class", "verdict"})
    EXPECT_TRUE(json.contains(key)) << key;
  EXPECT_EQ(json["port"].toInt(), server.Port);
  for (const char* direction : {"download", "upload"}) {
    const QJsonObject phase = json[direction].toObject();
    EXPECT_GT(phase["mbit_s"].toDouble(), 0) << direction;
    EXPECT_GE(phase["connections"].toInt(), 1) << direction;
    EXPECT_LE(phase["connections"].toInt(), 8) << direction;
  }
  EXPECT_EQ(json["grade"].toString(), GradeFor(json["added_latency_ms"].toDouble()));
  EXPECT_TRUE(json["missing"].toArray().isEmpty()) << "the server answers probes";
  // The phases follow each other in their order, each with its points.
  QStringList phases;
  for (const auto& point : json["points"].toArray()) {
    const QString phase = point.toObject()["phase"].toString();
    if (phases.isEmpty() || phases.last() != phase) phases << phase;
  }
  EXPECT_EQ(phases, QStringList({"Leerlauf", "Download", "Upload", "Beides"}));
  // The history holds the test as the report showed it.
  history::THistoryStore store(data.filePath("Omvra-Soft/verlauf.sqlite"));
  const auto rows = store.Tests();
  ASSERT_EQ(rows.size(), 1u) << store.Error().toStdString();
  const auto kept = store.LoadTest(rows[0].Id);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->Verdict, json["verdict"].toString());
  EXPECT_EQ(static_cast<int>(kept->Points.size()), json["points"].toArray().size());

  check.start(KORVADEN_CHECK_PATH, {"--port", "0", "127.0.0.1"});
  ASSERT_TRUE(check.waitForFinished(testsupport::PatienceMs));
  EXPECT_EQ(check.exitCode(), 2);
  EXPECT_TRUE(check.readAllStandardError().contains("Port-Nr. 0"));
}

TEST(LineTestEngine, CancelEndsTheTestAndReportsNothingMore) {
  TServer server;
  TLineTest test(Short(server.Port));
  QSignalSpy phases(&test, &TLineTest::PhaseStarted);
  QSignalSpy finished(&test, &TLineTest::Finished);
  test.Start();
  ASSERT_TRUE(phases.wait(testsupport::PatienceMs));
  test.Cancel();
  EXPECT_FALSE(test.Running());
  QTest::qWait(300);
  EXPECT_TRUE(finished.isEmpty());
}

TEST(LineTestEngine, AServerThatRefusesDownloadsStillGetsItsUploadTested) {
  TServer server({"--no-download"});
  TLineTest test(Short(server.Port));
  const TResult result = Finish(test);
  EXPECT_TRUE(result.Error.isEmpty()) << result.Error.toStdString();
  EXPECT_FALSE(result.Download.Measured);
  EXPECT_TRUE(result.Upload.Measured);
  ASSERT_FALSE(result.Missing.isEmpty());
  EXPECT_TRUE(result.Missing.first().contains("Download"));
}

TEST(LineTestEngine, AServerKilledMidTestEndsItWithAMessage) {
  TServer server;
  TLineTest test(Short(server.Port));
  QObject::connect(&test, &TLineTest::PhaseStarted, [&](TPhase phase, double) {
    if (phase == TPhase::Download) QTimer::singleShot(300, [&] { server.Process.sendSignal(SIGKILL); });
  });
  const TResult result = Finish(test);
  EXPECT_FALSE(result.Error.isEmpty());
}

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
