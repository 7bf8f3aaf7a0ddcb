#include "korvaden_thread.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <thread>

#include "client_socket.h"
#include "measurement_counters.h"
#include "tick_clock.h"

namespace {
constexpr char Marker[] = "KORVADENdata";
constexpr std::uint32_t WindowLengthMs = 500;
// How long a sender facing a full send buffer sleeps at most before it looks at its stop flag.
constexpr int FullBufferWaitMs = 20;
}  // namespace

std::unique_ptr<char[]> AllocateBlockBuffer(std::int32_t blockSize) {
  if (blockSize < 1) return nullptr;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[static_cast<std::size_t>(blockSize)]());
  if (!buffer) return nullptr;
  const std::size_t markerLength =
      std::min<std::size_t>(static_cast<std::size_t>(blockSize) - 1, sizeof Marker - 1);
  std::memcpy(buffer.get(), Marker, markerLength);  // the zero after it is already there
  return buffer;
}

TAcknowledgedWindow::TAcknowledgedWindow(TCustomWinSocket& socket) : FSocket(socket) {
  FKnown = FSocket.AcknowledgedBytes(FAtWindowStart);
}

std::uint32_t TAcknowledgedWindow::Close(std::uint32_t acceptedBytes) {
  std::uint64_t now = 0;
  const bool known = FSocket.AcknowledgedBytes(now);
  std::uint32_t bytes = acceptedBytes;
  if (known && FKnown) {
    bytes = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(now - FAtWindowStart, std::numeric_limits<std::uint32_t>::max()));
  }
  FKnown = known;
  FAtWindowStart = now;
  return bytes;
}

void TKorvadenThread::SendLoop() {
  const std::int32_t blockSize = Counters.BlockSize.load();
  FRunBlockSize = blockSize;
  const std::unique_ptr<char[]> buffer = AllocateBlockBuffer(blockSize);
  if (!buffer) {
    FBufferFailed = true;
    return;
  }
  Counters.WindowBytes = 0;
  Counters.ElapsedMs = 1;
  Counters.WindowMs = 1;
  const std::uint32_t runStart = GetTickCount();
  std::uint32_t windowStart = runStart;
  std::uint32_t windowSum = 0;
  TAcknowledgedWindow acknowledged(*FSocket.Socket());
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
    if (sent > 0) windowSum += static_cast<std::uint32_t>(sent);
    // A full send buffer: sleep until it takes more rather than spin, which would also keep the
    // connection lock from the window's notifications.
    if (sent < 0) FSocket.Socket()->WaitUntilWritable(FullBufferWaitMs);
    // A tick that finds the worker updating adds no point. So the clock is read before the update
    // begins, and a pass that would only store the elapsed time it stored before (passes take
    // microseconds, the clock counts milliseconds) updates nothing: the update is a few stores about
    // a thousand times a second, and a tick almost never meets one.
    const std::uint32_t now = GetTickCount();
    const bool windowClosed = now - windowStart > WindowLengthMs || windowSum > fullWindow;
    if (now - runStart == publishedElapsed && !windowClosed) continue;
    const std::uint32_t windowBytes = windowClosed ? acknowledged.Close(windowSum) : 0;
    Counters.BeginUpdate();
    publishedElapsed = now - runStart;
    Counters.ElapsedMs = publishedElapsed;
    if (windowClosed) {
      Counters.WindowBytes = windowBytes;
      Counters.WindowMs = GetTickCount() - windowStart;
      windowStart = GetTickCount();
      windowSum = 0;
    }
    Counters.EndUpdate();
  }
}
