#pragma once
// The sender worker: pushes marker-headed blocks into the connected socket as fast as it takes
// them and publishes, about twice a second, the bytes and milliseconds of the last window.

#include <atomic>
#include <cstdint>
#include <memory>

#include "thread.h"

class TClientSocket;

// Zero-filled block that starts with as much of the marker as fits before a terminating zero;
// null when blockSize is below 1 or the memory cannot be had.
std::unique_ptr<char[]> AllocateBlockBuffer(std::int32_t blockSize);

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
