// The sender worker against a real server on 127.0.0.1.

#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <limits>
#include <thread>

#include "base/tick_clock.h"
#include "measure/korvaden_thread.h"
#include "measure/measurement_counters.h"
#include "measure/state_samples.h"
#include "net/client_socket.h"
#include "tests/support/loopback_server.h"
#include "tests/support/loopback_socket.h"
#include "tests/support/patience.h"

using testsupport::LoopbackServer;
using testsupport::ServerMode;

namespace {
struct TRunRecord {
  std::atomic<bool> ended{false};
  std::atomic<bool> endedOnMainThread{false};
  std::atomic<bool> freed{false};
};

// The run's samples, which the worker fills and these tests do not read.
TStateSamples RunSamples;

class TObservedThread : public TKorvadenThread {
 public:
  TObservedThread(TClientSocket& socket, TRunRecord& record) : TKorvadenThread(socket, RunSamples), FRecord(record) {
    const auto mainThread = std::this_thread::get_id();
    OnTerminate = [this, mainThread] {
      FRecord.endedOnMainThread = std::this_thread::get_id() == mainThread;
      FRecord.ended = true;
    };
    FreeOnTerminate = true;
  }
  ~TObservedThread() override { FRecord.freed = true; }

 private:
  TRunRecord& FRecord;
};

class SenderWorker : public ::testing::Test {
 protected:
  void Connect(LoopbackServer& server) {
    socket.SetHost("127.0.0.1");
    socket.SetPort(server.port());
    socket.SetActive(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return socket.Active(); }, testsupport::PatienceMs));
  }
  TObservedThread* StartWorker(std::int32_t blockSize, const std::function<void(TObservedThread*)>& prepare = nullptr) {
    Counters.BlockSize = blockSize;
    auto* worker = new TObservedThread(socket, record);
    if (prepare) prepare(worker);
    worker->Start();
    return worker;
  }
  void TearDown() override {
    SetTickSource(nullptr);
    Counters.BlockSize = 1024;
  }

  TClientSocket socket;
  TRunRecord record;
};

// The expected block: zeros with as much of the marker as fits before one terminating zero.
std::vector<std::uint8_t> ExpectedBlock(std::size_t size) {
  std::vector<std::uint8_t> block(size, 0);
  const char marker[] = "KORVADENdata";
  std::memcpy(block.data(), marker, std::min<std::size_t>(size - 1, 12));
  return block;
}

// A stream of block prefixes: every byte matches the block at its offset, and a mismatch can only
// be the start of a new block after a partly accepted one.
::testing::AssertionResult IsStreamOfBlocks(const std::vector<std::uint8_t>& stream,
                                            const std::vector<std::uint8_t>& block) {
  std::size_t offset = 0;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    if (offset == block.size()) offset = 0;
    if (stream[i] != block[offset]) {
      if (offset == 0 || stream[i] != block[0]) {
        return ::testing::AssertionFailure() << "byte " << i << " is " << int(stream[i]);
      }
      offset = 0;
    }
    ++offset;
  }
  return ::testing::AssertionSuccess();
}
}  // namespace

TEST(BlockBuffer, HoldsTheMarkerAsFarAsItFits) {
  EXPECT_EQ(AllocateBlockBuffer(0), nullptr);
  EXPECT_EQ(AllocateBlockBuffer(-1024), nullptr);
  for (int size : {1, 2, 12, 13, 1024}) {
    const auto buffer = AllocateBlockBuffer(size);
    ASSERT_NE(buffer, nullptr);
    const auto expected = ExpectedBlock(static_cast<std::size_t>(size));
    EXPECT_EQ(std::memcmp(buffer.get(), expected.data(), expected.size()), 0) << size;
  }
  EXPECT_EQ(std::memcmp(AllocateBlockBuffer(13).get(), "KORVADENdata\0", 13), 0);
}

namespace {
std::size_t ResidentBytes() {
  std::size_t pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}
}  // namespace

