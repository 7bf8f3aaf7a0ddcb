// Whole measurements driven through the real window against real servers on 127.0.0.1.

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <memory>

#include "measure/measurement_counters.h"
#include "tests/support/loopback_server.h"
#include "tests/support/patience.h"
#include "tests/support/qstring_printer.h"
#include "tests/ui/observed_messages.h"
#include "ui/line_test_window.h"
#include "ui/main_window.h"
#include "ui/window_texts.h"

using testsupport::LoopbackServer;
using testsupport::ServerMode;

namespace {
class MeasurementFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TForm1>();
    form->show();
    Counters.BlockSize = 1024;
  }
  void TearDown() override {
    form.reset();
    Counters.BlockSize = 1024;
  }

  void Start(const QString& server, int port) {
    form->ClientSocket1.SetPort(port);
    form->Edit1->setText(server);
    form->Button1->click();
  }
  QString Status() const { return form->StatusPanel0->text(); }
  bool IsIdle() const {
    return form->Button1->isEnabled() && !form->Button2->isEnabled() && !form->Controller.Timer1.isActive() &&
           Status() == texts::IdleStatus && !form->Controller.HasWorker();
  }
  bool WaitForMeasuring() {
    return QTest::qWaitFor([&] { return Status() == texts::MeasuringStatus; }, testsupport::PatienceMs);
  }
  bool WaitForIdle() {
    return QTest::qWaitFor([&] { return IsIdle(); }, testsupport::PatienceMs);
  }

  TObservedMessages messages;  // declared first: it outlives the window
  std::unique_ptr<TForm1> form;
};
}  // namespace

TEST_F(MeasurementFlow, RefusedConnectShowsOneConnectFailedMessageThenIdle) {
  Start("127.0.0.1", testsupport::unusedPort());
  EXPECT_FALSE(form->Button1->isEnabled());
  EXPECT_TRUE(form->Button2->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs));
  QTest::qWait(100);
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0].Text,
            QString::fromUtf8("Konnte keine Verbindung zu 127.0.0.1 herstellen!\rLäuft dort der Server?"));
  EXPECT_EQ(messages[0].Caption, "Fehler");
  EXPECT_EQ(messages[0].Icon, QMessageBox::Warning);
  EXPECT_TRUE(IsIdle());
}

TEST_F(MeasurementFlow, UnresolvableNameShowsTheSameMessageEvenWithALocalServerOnThePort) {
  LoopbackServer server(ServerMode::Record);
  Start("name.invalid", server.port());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs));
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0].Text,
            QString::fromUtf8("Konnte keine Verbindung zu name.invalid herstellen!\rLäuft dort der Server?"));
  EXPECT_TRUE(IsIdle());
  QTest::qWait(100);
  EXPECT_EQ(server.acceptedCount(), 0);
}

TEST_F(MeasurementFlow, StopWhileConnectingAbandonsTheAttemptSilently) {
  testsupport::FullBacklogListener listener;
  Start("127.0.0.1", listener.port());
  EXPECT_EQ(Status(), texts::ConnectingStatus("127.0.0.1"));
  form->Button2->click();
  EXPECT_TRUE(IsIdle());
  QTest::qWait(300);
  EXPECT_TRUE(IsIdle());
  EXPECT_TRUE(messages.empty());
}

TEST_F(MeasurementFlow, StopWhileMeasuringEndsTheWorkerWithoutMessage) {
  LoopbackServer server(ServerMode::Record);
  Start("127.0.0.1", server.port());
  ASSERT_TRUE(WaitForMeasuring());
  EXPECT_TRUE(form->Controller.Timer1.isActive());
  ASSERT_TRUE(server.waitForBytes(64 * 1024, testsupport::Patience));
  form->Button2->click();
  ASSERT_TRUE(WaitForIdle());
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(server.waitForPeerClosed(testsupport::Patience));
}

