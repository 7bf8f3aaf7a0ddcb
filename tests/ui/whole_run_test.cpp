// A whole measurement through the window against the real korvaden-server.

#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>
#include <csignal>

#include <gtest/gtest.h>

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
