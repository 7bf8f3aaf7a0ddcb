// The history in real files in a temporary folder: a test stored and read back as it was, an old
// schema brought up to date, damaged and foreign files moved aside, a newer version's file left
// untouched, and the contract's arithmetic on fixed tests.

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

#include "tests/ui/history/example_result.h"
#include "ui/history/history_contract.h"
#include "ui/history/history_store.h"

using namespace history;

namespace {

using historytest::Finished;

// Runs statements on the file apart from the store, as another program would.
void Execute(const QString& path, const QStringList& statements) {
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "raw");
    db.setDatabaseName(path);
    ASSERT_TRUE(db.open());
    QSqlQuery query(db);
    for (const QString& statement : statements) ASSERT_TRUE(query.exec(statement)) << statement.toStdString();
  }
  QSqlDatabase::removeDatabase("raw");
}

int UserVersion(const QString& path) {
  int version = -1;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "raw");
    db.setDatabaseName(path);
    db.open();
    QSqlQuery query("PRAGMA user_version", db);
    if (query.next()) version = query.value(0).toInt();
  }
  QSqlDatabase::removeDatabase("raw");
  return version;
}

class History : public ::testing::Test {
 protected:
  QTemporaryDir Folder;
  QString Path = Folder.filePath("Omvra-Soft/verlauf.sqlite");
};

TEST_F(History, KeepsATestAsItWasAndListsTestsNewestFirst) {
  const QDateTime monday(QDate(2026, 12, 7), QTime(9, 0));
  THistoryStore store(Path);
  ASSERT_TRUE(store.IsOpen()) << store.Error().toStdString();
  const auto first = store.StoreTest(Finished("a.example", monday, 50), "1.0.0");
  ASSERT_TRUE(first) << store.Error().toStdString();
  ASSERT_TRUE(store.StoreTest(Finished("b.example", monday.addDays(1), 80), "1.0.0"));
  EXPECT_TRUE(store.StoreRun({{"a.example", 2857, 4096, monday, TDirection::Receive}, 812.5, 3, "Sekunden;kiBytes/s"},
                             "1.0.0"));

  const auto rows = store.Tests();
  ASSERT_EQ(rows.size(), 2u) << store.Error().toStdString();
  EXPECT_EQ(rows[0].Server, "b.example");
  EXPECT_EQ(rows[1].Start, monday);
  EXPECT_DOUBLE_EQ(*rows[1].DownloadMbit, 50);
  EXPECT_FALSE(rows[1].UploadMbit);
  EXPECT_DOUBLE_EQ(*rows[1].LoadedMs, 90) << "the worse of both directions";
  EXPECT_EQ(store.Tests("A.EXA").size(), 1u);
  EXPECT_EQ(store.RunCount(), 1);

  const auto again = store.LoadTest(*first);
  ASSERT_TRUE(again);
  const linetest::TResult original = Finished("a.example", monday, 50);
  EXPECT_EQ(again->Start, original.Start);
  EXPECT_EQ(again->Download.Mbit(), original.Download.Mbit());
  EXPECT_EQ(again->Download.Cause, TRateLimit::ReceiveWindow);
  EXPECT_EQ(again->Verdict, original.Verdict);
  EXPECT_EQ(again->Missing, original.Missing);
  ASSERT_EQ(again->Points.size(), 2u);
  EXPECT_EQ(again->Points[1].Phase, linetest::TPhase::Download);
  EXPECT_TRUE(std::isnan(again->Points[0].DownloadMbit));

  EXPECT_TRUE(store.DeleteTests({*first}));
  EXPECT_EQ(store.Tests().size(), 1u);
  EXPECT_FALSE(store.LoadTest(*first));
}

TEST_F(History, BringsTheFirstSchemaUpToDateAndKeepsItsTests) {
  QDir().mkpath(Folder.filePath("Omvra-Soft"));
  Execute(Path, {"CREATE TABLE tests(id INTEGER PRIMARY KEY, start_ms INTEGER NOT NULL, server TEXT NOT NULL, "
                 "address TEXT NOT NULL, port INTEGER NOT NULL, download_mbit REAL, upload_mbit REAL, idle_ms REAL, "
                 "loaded_ms REAL, grade TEXT NOT NULL, rpm REAL, version TEXT NOT NULL, result TEXT NOT NULL)",
                 "CREATE INDEX tests_by_start ON tests(start_ms)",
                 "CREATE TABLE points(test INTEGER NOT NULL, seq INTEGER NOT NULL, seconds REAL NOT NULL, phase "
                 "INTEGER NOT NULL, download_mbit REAL, upload_mbit REAL, latency_ms REAL, PRIMARY KEY(test, seq)) "
                 "WITHOUT ROWID",
                 "INSERT INTO tests VALUES(7, 0, 'old.example', '192.0.2.1', 2857, 20, 5, 10, 30, 'B', 900, "
                 "'1.0.0', '{\"server\":\"old.example\",\"verdict\":\"alt\"}')",
                 "PRAGMA application_id=1263687236", "PRAGMA user_version=1"});
  THistoryStore store(Path);
  ASSERT_TRUE(store.IsOpen()) << store.Error().toStdString();
  EXPECT_TRUE(store.Notice().isEmpty());
  EXPECT_EQ(store.LoadTest(7)->Verdict, "alt");
  EXPECT_TRUE(store.StoreRun({{"x", 1, 1, QDateTime::currentDateTime(), TDirection::Send}, 1, 1, "x"}, "1.0.0"))
      << store.Error().toStdString();
  EXPECT_EQ(UserVersion(Path), THistoryStore::SchemaVersion);
}