TEST_F(MeasurementFlow, NormalCloseByTheServerEndsTheRunWithoutMessage) {
  LoopbackServer server(ServerMode::Record);
  Start("127.0.0.1", server.port());
  ASSERT_TRUE(WaitForMeasuring());
  ASSERT_TRUE(server.waitForBytes(4096, testsupport::Patience));
  server.shutdownWriteAll();
  ASSERT_TRUE(WaitForIdle());
  EXPECT_TRUE(messages.empty());
}

TEST_F(MeasurementFlow, ResetEndsTheRunWithTheConnectionLostMessage) {
  LoopbackServer server(ServerMode::Record);
  Start("127.0.0.1", server.port());
  ASSERT_TRUE(WaitForMeasuring());
  ASSERT_TRUE(server.waitForBytes(4096, testsupport::Patience));
  server.resetAll();
  ASSERT_TRUE(WaitForIdle());
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0].Text, "Die Verbindung wurde unterbrochen!");
  EXPECT_EQ(messages[0].Caption, "Fehler");
}

TEST_F(MeasurementFlow, TwoRunsInARowStartClean) {
  LoopbackServer first(ServerMode::Record);
  Start("127.0.0.1", first.port());
  ASSERT_TRUE(WaitForMeasuring());
  ASSERT_TRUE(first.waitForBytes(4096, testsupport::Patience));
  first.resetAll();
  ASSERT_TRUE(WaitForIdle());
  ASSERT_EQ(messages.size(), 1U);

  form->Series1.AddXY(1, 1);
  LoopbackServer second(ServerMode::Record);
  Start("127.0.0.1", second.port());
  ASSERT_TRUE(WaitForMeasuring());
  EXPECT_EQ(form->Series1.Count(), 0);  // the connect event clears the last run's points
  ASSERT_TRUE(second.waitForBytes(4096, testsupport::Patience));
  form->Button2->click();
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(messages.size(), 1U);  // the first run's loss does not carry over
}

TEST_F(MeasurementFlow, EnterInTheServerFieldStartsOnlyWhenIdle) {
  LoopbackServer server(ServerMode::Record);
  form->ClientSocket1.SetPort(server.port());
  form->Edit1->setText("127.0.0.1");
  form->activateWindow();
  form->Edit1->setFocus();
  QTest::keyClick(form->Edit1, Qt::Key_Return);
  ASSERT_TRUE(WaitForMeasuring());
  ASSERT_TRUE(server.waitForAccepted(1, testsupport::Patience));
  QTest::keyClick(form->Edit1, Qt::Key_Return);
  QTest::qWait(100);
  EXPECT_EQ(server.acceptedCount(), 1);
  EXPECT_EQ(Status(), texts::MeasuringStatus);
  form->Button2->click();
  ASSERT_TRUE(WaitForIdle());
}

TEST_F(MeasurementFlow, ExpertFieldsChangeOnlyWhatPrecedesABadText) {
  const int refused = testsupport::unusedPort();
  form->ProPanel->show();
  form->ClientSocket1.SetPort(refused);
  form->Edit1->setText("127.0.0.1");

  form->Edit2->setText("abc");
  form->Edit3->setText("2857");
  form->Button1->click();
  EXPECT_EQ(Counters.BlockSize, 1024);
  EXPECT_EQ(form->ClientSocket1.Port(), refused);
  ASSERT_TRUE(WaitForIdle());

  form->Edit2->setText("2048");
  form->Edit3->setText("port");
  form->Button1->click();
  EXPECT_EQ(Counters.BlockSize, 2048);
  EXPECT_EQ(form->ClientSocket1.Port(), refused);
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(messages.size(), 2U);
}

