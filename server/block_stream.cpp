#include "server/block_stream.h"

#include <algorithm>
#include <cstdlib>

namespace korvaden {
namespace {

// Zeros for the inside of blocks larger than a chunk; calloc's fresh pages are never written, so
// every connection reads the kernel's one zero page.
const char* Zeros() {
  static const char* zeros = static_cast<const char*>(std::calloc(BlockStream::kChunk, 1));
  return zeros;
}

}  // namespace

void BlockStream::Free::operator()(char* p) const { std::free(p); }

BlockStream::BlockStream(std::uint32_t blockSize) : blockSize_(blockSize) {
  if (blockSize_ <= kChunk) {
    const std::size_t blocks = (kChunk + blockSize_ - 1) / blockSize_;
    patternSize_ = blocks * blockSize_;
    period_ = patternSize_;
  } else {
    patternSize_ = kChunk;
    period_ = blockSize_;
  }
  if (blockSize_ > kChunk && Zeros() == nullptr) return;
  pattern_.reset(static_cast<char*>(std::calloc(patternSize_, 1)));
  if (!pattern_) return;
  const std::size_t markedSize = std::min<std::uint64_t>(blockSize_, patternSize_);
  for (std::size_t at = 0; at < patternSize_; at += markedSize) WriteMarker(pattern_.get() + at, markedSize);
  WriteMarker(record_.data(), record_.size());
}

void BlockStream::PlaceRecord(std::uint64_t sent, std::uint32_t ms, const TConnectionState& state) {
  if (!CarriesRecords()) return;
  if (hasRecord_ && sent < recordAt_ + StateRecordEnd) {
    if (sent > recordAt_ + StateRecordOffset) return;  // on its way; the next one will be newer
  } else {
    recordAt_ = (sent + blockSize_ - 1) / blockSize_ * blockSize_;
    hasRecord_ = true;
  }
  WriteStateRecord(record_.data(), ms, state);
}

iovec BlockStream::Plain(std::uint64_t pos) const {
  const std::uint64_t inPeriod = pos % period_;
  if (inPeriod < patternSize_) return {pattern_.get() + inPeriod, static_cast<std::size_t>(patternSize_ - inPeriod)};
  return {const_cast<char*>(Zeros()), static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, period_ - inPeriod))};
}

int BlockStream::Pieces(std::uint64_t sent, iovec (&pieces)[kMaxPieces]) const {
  const bool recordAhead = hasRecord_ && sent < recordAt_ + StateRecordEnd;
  const std::uint64_t recordBegin = recordAt_ + StateRecordOffset;
  const std::uint64_t recordEnd = recordAt_ + StateRecordEnd;
  std::uint64_t pos = sent;
  std::size_t total = 0;
  int count = 0;
  while (count < kMaxPieces && total < kChunk) {
    iovec piece;
    if (recordAhead && pos >= recordBegin && pos < recordEnd) {
      piece = {const_cast<char*>(record_.data()) + (pos - recordAt_), static_cast<std::size_t>(recordEnd - pos)};
    } else {
      piece = Plain(pos);
      // Up to the record, whose bytes come from its own buffer.
      if (recordAhead && pos < recordBegin) piece.iov_len = std::min<std::uint64_t>(piece.iov_len, recordBegin - pos);
    }
    pieces[count++] = piece;
    pos += piece.iov_len;
    total += piece.iov_len;
  }
  return count;
}

}  // namespace korvaden
