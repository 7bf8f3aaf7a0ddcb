// The client socket against real servers on 127.0.0.1.

#include <QAbstractEventDispatcher>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "base/application_exception.h"
#include "net/platform_socket.h"
#include "tests/net/socket_probe.h"
#include "tests/support/loopback_server.h"
#include "tests/support/patience.h"

using testsupport::LoopbackServer;
using testsupport::ServerMode;

namespace {
const std::vector<std::string> Opening{"lookup", "connecting"};

// Sends until the connection object reports something other than bytes taken.
int SendUntilNotAccepted(TClientWinSocket* connection, int attempts = 100000) {
  char block[4096] = {};
  int result = 0;
  for (int i = 0; i < attempts; ++i) {
    result = connection->SendBytes(block, sizeof block);
    if (result <= 0) break;
  }
  return result;
}
}  // namespace

TEST(ClientSocket, ConnectsAsynchronouslyAndDeliversBytes) {
  LoopbackServer server(ServerMode::Record);
  TSocketProbe probe;
  probe.Open("127.0.0.1", server.port());
  EXPECT_EQ(probe.events, Opening);  // both ran inside the write
  EXPECT_FALSE(probe.socket.Active());
  EXPECT_FALSE(probe.socket.Socket()->Connected());

  ASSERT_TRUE(probe.WaitFor([&] { return probe.Count("connect") == 1; }));
  EXPECT_TRUE(probe.activeInConnect);
  EXPECT_TRUE(probe.socket.Active());
  EXPECT_TRUE(probe.errors.empty());

  const char data[] = "KORVADENdata";
  EXPECT_EQ(probe.socket.Socket()->SendBytes(data, 12), 12);
  EXPECT_TRUE(server.waitForBytes(12, testsupport::Patience));

  probe.socket.SetActive(false);
  EXPECT_EQ(probe.events.back(), "disconnect");
  EXPECT_FALSE(probe.socket.Active());
  EXPECT_EQ(probe.socket.Socket()->SocketHandle(), INVALID_SOCKET);
  probe.socket.Deactivate();  // a second deactivation does nothing
  EXPECT_EQ(probe.Count("disconnect"), 1);
  EXPECT_EQ(probe.socket.Socket()->SendBytes(data, 12), 0);
}

TEST(ClientSocket, RefusedConnectIsReportedOnceAndAllowsAFreshAttempt) {
  TSocketProbe probe;
  probe.Open("127.0.0.1", testsupport::unusedPort());
  ASSERT_TRUE(probe.WaitFor([&] { return !probe.errors.empty(); }));
  QTest::qWait(100);
  ASSERT_EQ(probe.errors.size(), 1U);
  EXPECT_EQ(probe.errors[0].kind, errConnect);
  EXPECT_EQ(probe.errors[0].code, ECONNREFUSED);
  EXPECT_EQ(probe.events, Opening);  // no connect, no disconnect
  EXPECT_FALSE(probe.socket.Active());
  EXPECT_FALSE(probe.socket.Socket()->Connected());

  LoopbackServer server(ServerMode::Record);
  probe.socket.SetPort(server.port());
  probe.socket.SetActive(true);
  EXPECT_TRUE(probe.WaitFor([&] { return probe.Count("connect") == 1; }));
}

TEST(ClientSocket, AsynchronousErrorLeftUnclearedReachesTheDefaultErrorDisplay) {
  std::vector<std::string> shown;
  SetApplicationExceptionHandler([&](const std::string& message) { shown.push_back(message); });
  TSocketProbe probe;
  probe.clearErrors = false;
  probe.Open("127.0.0.1", testsupport::unusedPort());
  EXPECT_TRUE(probe.WaitFor([&] { return !shown.empty(); }));
  SetApplicationExceptionHandler(nullptr);
  ASSERT_EQ(shown.size(), 1U);
  EXPECT_EQ(shown[0], "Asynchronous socket error " + std::to_string(ECONNREFUSED));
  EXPECT_FALSE(probe.socket.Active());
}

TEST(ClientSocket, UnresolvableNameFailsEvenWhileALocalServerListensOnThePort) {
  // Linux would take 0.0.0.0 for this host; the failed lookup must not reach the local server.
  LoopbackServer server(ServerMode::Record);
  TSocketProbe probe;
  probe.socket.SetHost("name.invalid");
  probe.socket.SetPort(server.port());
  probe.socket.SetActive(true);  // the name is looked up off this thread: the write returns at once
  EXPECT_EQ(probe.events, (std::vector<std::string>{"lookup"}));
  ASSERT_TRUE(probe.WaitFor([&] { return !probe.errors.empty(); }));
  EXPECT_EQ(probe.errors[0].kind, errConnect);
  EXPECT_EQ(probe.events, (std::vector<std::string>{"lookup", "connecting"}));
  EXPECT_FALSE(probe.socket.Active());
  QTest::qWait(200);
  EXPECT_EQ(server.acceptedCount(), 0);
  EXPECT_EQ(probe.Count("connect"), 0);
}

