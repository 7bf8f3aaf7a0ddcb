#pragma once
// What the kernel knows about one TCP connection at one moment: its acknowledged and sent bytes,
// round-trip times, retransmissions, congestion window and how long the connection was held back
// and by what. A field the running kernel does not report is left empty.

#include <cstdint>
#include <optional>

struct TConnectionState {
  std::optional<std::uint64_t> BytesAcked;
  // Bytes sent, retransmissions included, and of these the retransmitted ones.
  std::optional<std::uint64_t> BytesSent;
  std::optional<std::uint64_t> BytesRetrans;
  std::optional<std::uint32_t> TotalRetrans;  // segments
  // Smoothed round-trip time and its variation, and the least round trip seen (microseconds).
  std::optional<std::uint32_t> RttUs;
  std::optional<std::uint32_t> RttVarUs;
  std::optional<std::uint32_t> MinRttUs;
  std::optional<std::uint32_t> SndCwnd;  // segments
  std::optional<std::uint32_t> SndMss;
  std::optional<std::uint32_t> SndWnd;        // the receive window the peer advertised, in bytes
  std::optional<std::uint64_t> DeliveryRate;  // bytes per second, the kernel's estimate
  // Microseconds since the connection's first data: with data in flight or waiting (busy), and of
  // that time held back by the peer's receive window or by the local send buffer.
  std::optional<std::uint64_t> BusyUs;
  std::optional<std::uint64_t> RwndLimitedUs;
  std::optional<std::uint64_t> SndbufLimitedUs;
  std::optional<std::uint32_t> NotsentBytes;
};
