#pragma once
// The sender worker: pushes marker-headed blocks into the connected socket as fast as it takes
// them and publishes, about twice a second, the bytes and milliseconds of the last window.

#include <atomic>
#include <cstdint>
#include <memory>

#include "thread.h"

class TClientSocket;
class TCustomWinSocket;

// Zero-filled block that starts with as much of the marker as fits before a terminating zero;
// null when blockSize is below 1 or the memory cannot be had.
std::unique_ptr<char[]> AllocateBlockBuffer(std::int32_t blockSize);

// The bytes a window publishes: what the peer acknowledged during it. What the socket accepted only
// tells what went into the kernel's send buffer, which first fills (the first windows would count
// megabytes that never left) and then takes data in chunks of about 64 KiB (each window would
// catch one, two or three). The accepted bytes stand in where the kernel gives no such counter.
// The counter is read once per window, never per send.
class TAcknowledgedWindow {
 public:
  explicit TAcknowledgedWindow(TCustomWinSocket& socket);
  // Ends the current window and starts the next.
  std::uint32_t Close(std::uint32_t acceptedBytes);

 private:
  TCustomWinSocket& FSocket;
  std::uint64_t FAtWindowStart = 0;
  bool FKnown = false;
};

class TKorvadenThread : public TThread {
 public:
  explicit TKorvadenThread(TClientSocket& socket) : FSocket(socket) {}

  // True when the run ended because its block buffer could not be allocated.
  bool BufferFailed() const { return FBufferFailed.load(); }
  std::int32_t RunBlockSize() const { return FRunBlockSize.load(); }

 protected:
  void Execute() override { SendLoop(); }

 private:
  void SendLoop();

  TClientSocket& FSocket;
  std::atomic<bool> FBufferFailed{false};
  std::atomic<std::int32_t> FRunBlockSize{0};
};