// The largest block the program accepts costs only what it touches: it sends at once, and the
// process does not grow by the block's two gigabytes.
TEST_F(SenderWorker, TheLargestBlockSendsAtOnceWithoutTakingItsSizeInMemory) {
  LoopbackServer server(ServerMode::Record);
  Connect(server);
  const std::size_t before = ResidentBytes();
  TObservedThread* worker = StartWorker(std::numeric_limits<std::int32_t>::max());
  ASSERT_TRUE(server.waitForBytes(4 * 1024 * 1024, testsupport::Patience));
  EXPECT_LT(ResidentBytes(), before + 256 * 1024 * 1024);
  worker->Terminate();
  worker->WaitFor();
}

TEST_F(SenderWorker, PutsMarkerHeadedBlocksOnTheWire) {
  for (int size : {1, 12, 13, 1024}) {
    SCOPED_TRACE(size);
    LoopbackServer server(ServerMode::Record, 64 * 1024);
    Connect(server);
    record.freed = false;
    TObservedThread* worker = StartWorker(size);
    ASSERT_TRUE(server.waitForBytes(64 * 1024, testsupport::Patience));
    worker->Terminate();
    ASSERT_TRUE(QTest::qWaitFor([&] { return record.freed.load(); }, testsupport::PatienceMs));
    const auto stream = server.recorded();
    ASSERT_GE(stream.size(), 64U * 1024U);
    EXPECT_EQ(std::vector<std::uint8_t>(stream.begin(), stream.begin() + size), ExpectedBlock(size));
    EXPECT_TRUE(IsStreamOfBlocks(stream, ExpectedBlock(static_cast<std::size_t>(size))));
    socket.SetActive(false);
  }
}

TEST_F(SenderWorker, EndsOnTerminateWithTheEndOfRunOnTheMainThreadAndFreesItself) {
  LoopbackServer server(ServerMode::Record);
  Connect(server);
  TObservedThread* worker = StartWorker(1024);
  ASSERT_TRUE(server.waitForBytes(1024, testsupport::Patience));
  worker->Terminate();
  ASSERT_TRUE(QTest::qWaitFor([&] { return record.freed.load(); }, testsupport::PatienceMs));
  EXPECT_TRUE(record.ended);
  EXPECT_TRUE(record.endedOnMainThread);
  EXPECT_TRUE(socket.Active());  // terminating leaves the connection to its owner
}

TEST_F(SenderWorker, WaitingForTheWorkerServesItsEndOfRunCall) {
  LoopbackServer server(ServerMode::NeverRead);  // sends would block: the worker spins on them
  Connect(server);
  TObservedThread* worker = StartWorker(1024);
  QTest::qSleep(50);
  worker->Terminate();
  worker->WaitFor();  // no event loop runs here: the wait itself must run the end-of-run call
  EXPECT_TRUE(record.ended);
  EXPECT_TRUE(record.endedOnMainThread);
  EXPECT_TRUE(record.freed);
}

TEST_F(SenderWorker, EndsWhenThePeerClosesAndWhenTheConnectionIsReset) {
  {
    LoopbackServer server(ServerMode::Record);
    Connect(server);
    Counters.ConnectionLost = false;
    StartWorker(1024);
    ASSERT_TRUE(server.waitForBytes(4096, testsupport::Patience));
    server.closeAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return record.freed.load(); }, testsupport::PatienceMs));
    EXPECT_FALSE(socket.Active());
  }
  {
    record.freed = false;
    LoopbackServer server(ServerMode::Record);
    Connect(server);
    socket.OnError = [](QObject*, TCustomWinSocket*, TErrorEvent, int& code) {
      Counters.ConnectionLost = true;
      code = 0;
    };
    StartWorker(1024);
    ASSERT_TRUE(server.waitForBytes(4096, testsupport::Patience));
    server.resetAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return record.freed.load(); }, testsupport::PatienceMs));
    EXPECT_FALSE(socket.Active());
    EXPECT_TRUE(Counters.ConnectionLost);
  }
}

TEST_F(SenderWorker, ARaisedSendFailureSetsConnectionLostAndEndsTheRun) {
  LoopbackServer server(ServerMode::Record);
  Connect(server);  // no error handler: the failing send raises
  Counters.ConnectionLost = false;
  TObservedThread* worker = StartWorker(1024);
  ASSERT_TRUE(server.waitForBytes(4096, testsupport::Patience));
  server.resetAll();
  worker->WaitFor();
  EXPECT_TRUE(Counters.ConnectionLost);
  EXPECT_FALSE(socket.Active());
}

