#pragma once
// The bytes client and measurement server exchange on one connection. Qt-free: the server builds
// it without Qt. An upload is a stream of blocks the client sends and the server throws away; a
// download starts with one request from the client, after which the server sends blocks until the
// client closes its connection. The client keeps its sending side open while it receives: the
// server takes the end of the client's data as the end of the download. A client that shuts its
// sending side (FIN) before it closes is reported as closed; a close with unread data sends a reset.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/connection_state.h"

// Every block, sent either way, starts with as much of this marker as fits before a terminating
// zero; the rest of the block is zeros.
inline constexpr char BlockMarker[] = "KORVADENdata";

// Writes the marker and its terminating zero to the start of a block of size bytes (nothing but the
// zero for a one-byte block). The rest of the block is left alone: it must already hold zeros, so a
// huge block from fresh anonymous pages costs no more than the page the marker lands in.
void WriteMarker(char* block, std::size_t size);

// Download request: the first bytes a client sends when it wants to receive. An upload's stream starts with
// blocks that begin with (a prefix of) "KORVADENdata" and zeros, so byte 8 ('r') tells the two apart.
inline constexpr char DownloadRequestTag[] = "KORVADENrecv";  // 12 bytes on the wire, no terminating zero
inline constexpr std::size_t DownloadRequestSize = 16;        // tag + block size, u32 big-endian
std::array<char, DownloadRequestSize> EncodeDownloadRequest(std::uint32_t blockSize);

// Latency probe: a client that only wants to know how fast the server answers sends this tag and a
// token of its own (u32 big-endian); the server answers at once with ProbeAnswerTag and the same
// token, and answers every further request on that connection alike. The probe is no measurement.
inline constexpr char ProbeRequestTag[] = "KORVADENping";  // 12 bytes on the wire
inline constexpr char ProbeAnswerTag[] = "KORVADENpong";
inline constexpr std::size_t ProbeMessageSize = 16;
std::array<char, ProbeMessageSize> EncodeProbeRequest(std::uint32_t token);
std::array<char, ProbeMessageSize> EncodeProbeAnswer(std::uint32_t token);
// The token of a whole request or answer; false for anything else.
bool ParseProbeRequest(const char* data, std::size_t size, std::uint32_t& token);
bool ParseProbeAnswer(const char* data, std::size_t size, std::uint32_t& token);

// What the first bytes of a connection say: Upload, Download (blockSize set, 1..INT32_MAX), Probe
// (blockSize holds the token), or NeedMore (a prefix of a download or probe request so far), or
// Invalid (download tag but block size 0 or > INT32_MAX).
enum class TStreamStart { NeedMore, Upload, Download, Invalid, Probe };
TStreamStart ParseStreamStart(const char* data, std::size_t size, std::uint32_t& blockSize);

// The end of a download that the server ends on purpose (its time limit): after the last block byte
// it sends this tag and the number of stream bytes before it (u32 big-endian, modulo 2^32), then
// closes. A stream that ends without it was broken off: a server killed or stopped mid-run still
// sends what its kernel had queued and an ordinary FIN. A server that ends within a block's head
// first completes the head, so the end never lands inside a state record.
inline constexpr char DownloadEndTag[] = "KORVADENdone";
inline constexpr std::size_t DownloadEndSize = 16;
std::array<char, DownloadEndSize> EncodeDownloadEnd(std::uint64_t bytesBefore);
// last: the stream's last DownloadEndSize bytes; total: all bytes of the stream, the end included.
bool IsDownloadEnd(const char* last, std::uint64_t total);

// A download's blocks: each block of the requested size looks like an upload's block (as much of
// "KORVADENdata" as fits before a terminating zero, zeros after).
// In blocks of at least StateRecordEnd (=144) bytes the sender may put its connection's state at offset 16:
//   16..19 "STAT" (zeros when the block has no record)
//   20..23 u32 little-endian: the sender's milliseconds since the connection began, when it read the state
//   24..143 15 x u64 little-endian, in this order: BytesAcked, BytesSent, BytesRetrans, TotalRetrans, RttUs,
//           RttVarUs, MinRttUs, SndCwnd, SndMss, SndWnd, DeliveryRate, BusyUs, RwndLimitedUs,
//           SndbufLimitedUs, NotsentBytes; all ones = not known.
inline constexpr std::size_t StateRecordOffset = 16;
inline constexpr std::size_t StateRecordEnd = 144;
// block has at least StateRecordEnd bytes.
void WriteStateRecord(char* block, std::uint32_t ms, const TConnectionState& state);
void ClearStateRecord(char* block);
// False when the block has no record. A value too large for its field reads as not known.
bool ReadStateRecord(const char* block, std::uint32_t& ms, TConnectionState& state);

// Finds the state records in a received stream of blocks of one size, however its reads cut it. A
// record lies within one block's first StateRecordEnd bytes; those that a read cuts are gathered.
class TStateRecordFinder {
 public:
  explicit TStateRecordFinder(std::uint32_t blockSize) : FBlockSize(blockSize) {}

  // data: the stream's next size bytes. Calls found(ms, state) for each record they complete.
  template <typename Found>
  void Feed(const char* data, std::size_t size, Found&& found) {
    const std::uint64_t end = FPosition + size;
    if (FBlockSize >= StateRecordEnd) {
      std::uint64_t block = FPosition / FBlockSize * FBlockSize;
      if (FPosition - block >= StateRecordEnd) block += FBlockSize;
      for (; block < end; block += FBlockSize) {
        const std::uint64_t from = std::max(block, FPosition);
        const std::uint64_t to = std::min(block + StateRecordEnd, end);
        const bool whole = from == block && to == block + StateRecordEnd;
        const char* head = whole ? data + (block - FPosition) : FHead.data();
        if (!whole) {
          // A cut head: gather it, and read it once it is whole.
          std::memcpy(FHead.data() + (from - block), data + (from - FPosition), to - from);
          if (to != block + StateRecordEnd) break;
        }
        std::uint32_t ms = 0;
        if (TConnectionState state; ReadStateRecord(head, ms, state)) found(ms, state);
      }
    }
    FPosition = end;
  }

 private:
  std::uint64_t FBlockSize;
  std::uint64_t FPosition = 0;  // of the next byte in the stream
  std::array<char, StateRecordEnd> FHead{};
};
