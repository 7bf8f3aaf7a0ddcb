// The history in the windows: the chart menu's switch that keeps single measurements, the window
// "Verlauf" with its table, filter and chart, and a stored test shown again as it was.

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTemporaryDir>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/qstring_printer.h"
#include "tests/ui/history/example_result.h"
#include "tests/ui/observed_messages.h"
#include "tests/ui/settings_file.h"
#include "ui/history/history_store.h"
#include "ui/history_table_model.h"
#include "ui/history_window.h"
#include "ui/line_test/line_test_report.h"
#include "ui/line_test_window.h"
#include "ui/main_window.h"
#include "ui/result_export.h"

using settingsfile::ProgramKey;

namespace {
using historytest::Finished;

class HistoryWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(data.isValid());
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    settingsfile::Remove();
  }
  void TearDown() override { qputenv("XDG_DATA_HOME", before); }

  TObservedMessages messages;
  QTemporaryDir data;
  const QByteArray before = qgetenv("XDG_DATA_HOME");
};
}  // namespace

// Off at first; the chart menu's entry switches it and the setting keeps it at once. With it on,
// a run with points goes into the history when it ends, once, and an attempt that never
// connected adds nothing.
TEST_F(HistoryWindow, KeepingMeasurementsIsSwitchedFromTheChartMenuAndRemembered) {
  auto form = std::make_unique<TForm1>();
  EXPECT_FALSE(form->KeepRunsAction->isChecked());
  EXPECT_TRUE(form->Export->Menu()->actions().contains(form->KeepRunsAction));
  EXPECT_TRUE(form->Export->Menu()->actions().contains(form->HistoryAction));
  form->KeepRunsAction->trigger();
  EXPECT_EQ(settingsfile::ValueLines(ProgramKey), QStringList{R"("KeepRuns"="1")"});

  form->SetStartEnabled(false);
  form->History.Begin({"server.example", 2857, 1024, QDateTime::currentDateTime(), TDirection::Receive});
  form->History.Add(1000, 512);
  form->SetStartEnabled(true);
  form->SetStartEnabled(true);
  form->SetStartEnabled(false);
  form->SetStartEnabled(true);
  EXPECT_EQ(history::THistoryStore().RunCount(), 1);

  form = std::make_unique<TForm1>();
  EXPECT_TRUE(form->KeepRunsAction->isChecked());
  form->KeepRunsAction->trigger();
  EXPECT_EQ(settingsfile::ValueLines(ProgramKey), QStringList{R"("KeepRuns"="0")"});
  form.reset();
  EXPECT_TRUE(messages.empty());
}

TEST_F(HistoryWindow, ListsTheTestsNewestFirstAndFiltersThemByServer) {
  history::THistoryStore store;
  const QDateTime now = QDateTime::currentDateTime();
  ASSERT_TRUE(store.StoreTest(Finished("alpha.example", now.addDays(-1), 80), "1.0"));
  ASSERT_TRUE(store.StoreTest(Finished("beta.example", now, 95.5), "1.0"));

  THistoryWindow window(store, nullptr);
  window.Open();
  QAbstractItemModel* table = window.Table()->model();
  ASSERT_EQ(table->rowCount(), 2);
  EXPECT_EQ(table->index(0, THistoryTableModel::ServerColumn).data(), "beta.example");
  EXPECT_EQ(table->index(0, THistoryTableModel::DownloadColumn).data(), QLocale().toString(95.5, 'f', 1));
  EXPECT_EQ(table->index(0, THistoryTableModel::DateColumn).data(), now.toString("dd.MM.yyyy HH:mm"));
  EXPECT_EQ(table->headerData(THistoryTableModel::LoadedColumn, Qt::Horizontal), "Latenz unter Last (ms)");
  auto* download = qobject_cast<QLineSeries*>(window.Chart()->series().first());
  ASSERT_EQ(download->count(), 2);
  EXPECT_TRUE(window.PointToolTip(false, 1).contains("beta.example"));

  QTest::keyClicks(window.Filter(), "ALPHA");
  ASSERT_EQ(table->rowCount(), 1);
  EXPECT_EQ(table->index(0, THistoryTableModel::ServerColumn).data(), "alpha.example");
  EXPECT_EQ(download->count(), 1);
  EXPECT_TRUE(messages.empty());
}

TEST_F(HistoryWindow, OpeningARowShowsTheStoredTestAsItWas) {
  history::THistoryStore store;
  const linetest::TResult stored = Finished("alpha.example", QDateTime::currentDateTime(), 80);
  ASSERT_TRUE(store.StoreTest(stored, "1.0"));

  THistoryWindow window(store, nullptr);
  window.Open();
  window.Table()->setFocus();
  window.Table()->setCurrentIndex(window.Table()->model()->index(0, 0));
  QTest::keyClick(window.Table(), Qt::Key_Return);
  TLineTestWindow* result = window.ResultWindow();
  ASSERT_NE(result, nullptr);
  EXPECT_TRUE(result->isVisible());
  EXPECT_FALSE(result->Running());
  EXPECT_EQ(result->Result().Server, "alpha.example");
  EXPECT_EQ(result->Result().Points.size(), 2U);
  EXPECT_EQ(result->ResultText(), linetest::ReportText(stored));
  EXPECT_TRUE(messages.empty());
}
