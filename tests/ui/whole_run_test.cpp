// A whole measurement through the window against the real korvaden-server.

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "companion_process.h"
#include "main_window.h"
#include "qstring_printer.h"
#include "message_service.h"

TEST(WholeRun, AddsPointsMovesTheAxesAndShowsTheAverageThenStops) {
  QProcess server;
  const auto port = StartCompanionServer(server, QStringLiteral(KORVADEN_SERVER_PATH));
  ASSERT_TRUE(port.has_value());

  std::vector<TShownMessage> messages;
  TMessageService::SetObserver([&](const TShownMessage& message) { messages.push_back(message); });
  {
    TForm1 form;
    form.show();
    form.ClientSocket1.SetPort(*port);
    form.Edit1->setText(QStringLiteral("127.0.0.1"));
    form.Button1->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Series1.Count() >= 3; }, 10000));

    EXPECT_EQ(form.BottomAxis.Minimum(), 0);
    EXPECT_EQ(form.BottomAxis.Maximum(), 60);
    EXPECT_GT(form.Series1.YValues.MaxValue(), 0);
    EXPECT_DOUBLE_EQ(form.LeftAxis.Maximum(), form.Series1.YValues.MaxValue() * 1.1);
    EXPECT_TRUE(form.AverageText().startsWith(QString::fromUtf8("Durchschnittliche Übertragungsrate: ")));
    EXPECT_TRUE(form.AverageText().endsWith(" kiBytes/s"));
    for (int i = 1; i < form.Series1.Count(); ++i) EXPECT_GT(form.Series1.XValues[i], form.Series1.XValues[i - 1]);

    form.Button2->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Button1->isEnabled() && !form.Controller.HasWorker(); }, 5000));
    const int points = form.Series1.Count();
    QTest::qWait(1200);
    EXPECT_EQ(form.Series1.Count(), points);  // the finished run stays on screen, no more ticks
  }
  TMessageService::SetObserver(nullptr);
  EXPECT_TRUE(messages.empty());
  server.terminate();
  EXPECT_TRUE(server.waitForFinished(5000));
}
