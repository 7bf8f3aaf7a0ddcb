#include "measure/korvaden_thread.h"

#include <sys/mman.h>

#include <algorithm>
#include <limits>
#include <thread>

#include "base/stream_protocol.h"
#include "base/tick_clock.h"
#include "measure/measurement_counters.h"
#include "measure/state_samples.h"
#include "net/client_socket.h"

namespace {
constexpr std::uint32_t WindowLengthMs = 500;
// How often the acknowledged total is read: a point's interval ends at most about this long before
// the tick that draws it. A reading costs a microsecond; a hundred a second cost nothing.
constexpr std::uint32_t TotalIntervalMs = 10;
// How often a reading also goes to the run's details: enough for a median per second.
constexpr std::uint32_t SampleIntervalMs = 100;
// How long a sender facing a full send buffer sleeps at most before it looks at its stop flag and
// reads the total again.
constexpr int FullBufferWaitMs = TotalIntervalMs;
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

void TKorvadenThread::SendLoop() {
  const std::int32_t blockSize = Counters.BlockSize.load();
  FRunBlockSize = blockSize;
  const TBlockBuffer buffer = AllocateBlockBuffer(blockSize);
  if (!buffer) {
    FBufferFailed = true;
    return;
  }
  Counters.BeginUpdate();
  Counters.WindowBytes = 0;
  Counters.ElapsedMs = 1;
  Counters.WindowMs = 1;
  Counters.TotalBytes = 0;
  Counters.TotalMs = 0;
  const std::uint32_t runStart = GetTickCount();
  Counters.RunStartTick = runStart;
  Counters.EndUpdate();
  std::uint32_t windowStart = runStart;
  std::uint32_t totalRead = runStart;
  std::uint64_t accepted = 0;
  std::uint64_t acceptedAtWindowStart = 0;
  std::uint64_t total = 0;
  std::uint64_t totalAtWindowStart = 0;
  TAcknowledgedTotal acknowledged(*FSocket.Socket(), FSamples);
  std::uint32_t publishedElapsed = 1;
  // A window normally closes after 500 ms; it closes early rather than let its 32-bit byte count
  // wrap on a very fast link, which would show a plainly wrong rate.
  const std::uint32_t fullWindow = std::numeric_limits<std::uint32_t>::max() - static_cast<std::uint32_t>(blockSize);

  while (!Terminated() && FSocket.Active()) {
    std::this_thread::yield();
    int sent;
    try {
      sent = FSocket.Socket()->SendBytes(buffer.get(), blockSize);
    } catch (const ESocketError&) {
      Counters.ConnectionLost = true;
      break;
    }
    if (sent > 0) accepted += static_cast<std::uint64_t>(sent);
    // A full send buffer: sleep until it takes more rather than spin, which would also keep the
    // connection lock from the window's notifications.
    if (sent < 0) FSocket.Socket()->WaitUntilWritable(FullBufferWaitMs);
    // A tick that finds the worker updating adds no point. So the clock is read before the update
    // begins, and a pass that would only store the elapsed time it stored before (passes take
    // microseconds, the clock counts milliseconds) updates nothing: the update is a few stores about
    // a thousand times a second, and a tick almost never meets one.
    const std::uint32_t now = GetTickCount();
    const bool windowClosed = now - windowStart > WindowLengthMs || accepted - acceptedAtWindowStart > fullWindow;
    const bool totalDue = now - totalRead >= TotalIntervalMs;
    if (now - runStart == publishedElapsed && !windowClosed && !totalDue) continue;
    if (windowClosed || totalDue) {
      total = acknowledged.Read(accepted, now - runStart);
      totalRead = now;
    }
    Counters.BeginUpdate();
    publishedElapsed = now - runStart;
    Counters.ElapsedMs = publishedElapsed;
    if (windowClosed || totalDue) {
      Counters.TotalBytes = total;
      Counters.TotalMs = publishedElapsed;
    }
    if (windowClosed) {
      Counters.WindowBytes = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(total - totalAtWindowStart, std::numeric_limits<std::uint32_t>::max()));
      Counters.WindowMs = GetTickCount() - windowStart;
      windowStart = GetTickCount();
      acceptedAtWindowStart = accepted;
      totalAtWindowStart = total;
    }
    Counters.EndUpdate();
  }
}
