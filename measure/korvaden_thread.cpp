#include "measure/korvaden_thread.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include "base/stream_protocol.h"
#include "measure/counter_publisher.h"
#include "measure/measurement_counters.h"
#include "measure/state_samples.h"
#include "net/client_socket.h"

namespace {
// How often a reading also goes to the run's details: enough for a median per second. The total is
// read every TCounterPublisher::TotalIntervalMs; a reading costs a microsecond.
constexpr std::uint32_t SampleIntervalMs = 100;
// How long a sender facing a full send buffer sleeps at most before it looks at its stop flag and
// reads the total again.
constexpr int FullBufferWaitMs = TCounterPublisher::TotalIntervalMs;
constexpr int ReceiveBufferSize = 1 << 20;
// A download in which nothing arrived for this long after the connect: the server does not send.
constexpr std::uint32_t SilenceLimitMs = 12000;
}  // namespace

void TBlockUnmap::operator()(char* block) const { ::munmap(block, size); }

TBlockBuffer AllocateBlockBuffer(std::int32_t blockSize) {
  if (blockSize < 1) return nullptr;
  const auto size = static_cast<std::size_t>(blockSize);
  // Anonymous pages read as zeros until written; send() only reads them.
  void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) return nullptr;
  TBlockBuffer buffer(static_cast<char*>(pages), TBlockUnmap{size});
  WriteMarker(buffer.get(), size);
  return buffer;
}

TAcknowledgedTotal::TAcknowledgedTotal(TCustomWinSocket& socket, TStateSamples& samples)
    : FSocket(socket), FSamples(samples) {
  TConnectionState state;
  if (FSocket.ReadConnectionState(state) && state.BytesAcked) {
    FKnown = true;
    FAtStart = *state.BytesAcked;
    FSamples.Add({0, state});
  }
}

std::uint64_t TAcknowledgedTotal::Read(std::uint64_t acceptedTotal, std::uint32_t elapsedMs) {
  if (!FKnown) return FLast = acceptedTotal;
  // After the connection closed the kernel has nothing more to tell: the last count stands.
  if (TConnectionState state; FSocket.ReadConnectionState(state) && state.BytesAcked) {
    FLast = std::max(FLast, *state.BytesAcked - FAtStart);
    if (elapsedMs - FLastSampleMs >= SampleIntervalMs) {
      FSamples.Add({elapsedMs, state});
      FLastSampleMs = elapsedMs;
    }
  }
  return FLast;
}

