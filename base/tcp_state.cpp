#include "base/tcp_state.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

bool ReadConnectionState(int fd, TConnectionState& state) {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return false;
  // An older kernel fills a shorter structure: a field counts only when it lies inside.
  const auto take = [&](auto& target, const auto& field) {
    const auto offset = reinterpret_cast<const char*>(&field) - reinterpret_cast<const char*>(&info);
    if (static_cast<std::size_t>(offset) + sizeof field <= length) target = field;
  };
  state = {};
  take(state.BytesAcked, info.tcpi_bytes_acked);
  take(state.BytesSent, info.tcpi_bytes_sent);
  take(state.BytesRetrans, info.tcpi_bytes_retrans);
  take(state.TotalRetrans, info.tcpi_total_retrans);
  take(state.RttUs, info.tcpi_rtt);
  take(state.RttVarUs, info.tcpi_rttvar);
  take(state.MinRttUs, info.tcpi_min_rtt);
  take(state.SndCwnd, info.tcpi_snd_cwnd);
  take(state.SndMss, info.tcpi_snd_mss);
  take(state.SndWnd, info.tcpi_snd_wnd);
  take(state.DeliveryRate, info.tcpi_delivery_rate);
  take(state.BusyUs, info.tcpi_busy_time);
  take(state.RwndLimitedUs, info.tcpi_rwnd_limited);
  take(state.SndbufLimitedUs, info.tcpi_sndbuf_limited);
  take(state.NotsentBytes, info.tcpi_notsent_bytes);
  // Until the connection has timed a round trip its minimum reads as all ones.
  if (state.MinRttUs == ~0U) state.MinRttUs.reset();
  return true;
}
