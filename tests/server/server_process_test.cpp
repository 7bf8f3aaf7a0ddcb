// Drives the real korvaden-server executable through loopback connections.

#include <signal.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/server/tcp_client.h"
#include "tests/support/patience.h"
#include "tests/support/server_process.h"

namespace servertest {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMiB = 1024 * 1024;

std::string escaped(const std::string& text) { return std::regex_replace(text, std::regex(R"([.\[\]()])"), R"(\$&)"); }

// Every plain line starts with the local date and time.
const std::string kTime = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )";

std::regex intervalPattern(unsigned number, const std::string& peer) {
  return std::regex(kTime + R"(\[Verbindung )" + std::to_string(number) + " von " + escaped(peer) +
                    R"(\] (\d+\.\d\d) s: (\d+) Bytes, (\d+\.\d\d) MiB/s)");
}

// Captures: 1 = connection number, 2 = bytes, 3 = seconds, 4 = rate, 5 = how it ended.
const std::regex kAnySummary(
    kTime + R"(\[Verbindung (\d+)\] beendet: (\d+) Bytes in (\d+\.\d\d) s, (\d+\.\d\d) MiB/s \((.+)\))");

std::regex summaryPattern(unsigned number) {
  return std::regex(kTime + R"(\[Verbindung )" + std::to_string(number) +
                    R"(\] beendet: (\d+) Bytes in (\d+\.\d\d) s, (\d+\.\d\d) MiB/s \((.+)\))");
}

class ServerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(std::vector<std::string>{"--bind", "127.0.0.1", "--port", "0"});
    const auto first = server_->nextLine(10s);
    ASSERT_TRUE(first) << "korvaden-server printed nothing";
    std::smatch match;
    ASSERT_TRUE(
        std::regex_match(*first, match, std::regex(kTime + R"(korvaden-server lauscht auf 127\.0\.0\.1:(\d+))")))
        << *first;
    port_ = static_cast<std::uint16_t>(std::stoi(match[1]));
    ASSERT_NE(port_, 0);
  }

  void TearDown() override {
    if (!server_) return;
    server_->sendSignal(SIGTERM);
    EXPECT_EQ(server_->waitForExit(testsupport::Patience), 0) << server_->transcript();
  }

  std::unique_ptr<ServerProcess> server_;
  std::uint16_t port_ = 0;
};

TEST_F(ServerProcessTest, CountsEveryByteOfOneClient) {
  TcpClient client(port_);
  const std::string peer = client.localEndpoint();
  const std::size_t sent = 3 * kMiB + 17;
  client.send(sent);

  // Normally all of it lands in the first second; a slow machine may spread it out.
  std::uint64_t reported = 0;
  while (reported < sent) {
    const auto interval = server_->waitForLine(intervalPattern(1, peer), testsupport::Patience);
    ASSERT_TRUE(interval) << server_->transcript();
    if (reported == 0) {
      const double elapsed = std::stod((*interval)[1]);
      EXPECT_GE(elapsed, 0.99);
      EXPECT_LT(elapsed, 2.0);
    }
    reported += std::stoull((*interval)[2]);
  }
  EXPECT_EQ(reported, sent);

  client.close();
  const auto summary = server_->waitForLine(summaryPattern(1), testsupport::Patience);
  ASSERT_TRUE(summary) << server_->transcript();
  EXPECT_EQ(std::stoull((*summary)[1]), sent);
  EXPECT_GE(std::stod((*summary)[2]), 1.0);
  EXPECT_EQ((*summary)[4], "geschlossen");
}

TEST_F(ServerProcessTest, ServesSeveralClientsAtOnce) {
  std::vector<std::unique_ptr<TcpClient>> clients;
  for (int i = 0; i < 3; ++i) clients.push_back(std::make_unique<TcpClient>(port_));

  std::vector<std::thread> senders;
  for (std::size_t i = 0; i < clients.size(); ++i) {
    senders.emplace_back([&client = *clients[i], size = (i + 1) * kMiB] { client.send(size); });
  }
  for (auto& t : senders) t.join();
  for (auto& c : clients) c->close();

  std::vector<unsigned> numbers;
  std::vector<std::uint64_t> totals;
  for (int i = 0; i < 3; ++i) {
    const auto summary = server_->waitForLine(kAnySummary, testsupport::Patience);
    ASSERT_TRUE(summary) << server_->transcript();
    numbers.push_back(static_cast<unsigned>(std::stoul((*summary)[1])));
    totals.push_back(std::stoull((*summary)[2]));
    EXPECT_EQ((*summary)[5], "geschlossen");
  }
  std::sort(numbers.begin(), numbers.end());
  std::sort(totals.begin(), totals.end());
  EXPECT_EQ(numbers, (std::vector<unsigned>{1, 2, 3}));
  EXPECT_EQ(totals, (std::vector<std::uint64_t>{kMiB, 2 * kMiB, 3 * kMiB}));
}

