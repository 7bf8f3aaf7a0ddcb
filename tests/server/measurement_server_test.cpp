// MeasurementServer run on a thread of the test itself, which also shows that stopping it
// from another thread is race-free.

#include "server/measurement_server.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/stream_protocol.h"
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

// Blocks of the requested size from the first byte on, each headed by the marker, the sender's state
// in some; counted as sent. A block of 2 GiB - 1 comes as its head and zeros.
TEST(MeasurementServerTest, DownloadSendsMarkedBlocksWithStateRecords) {
  LineCollector lines;
  korvaden::MeasurementServer server([&](std::string_view line) { lines.add(line); });
  std::string error;
  ASSERT_TRUE(server.Listen("127.0.0.1", 0, error)) << error;
  std::thread loop([&] { server.Run(); });

  constexpr std::size_t kBlock = 1000;  // no divisor of any buffer size
  std::vector<char> received(3000 * kBlock);
  {
    TcpClient client(server.Port());
    const auto request = EncodeDownloadRequest(kBlock);
    client.send(request.data(), request.size());
    EXPECT_EQ(client.receive(received.data(), received.size(), testsupport::PatienceMs), received.size());
  }
  std::vector<char> plain(kBlock);
  WriteMarker(plain.data(), kBlock);
  int records = 0;
  for (std::size_t at = 0; at < received.size(); at += kBlock) {
    std::uint32_t ms = 0;
    TConnectionState state;
    if (ReadStateRecord(received.data() + at, ms, state)) {
      ++records;
      EXPECT_TRUE(state.SndMss) << at;
      EXPECT_LT(ms, static_cast<std::uint32_t>(testsupport::PatienceMs)) << at;
      ClearStateRecord(received.data() + at);
    }
    if (std::memcmp(received.data() + at, plain.data(), kBlock) != 0) {
      ADD_FAILURE() << "block at " << at;
      break;
    }
  }
  EXPECT_GE(records, 1);
  const std::string summary = lines.waitForPrefix("[Verbindung 1] beendet: ", testsupport::Patience);
  const auto bytes = summary.substr(summary.find(": ") + 2);
  EXPECT_GE(std::stoull(bytes), received.size()) << summary;
  EXPECT_NE(bytes.find(" Bytes gesendet in "), std::string::npos) << summary;

  std::vector<char> huge(600 * 1024, 'x');
  {
    TcpClient client(server.Port());
    const auto request = EncodeDownloadRequest(0x7FFFFFFF);
    client.send(request.data(), request.size());
    EXPECT_EQ(client.receive(huge.data(), huge.size(), testsupport::PatienceMs), huge.size());
  }
  std::uint32_t ms = 0;
  TConnectionState state;
  EXPECT_EQ(std::memcmp(huge.data(), "KORVADENdata\0\0\0\0STAT", 20), 0);
  EXPECT_TRUE(ReadStateRecord(huge.data(), ms, state));
  EXPECT_TRUE(std::all_of(huge.begin() + StateRecordEnd, huge.end(), [](char c) { return c == 0; }));
  server.RequestStop();
  loop.join();
}

// With downloads refused a request ends in an orderly close and a report; uploads, even in blocks
// that look like the request's start for eight bytes, are counted as always.
TEST(MeasurementServerTest, RefusedDownloadClosesAtOnceWhileUploadsGoOn) {
  LineCollector lines;
  korvaden::MeasurementServer server([&](std::string_view line) { lines.add(line); });
  korvaden::ServerLimits limits;
  limits.refuseDownloads = true;
  server.SetLimits(limits);
  std::string error;
  ASSERT_TRUE(server.Listen("127.0.0.1", 0, error)) << error;
  std::thread loop([&] { server.Run(); });

  TcpClient download(server.Port());
  const auto request = EncodeDownloadRequest(1024);
  download.send(request.data(), request.size());
  EXPECT_EQ(download.waitForEnd(testsupport::PatienceMs), 0);
  EXPECT_EQ(lines.waitForPrefix("[Verbindung 1 von ", testsupport::Patience),
            "[Verbindung 1 von " + download.localEndpoint() + "] abgewiesen: Download abgeschaltet");

  {
    TcpClient upload(server.Port());
    std::vector<char> blocks(100 * 9);
    for (std::size_t at = 0; at < blocks.size(); at += 9) WriteMarker(blocks.data() + at, 9);
    upload.send(blocks.data(), 8);
    // By its first report, a second on, the server has long read the eight bytes that cannot tell yet.
    EXPECT_NE(lines.waitForPrefix("[Verbindung 2 von ", testsupport::Patience), "");
    upload.send(blocks.data() + 8, blocks.size() - 8);
  }
  const std::string summary = lines.waitForPrefix("[Verbindung 2] beendet: ", testsupport::Patience);
  EXPECT_EQ(summary.rfind("[Verbindung 2] beendet: 900 Bytes in ", 0), 0u) << summary;
  server.RequestStop();
  loop.join();
}

// A probe is answered at once and again on the same connection, a request cut in two as well, also
// with downloads refused; it prints nothing, and --once waits for a measured connection.
TEST(MeasurementServerTest, ProbeIsAnsweredOnEachRequestWithoutALine) {
  LineCollector lines;
  korvaden::MeasurementServer server([&](std::string_view line) { lines.add(line); });
  korvaden::ServerLimits limits;
  limits.refuseDownloads = true;
  limits.once = true;
  server.SetLimits(limits);
  std::string error;
  ASSERT_TRUE(server.Listen("127.0.0.1", 0, error)) << error;
  std::thread loop([&] { server.Run(); });
  {
    TcpClient probe(server.Port());
    for (const std::uint32_t token : {7u, 0xDEADBEEFu}) {
      const auto request = EncodeProbeRequest(token);
      probe.send(request.data(), 5);
      probe.send(request.data() + 5, request.size() - 5);
      std::array<char, ProbeMessageSize> answer{};
      EXPECT_EQ(probe.receive(answer.data(), answer.size(), testsupport::PatienceMs), answer.size());
      std::uint32_t echoed = 0;
      EXPECT_TRUE(ParseProbeAnswer(answer.data(), answer.size(), echoed));
      EXPECT_EQ(echoed, token);
    }
  }
  TcpClient(server.Port()).send(1000);
  EXPECT_NE(lines.waitForPrefix("[Verbindung 2] beendet: 1000 Bytes in ", testsupport::Patience), "");
  loop.join();  // --once ended it after the upload
  EXPECT_EQ(lines.waitForPrefix("[Verbindung 1", 0ms), "");
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