TEST_F(SenderWorker, BlockSizeBelowOneEndsTheRunWithoutSending) {
  LoopbackServer server(ServerMode::Record);
  Connect(server);
  bool failed = false;
  TObservedThread* worker = StartWorker(0, [&](TObservedThread* prepared) {
    prepared->OnTerminate = [&, prepared] { failed = prepared->BufferFailed(); };
  });
  worker->WaitFor();
  EXPECT_TRUE(failed);
  EXPECT_EQ(server.bytesReceived(), 0U);
}

TEST_F(SenderWorker, WindowsCloseOnlyAfterMoreThan500MillisecondsAcrossTheClockWrap) {
  std::atomic<std::uint32_t> now{0xFFFFFF00U};  // 256 ms before the 32-bit clock wraps
  SetTickSource([&] { return now.load(); });
  LoopbackServer server(ServerMode::Record);
  Connect(server);
  TObservedThread* worker = StartWorker(1024);
  ASSERT_TRUE(server.waitForBytes(1024, testsupport::Patience));
  EXPECT_EQ(Counters.WindowBytes, 0U);  // nothing published before the first window closes
  EXPECT_EQ(Counters.WindowMs, 1U);

  now = 0xFFFFFF00U + 500;  // exactly 500 ms: the window stays open
  ASSERT_TRUE(QTest::qWaitFor([&] { return Counters.ElapsedMs == 500; }, testsupport::PatienceMs));
  QTest::qWait(50);
  EXPECT_EQ(Counters.WindowMs, 1U);

  now = 0xFFFFFF00U + 501;
  ASSERT_TRUE(QTest::qWaitFor([&] { return Counters.WindowMs == 501; }, testsupport::PatienceMs));
  TCounterSnapshot snapshot;
  ASSERT_TRUE(QTest::qWaitFor([&] { return Counters.TrySnapshot(snapshot); }, testsupport::PatienceMs));
  EXPECT_EQ(snapshot.WindowMs, 501U);
  EXPECT_GT(snapshot.WindowBytes, 0U);
  EXPECT_EQ(snapshot.ElapsedMs, 501U);
  worker->Terminate();
  worker->WaitFor();
}

// Against a peer that never reads, the send buffer fills with data that never reaches it: a
// window counts only what arrived (all of it waits unread in the peer's receive queue).
TEST_F(SenderWorker, AWindowCountsWhatReachedThePeerNotWhatFilledTheSendBuffer) {
  std::atomic<std::uint32_t> now{1000};
  SetTickSource([&] { return now.load(); });
  std::uint16_t port = 0;
  const int listener = testsupport::detail::openLoopbackListener(1, port);
  socket.SetHost("127.0.0.1");
  socket.SetPort(port);
  socket.SetActive(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return socket.Active(); }, testsupport::PatienceMs));
  int peer = -1;
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return (peer = ::accept(listener, nullptr, nullptr)) >= 0; }, testsupport::PatienceMs));
  TObservedThread* worker = StartWorker(1024);
  // Wait until the connection is stuck: the peer's queue no longer grows.
  int queued = -1, before = -2;
  while (queued != before) {
    before = queued;
    QTest::qWait(100);
    ASSERT_EQ(::ioctl(peer, FIONREAD, &queued), 0);
  }
  int unsent = 0;
  ASSERT_EQ(::ioctl(socket.Socket()->SocketHandle(), SIOCOUTQ, &unsent), 0);
  EXPECT_GT(unsent, 0);  // accepted, but still in our send buffer
  now = 1501;
  ASSERT_TRUE(QTest::qWaitFor([&] { return Counters.WindowMs == 501; }, testsupport::PatienceMs));
  EXPECT_EQ(Counters.WindowBytes, static_cast<std::uint32_t>(queued));
  worker->Terminate();
  worker->WaitFor();
  ::close(peer);
  ::close(listener);
}