TEST_F(History, MovesADamagedOrForeignFileAsideOnceAndBeginsAnew) {
  QDir().mkpath(Folder.filePath("Omvra-Soft"));
  for (const bool foreign : {false, true}) {
    if (foreign) {
      Execute(Path, {"CREATE TABLE recipes(name TEXT)"});
    } else {
      QFile garbage(Path);
      ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
      garbage.write(QByteArray(8192, 'x'));
    }
    QByteArray before;
    {
      QFile file(Path);
      file.open(QIODevice::ReadOnly);
      before = file.readAll();
    }
    {
      THistoryStore store(Path);
      ASSERT_TRUE(store.IsOpen()) << store.Error().toStdString();
      ASSERT_TRUE(store.Notice().contains(Folder.path())) << store.Notice().toStdString();
      EXPECT_TRUE(store.StoreTest(Finished("a", QDateTime::currentDateTime(), 1), "1.0.0"));
      const QString aside = store.Notice().section(QString::fromUtf8("„"), 1).section(QString::fromUtf8("“"), 0, 0);
      QFile moved(aside);
      ASSERT_TRUE(moved.open(QIODevice::ReadOnly)) << aside.toStdString();
      EXPECT_EQ(moved.readAll(), before) << "the old file is kept as it was";
      EXPECT_TRUE(QFileInfo(aside).fileName().startsWith(QString::fromUtf8("verlauf.beschädigt-")));
      moved.remove();
    }
    THistoryStore again(Path);
    EXPECT_TRUE(again.Notice().isEmpty()) << "told once";
    EXPECT_EQ(again.Tests().size(), 1u);
    QFile::remove(Path);
  }
}

TEST_F(History, ReadsANewerVersionsFileWithoutChangingIt) {
  {
    THistoryStore store(Path);
    ASSERT_TRUE(store.StoreTest(Finished("a", QDateTime::currentDateTime(), 1), "1.0.0"));
  }
  Execute(Path, {"PRAGMA user_version=99"});
  THistoryStore store(Path);
  EXPECT_TRUE(store.ReadOnly());
  EXPECT_TRUE(store.Notice().contains("neueren Version"));
  EXPECT_EQ(store.Tests().size(), 1u);
  EXPECT_FALSE(store.StoreTest(Finished("b", QDateTime::currentDateTime(), 1), "1.0.0"));
  EXPECT_TRUE(store.Error().contains("neueren Version"));
  EXPECT_FALSE(store.DeleteTests({1}));
  EXPECT_EQ(store.Tests().size(), 1u);
  EXPECT_EQ(UserVersion(Path), 99);
}

TEST(Contract, CountsEachDayAgainstTheRatesAndLeavesLocalTestsOut) {
  EXPECT_EQ(ParseRate("12,5"), 12.5);
  EXPECT_EQ(ParseRate(" 100 "), 100);
  EXPECT_FALSE(ParseRate("-3"));
  EXPECT_FALSE(ParseRate("viel"));
  EXPECT_EQ(RateSetting(12.5), "12.5");
  EXPECT_TRUE(IsLocalAddress("192.168.1.2"));
  EXPECT_TRUE(IsLocalAddress("::ffff:10.1.2.3"));
  EXPECT_TRUE(IsLocalAddress("fe80::1"));
  EXPECT_FALSE(IsLocalAddress("198.18.0.2"));

  TContract contract;
  contract.Download = {100, 80, 50};  // 90 % of the maximum: 90
  const QDate today(2026, 12, 9);
  std::vector<TTestRow> rows;
  const auto test = [&](int daysAgo, double mbit, const QString& address = "203.0.113.5") {
    TTestRow row;
    row.Start = QDateTime(today.addDays(-daysAgo), QTime(12, 0));
    row.Address = address;
    row.DownloadMbit = mbit;
    rows.push_back(row);
  };
  for (double mbit : {95.0, 85.0, 70.0}) test(0, mbit);
  for (double mbit : {60.0, 40.0}) test(1, mbit);
  for (double mbit : {45.0, 81.0}) test(2, mbit);
  test(2, 999, "127.0.0.1");
  test(20, 10);  // too old to count

  const auto days = EvaluateDays(rows, contract, today);
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[0].Day, today.addDays(-2));
  EXPECT_EQ(days[0].Local, 1);
  EXPECT_EQ(days[0].Download.Tests, 2);
  EXPECT_EQ(days[0].Download.BelowMin, 1);
  EXPECT_EQ(days[2].Download.ReachedNinetyOfMax, 1);
  EXPECT_EQ(days[2].Download.ReachedNormal, 2);
  EXPECT_EQ(days[1].Download.BelowMin, 1);

  // 90 % reached on one day of three, the normal rate by 3 of 7 tests, the minimum undercut on two
  // days: each rule on its own says the line deviates.
  const QString summary = ContractSummary(days, contract);
  EXPECT_TRUE(summary.contains("an 1 von 3 Tagen")) << summary.toStdString();
  EXPECT_TRUE(summary.contains("43 %")) << summary.toStdString();
  EXPECT_TRUE(summary.contains("an 2 Tagen unterschritten")) << summary.toStdString();
  EXPECT_TRUE(summary.contains("spricht für eine erhebliche Abweichung")) << summary.toStdString();
  EXPECT_TRUE(summary.contains("7 Tests an 3 Tagen")) << summary.toStdString();
  EXPECT_TRUE(summary.contains("Messprotokoll der Bundesnetzagentur")) << summary.toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