TEST(ClientSocket, MissingAddressRaisesAfterLookupAndDisconnect) {
  TSocketProbe probe;
  try {
    probe.socket.SetActive(true);
    FAIL() << "no exception";
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "No address specified");
  }
  EXPECT_EQ(probe.events, (std::vector<std::string>{"lookup", "disconnect"}));
  EXPECT_FALSE(probe.socket.Active());
}

TEST(ClientSocket, PropertyWritesAreGuardedOnlyWhileActive) {
  // Names in other letter case need a name: localhost, which /etc/hosts gives every installed system.
  if (platform::ResolveHostName("LocalHost") != htonl(INADDR_LOOPBACK)) {
    GTEST_SKIP() << "the name localhost does not resolve to 127.0.0.1 here (no /etc/hosts entry)";
  }
  LoopbackServer server(ServerMode::Record);
  TSocketProbe probe;
  probe.Open("LocalHost", server.port() + 65536);  // only the low 16 bits count
  probe.socket.SetPort(server.port());             // accepted while the connect is pending
  ASSERT_TRUE(probe.WaitFor([&] { return probe.socket.Active(); }));

  probe.socket.SetHost("LOCALHOST");  // same name in other letter case: nothing happens
  EXPECT_EQ(probe.socket.Host(), "LocalHost");
  try {
    probe.socket.SetHost("127.0.0.1");
    FAIL() << "no exception";
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "Can't change value while socket is active");
  }
  EXPECT_THROW(probe.socket.SetPort(1), ESocketError);
  EXPECT_THROW(probe.socket.SetClientType(ctBlocking), ESocketError);
  EXPECT_EQ(probe.socket.Port(), server.port());
}

TEST(ClientSocket, PeerCloseEndsTheConnectionWithoutError) {
  LoopbackServer server(ServerMode::CloseAtOnce);
  TSocketProbe probe;
  probe.Open("127.0.0.1", server.port());
  ASSERT_TRUE(probe.WaitFor([&] { return probe.Count("disconnect") == 1; }));
  EXPECT_TRUE(probe.errors.empty());
  EXPECT_FALSE(probe.socket.Active());
  char byte = 0;
  EXPECT_EQ(probe.socket.Socket()->SendBytes(&byte, 1), 0);
}

TEST(ClientSocket, HalfCloseByThePeerCountsAsClose) {
  LoopbackServer server(ServerMode::Record);
  TSocketProbe probe;
  probe.Open("127.0.0.1", server.port());
  ASSERT_TRUE(probe.WaitFor([&] { return probe.socket.Active(); }));
  ASSERT_TRUE(server.waitForAccepted(1, testsupport::Patience));
  server.shutdownWriteAll();
  EXPECT_TRUE(probe.WaitFor([&] { return probe.Count("disconnect") == 1; }));
  EXPECT_TRUE(probe.errors.empty());
}

TEST(ClientSocket, ResetIsReportedAsDisconnectErrorAndTheNextSendCloses) {
  LoopbackServer server(ServerMode::ResetAtOnce);
  TSocketProbe probe;
  probe.Open("127.0.0.1", server.port());
  ASSERT_TRUE(probe.WaitFor([&] { return !probe.errors.empty(); }));
  EXPECT_EQ(probe.errors[0].kind, errDisconnect);
  EXPECT_EQ(probe.errors[0].code, ECONNRESET);
  EXPECT_TRUE(probe.socket.Active());  // broken, not closed
  EXPECT_EQ(probe.Count("disconnect"), 0);

  char byte = 0;
  EXPECT_EQ(probe.socket.Socket()->SendBytes(&byte, 1), -1);  // the code was cleared
  ASSERT_EQ(probe.errors.size(), 2U);
  EXPECT_EQ(probe.errors[1].kind, errSend);
  EXPECT_EQ(probe.Count("disconnect"), 1);
  EXPECT_FALSE(probe.socket.Active());
}

TEST(ClientSocket, SendingIntoAResetConnectionRaisesInsteadOfKillingTheProcess) {
  // No event processing: the sends meet the reset before any notification does.
  LoopbackServer server(ServerMode::Record);
  TSocketProbe probe;
  probe.clearErrors = false;
  probe.Open("127.0.0.1", server.port());
  ASSERT_TRUE(probe.WaitFor([&] { return probe.socket.Active(); }));
  ASSERT_TRUE(server.waitForAccepted(1, testsupport::Patience));
  server.resetAll();
  try {
    SendUntilNotAccepted(probe.socket.Socket());
    FAIL() << "no exception";
  } catch (const ESocketError& error) {
    const std::string message = error.what();
    EXPECT_EQ(message.rfind("Windows socket error: ", 0), 0U) << message;
    EXPECT_NE(message.find("on API 'send'"), std::string::npos) << message;
  }
  ASSERT_FALSE(probe.errors.empty());
  EXPECT_EQ(probe.errors.back().kind, errSend);
  EXPECT_TRUE(probe.errors.back().code == ECONNRESET || probe.errors.back().code == EPIPE);
  EXPECT_FALSE(probe.socket.Active());
  EXPECT_EQ(probe.socket.Socket()->SocketHandle(), INVALID_SOCKET);
}

