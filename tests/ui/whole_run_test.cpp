// A whole measurement through the window against the real korvaden-server.

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>
#include <csignal>

#include <gtest/gtest.h>

#include "measure/measure_texts.h"
#include "tests/support/patience.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/server_process.h"
#include "tests/ui/observed_messages.h"
#include "ui/main_window.h"

TEST(WholeRun, AddsPointsMovesTheAxesAndShowsTheAverageThenStops) {
  // Spawned, not forked: ThreadSanitizer cannot follow a fork of this multi-threaded process.
  servertest::ServerProcess server({"--bind", "127.0.0.1", "--port", "0"});
  const auto port = server.waitForListeningPort(testsupport::Patience);
  ASSERT_TRUE(port.has_value());

  TObservedMessages messages;
  {
    TForm1 form;
    form.show();
    form.ClientSocket1.SetPort(*port);
    form.Edit1->setText(QStringLiteral("127.0.0.1"));
    form.Button1->click();
    int ticks = 0;
    QObject::connect(&form.Controller.Timer1, &QTimer::timeout, [&] { ++ticks; });
    // Generous: under ThreadSanitizer every pixel Qt copies is checked, and painting is slow.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Series1.Count() >= 3; }, testsupport::PatienceMs))
        << ticks << " ticks, " << form.Series1.Count() << " points";

    EXPECT_EQ(form.BottomAxis.Minimum(), 0);
    EXPECT_EQ(form.BottomAxis.Maximum(), 60);
    EXPECT_GT(form.Series1.YValues.MaxValue(), 0);
    EXPECT_DOUBLE_EQ(form.LeftAxis.Maximum(), form.Series1.YValues.MaxValue() * 1.1);
    EXPECT_TRUE(form.AverageText().startsWith(QString::fromUtf8("Durchschnittliche Übertragungsrate: ")));
    EXPECT_TRUE(form.AverageText().endsWith(" kiBytes/s"));
    for (int i = 1; i < form.Series1.Count(); ++i) EXPECT_GT(form.Series1.XValues[i], form.Series1.XValues[i - 1]);

    form.Button2->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Button1->isEnabled() && !form.Controller.HasWorker(); },
                                testsupport::PatienceMs));
    const int points = form.Series1.Count();
    QTest::qWait(1200);
    EXPECT_EQ(form.Series1.Count(), points);  // the finished run stays on screen, no more ticks
  }
  EXPECT_TRUE(messages.empty());
  server.sendSignal(SIGTERM);
  EXPECT_EQ(server.waitForExit(testsupport::Patience), 0);
}

namespace {
// Starts a window in expert mode, receiving, against the server; false without a server.
bool StartDownload(TForm1& form, servertest::ServerProcess& server) {
  const auto port = server.waitForListeningPort(testsupport::Patience);
  if (!port) return false;
  form.ProPanel->show();
  form.ComboBox1->setCurrentIndex(1);
  form.show();
  form.Edit2->setText(QStringLiteral("1024"));
  form.Edit3->setText(QString::number(*port));
  form.Edit1->setText(QStringLiteral("127.0.0.1"));
  form.Button1->click();
  return true;
}
}  // namespace

TEST(WholeRun, DownloadCountsWhatArrivesShowsTheServersViewAndStops) {
  servertest::ServerProcess server({"--bind", "127.0.0.1", "--port", "0"});
  TObservedMessages messages;
  {
    TForm1 form;
    ASSERT_TRUE(StartDownload(form, server));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Series1.Count() >= 2; }, testsupport::PatienceMs));
    EXPECT_GT(form.Series1.YValues.MaxValue(), 0);
    // The round trip comes from the records in the server's blocks.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Controller.Run.Details.Summary().MinRttMs.has_value(); },
                                testsupport::PatienceMs));
    EXPECT_EQ(form.History.Run().Direction, TDirection::Receive);
    form.Button2->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Button1->isEnabled() && !form.Controller.HasWorker(); },
                                testsupport::PatienceMs));
  }
  EXPECT_TRUE(messages.empty());
}

TEST(WholeRun, DownloadFromAServerThatRefusesItSaysTheServerSendsNothing) {
  servertest::ServerProcess server({"--bind", "127.0.0.1", "--port", "0", "--no-download"});
  TObservedMessages messages;
  {
    TForm1 form;
    form.SetAverageText(AverageText(3613087.81));  // the last run's
    ASSERT_TRUE(StartDownload(form, server));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs));
    EXPECT_EQ(messages[0].Caption, "Fehler");
    EXPECT_TRUE(messages[0].Text.contains("sendet keine Daten")) << messages[0].Text;
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_EQ(form.AverageText(), AverageText(form.History.MeanRate()));  // the attempt's saved mean
  }
  EXPECT_EQ(messages.size(), 1U);
}

// The server's time limit ends a download with its end word: no message. A killed server's stream
// just stops: the break.
TEST(WholeRun, DownloadEndedByTheServerOnPurposeEndsSilentlyOneKilledIsABreak) {
  TObservedMessages messages;
  {
    servertest::ServerProcess server({"--bind", "127.0.0.1", "--port", "0", "--max-duration", "1"});
    TForm1 form;
    ASSERT_TRUE(StartDownload(form, server));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Button1->isEnabled() && !form.Controller.HasWorker(); },
                                testsupport::PatienceMs));
    EXPECT_TRUE(messages.empty()) << messages[0].Text;
  }
  {
    servertest::ServerProcess server({"--bind", "127.0.0.1", "--port", "0"});
    TForm1 form;
    ASSERT_TRUE(StartDownload(form, server));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Series1.Count() >= 1; }, testsupport::PatienceMs));
    server.sendSignal(SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs));
    EXPECT_EQ(messages[0].Text, texts::ConnectionLost);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Button1->isEnabled(); }, testsupport::PatienceMs));
  }
  EXPECT_EQ(messages.size(), 1U);
}