TEST_F(MeasurementFlow, BlockSizeOrPortOutsideTheirRangeIsRefusedBeforeConnecting) {
  LoopbackServer server(ServerMode::Record);
  form->ProPanel->show();
  form->Edit2->setText("0");
  form->Edit3->setText(QString::number(server.port()));
  form->Edit1->setText("127.0.0.1");
  form->Button1->click();
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0].Text, texts::BlockSizeTooSmall("0"));
  EXPECT_EQ(messages[0].Caption, "Fehler");
  EXPECT_TRUE(IsIdle());

  // Numbers beyond 32 bits are refused as well, never replaced by the value in force.
  form->Edit2->setText("2147483648");
  form->Button1->click();
  form->Edit2->setText("1024");
  form->Edit3->setText(" 99999999999");
  form->Button1->click();
  ASSERT_EQ(messages.size(), 3U);
  EXPECT_EQ(messages[1].Text, texts::BlockSizeTooLarge("2147483648"));
  EXPECT_EQ(messages[2].Text, texts::PortOutOfRange("99999999999"));
  EXPECT_TRUE(IsIdle());
  QTest::qWait(100);
  EXPECT_EQ(server.acceptedCount(), 0);
}

TEST_F(MeasurementFlow, ClosingTheWindowDuringARunStopsOnceMoreAndWaitsForTheWorker) {
  LoopbackServer server(ServerMode::NeverRead);  // the worker is busy in would-block sends
  Start("127.0.0.1", server.port());
  ASSERT_TRUE(WaitForMeasuring());
  QTest::qWait(50);
  form->close();
  form->FormDestroy();
  EXPECT_TRUE(IsIdle());  // StopMeasurement ran while the shutdown waited
  EXPECT_FALSE(form->ClientSocket1.Active());
  EXPECT_TRUE(messages.empty());
}

// The worker is told to stop before its socket goes: it must not take the closed socket for a break.
TEST_F(MeasurementFlow, ClosingTheWindowDuringADownloadShowsNoMessage) {
  LoopbackServer server(ServerMode::SendBack);
  form->ProPanel->show();
  form->Edit3->setText(QString::number(server.port()));
  form->ComboBox1->setCurrentIndex(1);
  Start("127.0.0.1", server.port());
  ASSERT_TRUE(WaitForMeasuring());
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.bytesSent() > 0; }, testsupport::PatienceMs));
  form->close();
  form->FormDestroy();
  EXPECT_TRUE(IsIdle());
  EXPECT_TRUE(messages.empty());
}

TEST_F(MeasurementFlow, DestroyingTheWindowDuringARunNeitherHangsNorCrashes) {
  LoopbackServer server(ServerMode::Record);
  Start("127.0.0.1", server.port());
  ASSERT_TRUE(WaitForMeasuring());
  ASSERT_TRUE(server.waitForBytes(4096, testsupport::Patience));
  form.reset();
  EXPECT_TRUE(server.waitForPeerClosed(testsupport::Patience));
}

// Runs that end unusually still leave the window idle and its shutdown free to finish.
TEST_F(MeasurementFlow, AWorkerThatCannotStartOrACloseThatFailsLeavesTheWindowIdle) {
  {
    LoopbackServer server(ServerMode::Record);
    // No thread can be had while the connect event runs: the default stack of new threads is
    // larger than any address space. (Only then: the window's own drawing needs threads too.)
    auto connected = form->ClientSocket1.OnConnect;
    form->ClientSocket1.OnConnect = [&](QObject* sender, TCustomWinSocket* socket) {
      pthread_attr_t huge, previous;
      pthread_attr_init(&huge);
      pthread_attr_setstacksize(&huge, std::size_t{1} << 46);
      pthread_getattr_default_np(&previous);
      pthread_setattr_default_np(&huge);
      struct TRestore {
        pthread_attr_t& attributes;
        ~TRestore() { pthread_setattr_default_np(&attributes); }
      } restore{previous};
      connected(sender, socket);
    };
    Start("127.0.0.1", server.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs));
    EXPECT_TRUE(IsIdle());
    form->ClientSocket1.OnConnect = connected;
  }
  messages.clear();
  {
    testsupport::FullBacklogListener silent;
    Start("127.0.0.1", silent.port());
    ::close(form->ClientSocket1.Socket()->SocketHandle());  // closing it again will fail
    form->Button2->click();
    EXPECT_TRUE(IsIdle());
    EXPECT_EQ(messages.size(), 1U);  // the failure is still told
  }
  form.reset();  // returns: no worker is waited for
}