TEST(ClientSocket, FullSendBufferWouldBlockWithoutEvents) {
  LoopbackServer server(ServerMode::NeverRead);
  TSocketProbe probe;
  probe.Open("127.0.0.1", server.port());
  ASSERT_TRUE(probe.WaitFor([&] { return probe.socket.Active(); }));
  EXPECT_EQ(SendUntilNotAccepted(probe.socket.Socket()), -1);
  EXPECT_TRUE(probe.errors.empty());
  EXPECT_TRUE(probe.socket.Active());
}

TEST(ClientSocket, UnreadIncomingDataIsSignalledOnceAndDoesNotSpinTheEventLoop) {
  LoopbackServer server(ServerMode::SendBack);
  TSocketProbe probe;
  probe.Open("127.0.0.1", server.port());
  ASSERT_TRUE(probe.WaitFor([&] { return probe.Count("read") == 1; }));

  int wakeUps = 0;
  auto* dispatcher = QAbstractEventDispatcher::instance();
  auto connection = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++wakeUps; });
  QTest::qWait(500);
  QObject::disconnect(connection);
  EXPECT_EQ(probe.Count("read"), 1);
  EXPECT_LT(wakeUps, 200) << "the event loop keeps waking up for the unread socket";

  server.resetAll();  // still watched: the break arrives behind the unread data
  ASSERT_TRUE(probe.WaitFor([&] { return !probe.errors.empty(); }));
  EXPECT_EQ(probe.errors[0].kind, errDisconnect);
}

TEST(ClientSocket, SecondAttemptWhilePendingKeepsTheFirstAttemptsOutcome) {
  LoopbackServer server(ServerMode::Record);
  TSocketProbe probe;
  probe.Open("127.0.0.1", testsupport::unusedPort());
  const int firstHandle = probe.socket.Socket()->SocketHandle();
  probe.socket.SetPort(server.port());
  probe.socket.SetActive(true);  // still inactive: a second attempt on a new handle
  EXPECT_NE(probe.socket.Socket()->SocketHandle(), firstHandle);

  ASSERT_TRUE(probe.WaitFor([&] { return probe.Count("connect") == 1 && probe.errors.size() == 1; }));
  EXPECT_EQ(probe.errors[0].kind, errConnect);
  EXPECT_TRUE(probe.socket.Active());
}

TEST(ClientSocket, ClosedHandleNumberReusedByTheSystemIsNeverTouched) {
  LoopbackServer first(ServerMode::Record);
  LoopbackServer recording(ServerMode::Record);
  TSocketProbe probe;
  probe.Open("127.0.0.1", first.port());
  ASSERT_TRUE(probe.WaitFor([&] { return probe.Count("connect") == 1; }));
  ASSERT_TRUE(first.waitForAccepted(1, testsupport::Patience));
  // The reset is on its way; close before its notification is handled.
  first.resetAll();
  QTest::qSleep(100);
  const int oldHandle = probe.socket.Socket()->SocketHandle();
  probe.socket.SetActive(false);

  int pipeEnds[2];
  ASSERT_EQ(::pipe2(pipeEnds, O_NONBLOCK | O_CLOEXEC), 0);
  EXPECT_TRUE(pipeEnds[0] == oldHandle || pipeEnds[1] == oldHandle);  // the number is handed out again
  char byte = 'x';
  EXPECT_EQ(probe.socket.Socket()->SendBytes(&byte, 1), 0);
  EXPECT_EQ(::read(pipeEnds[0], &byte, 1), -1);  // nothing was written into the pipe
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);

  probe.socket.SetPort(recording.port());
  probe.socket.SetActive(true);
  EXPECT_EQ(probe.socket.Socket()->SocketHandle(), oldHandle);
  ASSERT_TRUE(probe.WaitFor([&] { return probe.Count("connect") == 2; }));
  QTest::qWait(200);
  for (const auto& error : probe.errors) ADD_FAILURE() << "error kind " << error.kind << " code " << error.code;
  EXPECT_TRUE(probe.socket.Active());
}

TEST(ClientSocket, CloseWaitsForASendInProgressOnAnotherThread) {
  LoopbackServer server(ServerMode::Record);
  TSocketProbe probe;
  probe.Open("127.0.0.1", server.port());
  ASSERT_TRUE(probe.WaitFor([&] { return probe.socket.Active(); }));

  std::atomic<bool> started{false};
  std::atomic<long> sends{0};
  std::thread sender([&] {
    char block[1024] = {};
    while (probe.socket.Active() || !started) {
      started = true;
      if (probe.socket.Socket()->SendBytes(block, sizeof block) == 0) break;
      ++sends;
    }
  });
  while (sends < 100) std::this_thread::yield();
  probe.socket.SetActive(false);
  sender.join();
  EXPECT_EQ(probe.Count("disconnect"), 1);
  EXPECT_TRUE(probe.errors.empty());
}