namespace {
// When the server runs on this computer it may be queued behind the sender on the same processor.
// Yielding the processor then lets it take the data while the data is still in the cache, which
// more than pays for the system call at large blocks (a yield per 128 KiB block raised the rate by
// up to a third on a busy machine). But a yield that finds nothing else to run only costs: a
// twentieth of a 128 KiB block's send, more than half of a 1 KiB block's. So the sender yields at
// most once per YieldIntervalBytes, and after a few yields in a row that came back at once it
// stops yielding until the pause is over.
class TYieldPacer {
 public:
  // Before a send; accepted: the bytes the socket accepted so far.
  void Pass(std::uint64_t accepted, const TCustomWinSocket& socket) {
    if (accepted < FNextYield) {
      socket.YieldToWaiters();  // the window waiting for the connection lock goes first
      return;
    }
    FNextYield = accepted + YieldIntervalBytes;
    const auto start = Clock::now();
    if (start < FPausedUntil) {
      socket.YieldToWaiters();
      return;
    }
    std::this_thread::yield();
    if (Clock::now() - start >= SomethingRan) {
      FIdleYields = 0;
    } else if (++FIdleYields >= IdleYieldLimit) {
      FIdleYields = 0;
      FPausedUntil = start + Pause;
    }
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::uint64_t YieldIntervalBytes = 128 * 1024;
  // Longer than a bare system call, shorter than a switch to the server, its read and back.
  static constexpr auto SomethingRan = std::chrono::microseconds(15);
  static constexpr int IdleYieldLimit = 4;
  static constexpr auto Pause = std::chrono::milliseconds(10);

  std::uint64_t FNextYield = 0;
  int FIdleYields = 0;
  Clock::time_point FPausedUntil{};
};

// One call into the socket; a failure it raises is a broken connection, and gives nothing.
template <typename Call>
std::optional<int> UnlessBroken(Call call) {
  try {
    return call();
  } catch (const ESocketError&) {
    Counters.ConnectionLost = true;
    return std::nullopt;
  }
}

// Moves the stream's last bytes on by size bytes just read; fewer than last holds keep some of it.
void KeepLast(std::array<char, DownloadEndSize>& last, const char* data, std::size_t size) {
  if (size >= last.size()) {
    std::memcpy(last.data(), data + size - last.size(), last.size());
  } else {
    std::memmove(last.data(), last.data() + size, last.size() - size);
    std::memcpy(last.data() + last.size() - size, data, size);
  }
}
}  // namespace

void TKorvadenThread::SendLoop() {
  const std::int32_t blockSize = Counters.BlockSize.load();
  FRunBlockSize = blockSize;
  const TBlockBuffer buffer = AllocateBlockBuffer(blockSize);
  if (!buffer) {
    FBufferFailed = true;
    return;
  }
  TCounterPublisher publisher(static_cast<std::uint32_t>(blockSize));
  std::uint64_t accepted = 0;
  TAcknowledgedTotal acknowledged(*FSocket.Socket(), FSamples);
  TYieldPacer pacer;
  while (!Terminated() && FSocket.Active()) {
    pacer.Pass(accepted, *FSocket.Socket());
    const std::optional<int> result =
        UnlessBroken([&] { return FSocket.Socket()->SendBytes(buffer.get(), blockSize); });
    if (!result) break;
    const int sent = *result;
    if (sent > 0) accepted += static_cast<std::uint64_t>(sent);
    // A full send buffer: sleep until it takes more rather than spin, which would also keep the
    // connection lock from the window's notifications.
    if (sent < 0) FSocket.Socket()->WaitUntilWritable(FullBufferWaitMs);
    publisher.Pass(accepted, [&](std::uint32_t elapsedMs) { return acknowledged.Read(accepted, elapsedMs); });
  }
}

bool TKorvadenThread::SendRequest(std::int32_t blockSize) {
  const auto request = EncodeDownloadRequest(static_cast<std::uint32_t>(blockSize));
  std::size_t sent = 0;
  while (sent < request.size() && !Terminated() && FSocket.Active()) {
    const std::optional<int> count = UnlessBroken(
        [&] { return FSocket.Socket()->SendBytes(request.data() + sent, static_cast<int>(request.size() - sent)); });
    if (!count) return false;
    if (*count > 0) sent += static_cast<std::size_t>(*count);
    if (*count < 0) FSocket.Socket()->WaitUntilWritable(FullBufferWaitMs);
  }
  return sent == request.size();
}

void TKorvadenThread::ReceiveLoop() {
  const std::int32_t blockSize = Counters.BlockSize.load();
  FRunBlockSize = blockSize;
  if (!SendRequest(blockSize)) return;
  // One read takes what the kernel holds, up to this much: at 10 Gbit/s about a millisecond's worth,
  // whatever the block size.
  std::vector<char> buffer(ReceiveBufferSize);
  TCounterPublisher publisher(ReceiveBufferSize);
  TStateRecordFinder records(static_cast<std::uint32_t>(blockSize));
  std::uint64_t received = 0;
  std::array<char, DownloadEndSize> last{};  // the stream's last bytes, for its end word
  while (!Terminated() && FSocket.Active()) {
    const std::optional<int> result =
        UnlessBroken([&] { return FSocket.Socket()->ReceiveBytes(buffer.data(), ReceiveBufferSize); });
    if (!result) break;
    const int count = *result;
    if (count > 0) {
      received += static_cast<std::uint64_t>(count);
      // The server's view of the connection, placed on our clock when it arrived.
      records.Feed(buffer.data(), static_cast<std::size_t>(count), [&](std::uint32_t, const TConnectionState& state) {
        FSamples.Add({publisher.ElapsedMs(), state});
      });
      KeepLast(last, buffer.data(), static_cast<std::size_t>(count));
    } else if (count < 0) {
      FSocket.Socket()->WaitUntilReadable(TCounterPublisher::TotalIntervalMs);
    }
    publisher.Pass(received, [&](std::uint32_t) { return received; });
    // The server ended its sending: what it sent is all there is.
    if (count == 0) break;
    if (received == 0 && publisher.ElapsedMs() >= SilenceLimitMs) break;
  }
  // A server that sent nothing, closed or silent, is no broken connection but a server that does
  // not send; a Stop is neither. A server that ends a download on purpose says so last: a stream
  // that just stops is what a killed server's kernel leaves, and that is a break.
  if (!Terminated() && !Counters.ConnectionLost) {
    if (received == 0) {
      FSentNothing = true;
    } else if (!IsDownloadEnd(last.data(), received)) {
      Counters.ConnectionLost = true;
    }
  }
  // The end of our data tells the server the download is over, before the connection closes.
  FSocket.Socket()->ShutdownSending();
}
