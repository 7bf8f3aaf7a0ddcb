#pragma once
// The bytes of one download: blocks of the requested size, each headed by the marker, with the
// sender's connection state put into a block start now and then. Positions count from the first
// byte sent. Memory stays small whatever the block size: at most about 512 KiB of pattern, whose
// untouched pages cost nothing, and one shared zero area for the inside of huge blocks.

#include <sys/uio.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/stream_protocol.h"

namespace korvaden {

class BlockStream {
 public:
  // Handed to one write, so that small blocks go many to a call.
  static constexpr std::size_t kChunk = 256 * 1024;
  static constexpr int kMaxPieces = 4;

  explicit BlockStream(std::uint32_t blockSize);

  // False when the pattern could not be allocated.
  bool Valid() const { return pattern_ != nullptr; }
  // Blocks shorter than a state record carry none.
  bool CarriesRecords() const { return blockSize_ >= StateRecordEnd; }

  // Puts a record of state into the next block start at or after position sent. A record already
  // waiting there is brought up to date unless part of it has gone out.
  void PlaceRecord(std::uint64_t sent, std::uint32_t ms, const TConnectionState& state);

  // The next bytes from position sent on, about kChunk of them, as pieces for one sendmsg().
  int Pieces(std::uint64_t sent, iovec (&pieces)[kMaxPieces]) const;

 private:
  struct Free {
    void operator()(char* p) const;
  };

  // The longest run of stream bytes at pos that lies in one place, leaving the record out.
  iovec Plain(std::uint64_t pos) const;

  std::uint64_t blockSize_;
  // Small blocks: a whole number of blocks, the stream's period. Huge ones: the start of a block,
  // followed by zeros until the block ends.
  std::size_t patternSize_;
  std::uint64_t period_;
  std::unique_ptr<char, Free> pattern_;
  std::array<char, StateRecordEnd> record_{};  // a block head; only the record's bytes are sent
  std::uint64_t recordAt_ = 0;
  bool hasRecord_ = false;
};

}  // namespace korvaden
