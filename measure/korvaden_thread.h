#pragma once
// The measurement worker. Sending, it pushes marker-headed blocks into the connected socket as fast
// as it takes them and publishes, about twice a second, the bytes and milliseconds of the last
// window, about every 10 ms the bytes acknowledged since the run's start, and ten times a second
// the connection's state into the run's samples. Receiving, it asks the server for its blocks,
// reads them as fast as they come and publishes the bytes read alike; the connection's state then
// is the server's, from the records in its blocks.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/direction.h"
#include "base/thread.h"

class TClientSocket;
class TCustomWinSocket;
class TStateSamples;

// Gives a block buffer's pages back to the system.
struct TBlockUnmap {
  std::size_t size = 0;
  void operator()(char* block) const;
};
using TBlockBuffer = std::unique_ptr<char[], TBlockUnmap>;

// Zero-filled block that starts with as much of the marker as fits before a terminating zero;
// null when blockSize is below 1 or the memory cannot be had. Its zeros are the system's zero
// pages, so a block costs only the page the marker is written to, whatever its size: a block of
// 2 GiB is there at once and takes no memory to speak of.
TBlockBuffer AllocateBlockBuffer(std::int32_t blockSize);

// The bytes the run's points are made of: what the peer acknowledged since the run's start. What
// the socket accepted only tells what went into the kernel's send buffer, which first fills (the
// first points would count megabytes that never left) and then takes data in chunks of about
// 64 KiB. The accepted bytes stand in where the kernel gives no such counter. The connection's
// state is read about every 10 ms, never per send, so that a point's interval ends close to the
// tick that draws it; every tenth of a second a reading also goes to the run's details.
class TAcknowledgedTotal {
 public:
  TAcknowledgedTotal(TCustomWinSocket& socket, TStateSamples& samples);
  // acceptedTotal: the bytes the socket accepted since the run's start; elapsedMs: the run's time.
  std::uint64_t Read(std::uint64_t acceptedTotal, std::uint32_t elapsedMs);

 private:
  TCustomWinSocket& FSocket;
  TStateSamples& FSamples;
  std::uint64_t FAtStart = 0;
  std::uint64_t FLast = 0;
  std::uint32_t FLastSampleMs = 0;
  bool FKnown = false;
};

class TKorvadenThread : public TThread {
 public:
  // samples: the run's, which the worker fills with the connection's state as it reads it.
  TKorvadenThread(TClientSocket& socket, TStateSamples& samples, TDirection direction = TDirection::Send)
      : FSocket(socket), FSamples(samples), FDirection(direction) {}

  // True when the run ended because its block buffer could not be allocated.
  bool BufferFailed() const { return FBufferFailed.load(); }
  std::int32_t RunBlockSize() const { return FRunBlockSize.load(); }
  // True when a download ended without a byte from the server: closed at once, or silent for
  // seconds after the connect.
  bool SentNothing() const { return FSentNothing.load(); }

 protected:
  void Execute() override { FDirection == TDirection::Receive ? ReceiveLoop() : SendLoop(); }

 private:
  void SendLoop();
  void ReceiveLoop();
  // The download request; false when the connection ended first.
  bool SendRequest(std::int32_t blockSize);

  TClientSocket& FSocket;
  TStateSamples& FSamples;
  const TDirection FDirection;
  std::atomic<bool> FBufferFailed{false};
  std::atomic<bool> FSentNothing{false};
  std::atomic<std::int32_t> FRunBlockSize{0};
};
