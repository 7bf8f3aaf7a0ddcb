#include "tests/support/loopback_server.h"
#include "tests/support/patience.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

namespace testsupport {
namespace {

using namespace std::chrono_literals;

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// A blocking client; closes itself like the sockets of the code under test would.
class Client {
 public:
  explicit Client(std::uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const sockaddr_in address = loopback(port);
    connectResult_ = connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    connectErrno_ = errno;
  }
  ~Client() { close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  int fd() const { return fd_; }
  bool connected() const { return connectResult_ == 0; }
  int connectErrno() const { return connectErrno_; }

  void sendAll(const std::vector<std::uint8_t>& data) {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      ASSERT_GT(n, 0) << std::strerror(errno);
      done += static_cast<std::size_t>(n);
    }
  }

  // Result of one recv after waiting up to two seconds for something to happen;
  // errno is kept in lastErrno().
  ssize_t receiveOnce() {
    pollfd p{fd_, POLLIN, 0};
    poll(&p, 1, 2000);
    char buffer[4096];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    lastErrno_ = errno;
    return n;
  }
  int lastErrno() const { return lastErrno_; }

 private:
  int fd_;
  int connectResult_ = -1;
  int connectErrno_ = 0;
  int lastErrno_ = 0;
};

std::vector<std::uint8_t> pattern(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return data;
}

TEST(LoopbackServerTest, RecordsWhatArrivesAndSeesTheClientClose) {
  LoopbackServer server(ServerMode::Record);
  const auto data = pattern(300'000);
  {
    Client client(server.port());
    ASSERT_TRUE(client.connected());
    client.sendAll(data);
  }
  ASSERT_TRUE(server.waitForBytes(data.size(), testsupport::Patience));
  EXPECT_EQ(server.bytesReceived(), data.size());
  EXPECT_EQ(server.recorded(), data);
  EXPECT_EQ(server.acceptedCount(), 1);
  EXPECT_TRUE(server.waitForPeerClosed(testsupport::Patience));
}

TEST(LoopbackServerTest, RecordKeepsOnlyTheLimitButCountsEverything) {
  LoopbackServer server(ServerMode::Record, 1000);
  const auto data = pattern(5000);
  Client client(server.port());
  client.sendAll(data);
  ASSERT_TRUE(server.waitForBytes(5000, testsupport::Patience));
  EXPECT_EQ(server.recorded(), std::vector<std::uint8_t>(data.begin(), data.begin() + 1000));
  EXPECT_FALSE(server.waitForPeerClosed(50ms));
}

TEST(LoopbackServerTest, CloseAtOnceEndsWithEof) {
  LoopbackServer server(ServerMode::CloseAtOnce);
  Client client(server.port());
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.receiveOnce(), 0);
  EXPECT_TRUE(server.waitForAccepted(1, testsupport::Patience));
}

TEST(LoopbackServerTest, ResetAtOnceEndsWithReset) {
  LoopbackServer server(ServerMode::ResetAtOnce);
  Client client(server.port());
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.receiveOnce(), -1);
  EXPECT_EQ(client.lastErrno(), ECONNRESET);
}

TEST(LoopbackServerTest, NeverReadLetsTheClientSendBufferFill) {
  LoopbackServer server(ServerMode::NeverRead);
  Client client(server.port());
  ASSERT_TRUE(server.waitForAccepted(1, testsupport::Patience));
  const auto chunk = pattern(64 * 1024);
  std::size_t sent = 0;
  for (int i = 0; i < 10'000; ++i) {
    const ssize_t n = send(client.fd(), chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) {
      EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << std::strerror(errno);
      break;
    }
    sent += static_cast<std::size_t>(n);
  }
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, 10'000u * chunk.size()) << "the send buffer never filled";
  EXPECT_EQ(server.bytesReceived(), 0u);
}

TEST(LoopbackServerTest, NeverReadNoticesAResettingClient) {
  LoopbackServer server(ServerMode::NeverRead);
  {
    Client client(server.port());
    ASSERT_TRUE(server.waitForAccepted(1, testsupport::Patience));
    linger abort{1, 0};
    setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  EXPECT_TRUE(server.waitForPeerClosed(testsupport::Patience));
}

TEST(LoopbackServerTest, SendBackSendsUntilTheClientGoes) {
  LoopbackServer server(ServerMode::SendBack);
  {
    Client client(server.port());
    std::size_t total = 0;
    for (int i = 0; i < 100 && total < 1'000'000; ++i) {
      const ssize_t n = client.receiveOnce();
      ASSERT_GT(n, 0);
      total += static_cast<std::size_t>(n);
    }
    EXPECT_GE(total, 1'000'000u / 4) << "fewer bytes than expected in 100 reads";
  }
  EXPECT_TRUE(server.waitForPeerClosed(testsupport::Patience));
  EXPECT_EQ(server.bytesReceived(), 0u);
}

TEST(LoopbackServerTest, ResetAllResetsOpenConnections) {
  LoopbackServer server(ServerMode::Record);
  Client first(server.port());
  Client second(server.port());
  ASSERT_TRUE(server.waitForAccepted(2, testsupport::Patience));
  server.resetAll();
  EXPECT_EQ(first.receiveOnce(), -1);
  EXPECT_EQ(first.lastErrno(), ECONNRESET);
  EXPECT_EQ(second.receiveOnce(), -1);
  EXPECT_EQ(second.lastErrno(), ECONNRESET);

  Client third(server.port());  // still accepting
  EXPECT_TRUE(server.waitForAccepted(3, testsupport::Patience));
}

TEST(LoopbackServerTest, CloseAllEndsWithEofEvenWithUnreadData) {
  LoopbackServer server(ServerMode::NeverRead);
  Client client(server.port());
  ASSERT_TRUE(server.waitForAccepted(1, testsupport::Patience));
  client.sendAll(pattern(10'000));
  server.closeAll();
  EXPECT_EQ(client.receiveOnce(), 0);
}

TEST(LoopbackServerTest, ShutdownWriteAllKeepsReading) {
  LoopbackServer server(ServerMode::Record);
  Client client(server.port());
  ASSERT_TRUE(server.waitForAccepted(1, testsupport::Patience));
  server.shutdownWriteAll();
  EXPECT_EQ(client.receiveOnce(), 0);
  client.sendAll(pattern(1234));
  EXPECT_TRUE(server.waitForBytes(1234, testsupport::Patience));
}

TEST(LoopbackServerTest, UnusedPortRefusesConnections) {
  Client client(unusedPort());
  EXPECT_FALSE(client.connected());
  EXPECT_EQ(client.connectErrno(), ECONNREFUSED);
}

TEST(FullBacklogListenerTest, ConnectStaysPending) {
  FullBacklogListener listener;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const sockaddr_in address = loopback(listener.port());
  ASSERT_NE(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(errno, EINPROGRESS);
  pollfd p{fd, POLLOUT, 0};
  EXPECT_EQ(poll(&p, 1, 300), 0) << "connect completed although the backlog is full";
  close(fd);
}

}  // namespace
}  // namespace testsupport