// A large block keeps the new worker busy before it publishes; the ticks meanwhile must not turn
// the last run's counters into a point of the new one.
TEST_F(MeasurementFlow, TheFirstPointOfARunNeverComesFromTheLastRunsCounters) {
  LoopbackServer server(ServerMode::Record);
  Counters.BeginUpdate();
  Counters.ElapsedMs = 300000;  // what a five-minute run left behind
  Counters.WindowMs = 500;
  Counters.WindowBytes = 512000;
  Counters.EndUpdate();
  Counters.BlockSize = 256 * 1024 * 1024;
  form->Edit2->setText(QString());  // expert mode is off: the block size stays as set
  Start("127.0.0.1", server.port());
  ASSERT_TRUE(WaitForMeasuring());
  TCounterSnapshot snapshot;
  ASSERT_TRUE(QTest::qWaitFor([&] { return Counters.TrySnapshot(snapshot); }, testsupport::PatienceMs));
  EXPECT_LT(snapshot.ElapsedMs, 300000U);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Series1.Count() > 0; }, testsupport::PatienceMs));
  EXPECT_LT(form->Series1.XValues[0], 60);
  EXPECT_EQ(form->BottomAxis.Minimum(), 0);
  form->Button2->click();
  EXPECT_TRUE(WaitForIdle());
}

TEST_F(MeasurementFlow, DownloadFromAServerThatNeverSendsEndsWithAMessageWithinFifteenSeconds) {
  LoopbackServer server(ServerMode::Record);  // takes the request, sends nothing
  form->ProPanel->show();
  form->Edit3->setText(QString::number(server.port()));
  form->ComboBox1->setCurrentIndex(1);
  Start("127.0.0.1", server.port());
  ASSERT_TRUE(WaitForMeasuring());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs));
  EXPECT_TRUE(messages[0].Text.startsWith("Der Server 127.0.0.1 sendet keine Daten.")) << messages[0].Text;
  EXPECT_TRUE(WaitForIdle());
  EXPECT_EQ(messages.size(), 1U);
}

TEST_F(MeasurementFlow, LineTestLocksStartWhileItRunsAndEndsWithItsWindow) {
  form->LineTestAction->trigger();
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0].Text, texts::LineTestNeedsServer);
  EXPECT_FALSE(form->LineTest->Running());

  LoopbackServer server(ServerMode::Record);  // takes uploads, answers no probe and sends nothing
  form->Edit1->setText("127.0.0.1");
  form->LineTest->PhaseSeconds = 1;
  form->LineTest->StartTest("127.0.0.1", server.port());
  EXPECT_FALSE(form->Button1->isEnabled());
  EXPECT_FALSE(form->LineTestAction->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->LineTest->Running(); }, testsupport::PatienceMs));
  EXPECT_TRUE(form->Button1->isEnabled());
  EXPECT_TRUE(form->LineTestAction->isEnabled());
  const auto& result = form->LineTest->Result();
  EXPECT_TRUE(result.Error.isEmpty()) << result.Error.toStdString();
  EXPECT_TRUE(result.Upload.Measured);
  EXPECT_FALSE(result.Download.Measured);
  ASSERT_FALSE(result.Missing.isEmpty());
  EXPECT_TRUE(result.Missing.first().contains("Download")) << result.Missing.first().toStdString();

  // Closing the window ends a running test at once and leaves the main window idle.
  form->LineTest->StartTest("127.0.0.1", server.port());
  form->LineTest->close();
  EXPECT_FALSE(form->LineTest->Running());
  EXPECT_TRUE(form->Button1->isEnabled());
  EXPECT_EQ(messages.size(), 1U);
}