TEST_F(ServerProcessTest, SurvivesAClientThatResetsMidStream) {
  {
    TcpClient rude(port_);
    rude.send(kMiB);
    rude.reset();
  }
  const auto aborted = server_->waitForLine(summaryPattern(1), testsupport::Patience);
  ASSERT_TRUE(aborted) << server_->transcript();
  EXPECT_EQ((*aborted)[4], "zurückgesetzt");

  TcpClient polite(port_);
  polite.send(65536);
  polite.close();
  const auto summary = server_->waitForLine(summaryPattern(2), testsupport::Patience);
  ASSERT_TRUE(summary) << server_->transcript();
  EXPECT_EQ(std::stoull((*summary)[1]), 65536u);
  EXPECT_EQ((*summary)[4], "geschlossen");
}

TEST_F(ServerProcessTest, SigtermReportsOpenConnectionsAndExitsCleanly) {
  TcpClient client(port_);
  client.send(100'000);
  // The first report shows the data has been read, so the summary must count all of it.
  ASSERT_TRUE(server_->waitForLine(intervalPattern(1, client.localEndpoint()), testsupport::Patience));

  server_->sendSignal(SIGTERM);
  const auto summary = server_->waitForLine(summaryPattern(1), testsupport::Patience);
  ASSERT_TRUE(summary) << server_->transcript();
  EXPECT_EQ(std::stoull((*summary)[1]), 100'000u);
  EXPECT_EQ((*summary)[4], "Server beendet");
  EXPECT_EQ(server_->waitForExit(testsupport::Patience), 0);
  server_.reset();
}

TEST_F(ServerProcessTest, SigintExitsCleanly) {
  server_->sendSignal(SIGINT);
  EXPECT_EQ(server_->waitForExit(testsupport::Patience), 0);
  server_.reset();
}

// The options for a server offered to others, each against real connections.
TEST(ServerLimitsTest, RefuseIdleCloseOrderlyEndOnceAndBothAddressFamilies) {
  ServerProcess server({"--port", "0", "--max-connections", "1", "--max-duration", "2", "--once"});
  const auto port = server.waitForListeningPort(testsupport::Patience);
  ASSERT_TRUE(port) << server.transcript();
  TcpClient first(static_cast<std::uint16_t>(*port), "::1");  // the default listens on IPv6 too
  first.send(1000);
  ASSERT_TRUE(server.waitForLine(intervalPattern(1, first.localEndpoint()), testsupport::Patience));
  TcpClient second(static_cast<std::uint16_t>(*port));  // and on IPv4
  EXPECT_EQ(second.waitForEnd(testsupport::PatienceMs), ECONNRESET);
  EXPECT_TRUE(server.waitForLine(std::regex(kTime + R"(\[Verbindung 2 von 127\.0\.0\.1:\d+\] abgewiesen: .*)"),
                                 testsupport::Patience));
  EXPECT_EQ(first.waitForEnd(testsupport::PatienceMs), 0);  // our FIN after two seconds; we close in turn
  first.close();
  const auto summary = server.waitForLine(summaryPattern(1), testsupport::Patience);
  ASSERT_TRUE(summary) << server.transcript();
  EXPECT_EQ((*summary)[4], "Höchstdauer erreicht");
  EXPECT_EQ(server.waitForExit(testsupport::Patience), 0);  // --once

  ServerProcess idle({"--bind", "127.0.0.1", "--port", "0", "--idle-timeout", "1", "--json"});
  const auto listening =
      idle.waitForLine(std::regex(R"(\{"event":"listening",.*"port":(\d+)\})"), testsupport::Patience);
  ASSERT_TRUE(listening) << idle.transcript();
  TcpClient silent(static_cast<std::uint16_t>(std::stoi((*listening)[1])));
  EXPECT_EQ(silent.waitForEnd(testsupport::PatienceMs), 0);
  EXPECT_TRUE(idle.waitForLine(std::regex(R"(\{"event":"end",.*"reason":"keine Daten mehr"\})"), testsupport::Patience))
      << idle.transcript();
}

TEST(ServerCommandLineTest, RejectsBadOptionsWithUsageAndExitCode2) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--frobnicate"}, {"--port", "70000"}, {"--port"}, {"-b", "localhost"}}) {
    ServerProcess server(args, true);
    EXPECT_EQ(server.waitForExit(testsupport::Patience), 2) << args[0];
    EXPECT_NE(server.stderrText().find("Aufruf: korvaden-server"), std::string::npos) << args[0];
  }
}

TEST(ServerCommandLineTest, HelpGoesToStdoutAndExitsZero) {
  ServerProcess server({"--help"});
  const auto first = server.nextLine(10s);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->rfind("Aufruf: korvaden-server", 0), 0u) << *first;
  EXPECT_EQ(server.waitForExit(testsupport::Patience), 0);
}

TEST(ServerCommandLineTest, BusyPortIsReportedAsError) {
  ServerProcess first({"--bind", "127.0.0.1", "--port", "0"});
  const auto line = first.nextLine(10s);
  ASSERT_TRUE(line);
  const std::string port = line->substr(line->rfind(':') + 1);

  ServerProcess second({"--bind", "127.0.0.1", "--port", port}, true);
  EXPECT_EQ(second.waitForExit(testsupport::Patience), 1);
  EXPECT_NE(second.stderrText().find("Bind"), std::string::npos);

  first.sendSignal(SIGTERM);
  EXPECT_EQ(first.waitForExit(testsupport::Patience), 0);
}

}  // namespace
}  // namespace servertest
