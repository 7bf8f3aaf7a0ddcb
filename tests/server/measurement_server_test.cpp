// MeasurementServer run on a thread of the test itself, which also shows that stopping it
// from another thread is race-free.

#include "server/measurement_server.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/server/tcp_client.h"
#include "tests/support/patience.h"

namespace servertest {
namespace {

using namespace std::chrono_literals;

class LineCollector {
 public:
  void add(std::string_view line) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
    changed_.notify_all();
  }

  // The first collected line starting with prefix, or an empty string after the timeout.
  std::string waitForPrefix(const std::string& prefix, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    std::string found;
    changed_.wait_for(lock, timeout, [&] {
      for (const auto& line : lines_) {
        if (line.starts_with(prefix)) {
          found = line;
          return true;
        }
      }
      return false;
    });
    return found;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
};

TEST(MeasurementServerTest, RunsInProcessAndStopsOnRequest) {
  LineCollector lines;
  korvaden::MeasurementServer server([&](std::string_view line) { lines.add(line); });
  std::string error;
  ASSERT_TRUE(server.Listen("127.0.0.1", 0, error)) << error;
  EXPECT_EQ(server.BoundAddress(), "127.0.0.1");
  ASSERT_NE(server.Port(), 0);

  std::thread loop([&] { server.Run(); });
  {
    TcpClient client(server.Port());
    client.send(200'000);
  }
  const std::string summary = lines.waitForPrefix("[Verbindung 1] beendet: ", testsupport::Patience);
  EXPECT_EQ(summary.rfind("[Verbindung 1] beendet: 200000 Bytes in ", 0), 0u) << summary;
  EXPECT_TRUE(summary.ends_with(" MiB/s (geschlossen)")) << summary;

  TcpClient stillOpen(server.Port());
  stillOpen.send(1000);
  // Its first report proves the server has accepted it; queued connections do not count.
  EXPECT_NE(lines.waitForPrefix("[Verbindung 2 von ", testsupport::Patience), "");
  server.RequestStop();
  loop.join();
  const std::string stopped = lines.waitForPrefix("[Verbindung 2] beendet: 1000 Bytes in ", 0ms);
  EXPECT_TRUE(stopped.ends_with(" MiB/s (Server beendet)")) << stopped;
}

TEST(MeasurementServerTest, ListenRejectsAnAddressInUse) {
  korvaden::MeasurementServer first([](std::string_view) {});
  korvaden::MeasurementServer second([](std::string_view) {});
  std::string error;
  ASSERT_TRUE(first.Listen("127.0.0.1", 0, error)) << error;
  EXPECT_FALSE(second.Listen("127.0.0.1", first.Port(), error));
  EXPECT_NE(error, "");
}

}  // namespace
}  // namespace servertest
