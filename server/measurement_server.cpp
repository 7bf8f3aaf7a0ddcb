#include "server/measurement_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>

#include "base/tcp_state.h"

namespace korvaden {
namespace {

// Larger buffers were slower on loopback: 256 KiB read about 4 % less than 128 KiB.
constexpr std::size_t kReadBufferSize = 128 * 1024;
// Bounds the reads per connection and wake-up, so one fast sender cannot starve the others
// or delay their once-a-second reports.
constexpr int kReadsPerWakeup = 16;
// Connections are read in blocking mode, and only when poll has found them readable: a blocking
// read takes up what arrives while it copies, where a non-blocking one returns and costs another
// poll and read: with 128 KiB writes on loopback a tenth more rate, with 1 KiB writes (sender-bound
// either way) a tenth less, still well above iperf3's server. Should a read ever find nothing after
// all, this bounds its wait.
constexpr timeval kReadWaitBound{0, 100'000};
// A download's writes are non-blocking and each hands over about BlockStream::kChunk bytes; this
// bounds them per wake-up for the same reason as the reads.
constexpr int kWritesPerWakeup = 16;
// How often a download puts its connection's state into its blocks, for the client to chart.
constexpr auto kRecordInterval = std::chrono::milliseconds(100);
constexpr auto kReportInterval = std::chrono::seconds(1);
// Out of descriptors: accept would fail again at once, so give closing connections a moment.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// After the orderly end of a connection at its maximum duration, how long the client has to close.
constexpr auto kCloseGrace = std::chrono::seconds(10);

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// "192.0.2.1" or "2001:db8::1"; an IPv4 client of a dual-stack socket shows as plain IPv4.
std::string AddressText(const sockaddr_storage& address, std::uint16_t& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    port = ntohs(v6.sin6_port);
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
      inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    }
  } else {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    port = ntohs(v4.sin_port);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
  }
  return text;
}

// "192.0.2.1:54321" or "[2001:db8::1]:54321".
std::string PeerText(const sockaddr_storage& address) {
  std::uint16_t port = 0;
  const std::string text = AddressText(address, port);
  const bool v6 = text.find(':') != std::string::npos;
  return (v6 ? "[" + text + "]" : text) + ":" + std::to_string(port);
}

// Address text to a socket address; false for text that is neither IPv4 nor IPv6.
bool ToSocketAddress(const std::string& text, std::uint16_t port, sockaddr_storage& address, socklen_t& length) {
  address = {};
  auto& v4 = reinterpret_cast<sockaddr_in&>(address);
  auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
  if (inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    length = sizeof v4;
    return true;
  }
  if (inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    length = sizeof v6;
    return true;
  }
  return false;
}

std::string ErrorText(const std::string& what, int code) { return what + ": " + std::generic_category().message(code); }

// How a failed send to a download's client ends its connection. EPIPE: the client had closed, and
// the reset that answered our data came first.
EndReason SendFailure(int error) {
  return error == ECONNRESET ? EndReason::Reset : error == EPIPE ? EndReason::Closed : EndReason::Error;
}

}  // namespace

MeasurementServer::MeasurementServer(LineSink sink)
    : MeasurementServer(ReportSink([sink = std::move(sink)](const Report& report) { sink(PlainLine(report)); })) {}

MeasurementServer::MeasurementServer(ReportSink sink) : sink_(std::move(sink)), buffer_(kReadBufferSize) {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
}

MeasurementServer::~MeasurementServer() {
  for (auto& c : connections_) close(c.fd);
  if (listenFd_ >= 0) close(listenFd_);
  close(wakeRead_);
  close(wakeWrite_);
}

bool MeasurementServer::Listen(const std::string& bindAddress, std::uint16_t port, std::string& error) {
  sockaddr_storage address{};
  socklen_t length = 0;
  if (!ToSocketAddress(bindAddress, port, address, length)) {
    error = "Ungültige IPv4- oder IPv6-Adresse: " + bindAddress;
    return false;
  }
  const bool everyAddress = bindAddress == "::";
  int fd = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0 && everyAddress && errno == EAFNOSUPPORT) {
    return Listen("0.0.0.0", port, error);  // a system without IPv6
  }
  if (fd < 0) {
    error = ErrorText("Socket konnte nicht angelegt werden", errno);
    return false;
  }
  // A restarted server must not wait for the old connections' TIME_WAIT to run out.
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (address.ss_family == AF_INET6) {
    // "::" takes IPv4 clients as well, whatever the system's default; any other address only itself.
    int v6only = everyAddress ? 0 : 1;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
  }

  const std::string shown = address.ss_family == AF_INET6 ? "[" + bindAddress + "]" : bindAddress;
  const int receiveBuffer = static_cast<int>(receiveBufferBytes_);
  // On the listening socket, not after accept(): by then the handshake has offered its window and
  // chosen its window scale from the buffer there was.
  if (receiveBuffer != 0 && setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer) != 0) {
    error = ErrorText("Empfangspuffer konnte nicht gesetzt werden", errno);
  } else if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    error = ErrorText("Bind an " + shown + ":" + std::to_string(port) + " fehlgeschlagen", errno);
  } else if (listen(fd, SOMAXCONN) != 0) {
    error = ErrorText("Listen fehlgeschlagen", errno);
  } else if (length = sizeof address; getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error = ErrorText("Gebundene Adresse nicht lesbar", errno);
  } else {
    listenFd_ = fd;
    boundAddress_ = AddressText(address, boundPort_);
    if (address.ss_family == AF_INET6) boundAddress_ = "[" + boundAddress_ + "]";
    return true;
  }
  close(fd);
  return false;
}

void MeasurementServer::RequestStop() noexcept {
  const int savedErrno = errno;  // a signal handler must leave errno as it found it
  stopRequested_.store(true);
  const char byte = 1;
  // A full pipe already holds a wake-up, so a failed write loses nothing.
  [[maybe_unused]] ssize_t ignored = write(wakeWrite_, &byte, 1);
  errno = savedErrno;
}

void MeasurementServer::Run() {
  std::vector<pollfd> fds;
  while (!stopRequested_.load()) {
    const auto now = Clock::now();
    fds.clear();
    fds.push_back({wakeRead_, POLLIN, 0});
    fds.push_back({listenFd_, static_cast<short>(now >= acceptPausedUntil_ ? POLLIN : 0), 0});
    for (const auto& c : connections_) {
      // A sender waits for room as well; after its FIN it only waits for the client's close.
      const bool sending = c.blocks && !c.finSent;
      fds.push_back({c.fd, static_cast<short>(sending ? POLLIN | POLLOUT : POLLIN), 0});
    }

    const int ready = poll(fds.data(), fds.size(), PollTimeoutMs(now));
    if (ready < 0 && errno != EINTR) {
      Report problem;
      problem.message = ErrorText("poll fehlgeschlagen", errno);
      sink_(problem);
      break;
    }
    if (ready > 0) {
      if (fds[0].revents != 0) {
        char scratch[64];
        while (read(wakeRead_, scratch, sizeof scratch) > 0) {
        }
      }
      // Connections accepted below are appended, so these indices stay valid.
      for (std::size_t i = 0; i < connections_.size(); ++i) {
        Connection& c = connections_[i];
        const short events = fds[i + 2].revents;
        // Reading first: a client's close or reset ends a download before another write.
        if ((events & ~POLLOUT) != 0) Drain(c);
        if (!c.ended && (events & POLLOUT) != 0) Send(c);
      }
    }

    ReportDueIntervals(Clock::now());
    EnforceLimits(Clock::now());
    std::erase_if(connections_, [](const Connection& c) { return c.ended; });
    if (limits_.once && firstEnded_) break;
    if (ready > 0 && (fds[1].revents & POLLIN)) AcceptPending();
  }

  for (auto& c : connections_) Finish(c, EndReason::ServerStopped);
  connections_.clear();
}

int MeasurementServer::PollTimeoutMs(Clock::time_point now) const {
  auto wake = now + std::chrono::hours(1);
  for (const auto& c : connections_) wake = std::min({wake, c.nextReport, NextDeadline(c)});
  if (now < acceptPausedUntil_) wake = std::min(wake, acceptPausedUntil_);
  if (wake <= now) return 0;
  // Round up: waking a little early would only spin until the deadline.
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(wake - now);
  return static_cast<int>(ms.count());
}

void MeasurementServer::AcceptPending() {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Said once until an accept succeeds again, not ten times a second into the journal.
        if (!acceptFailing_) {
          Report problem;
          problem.message = ErrorText("Verbindung konnte nicht angenommen werden", errno);
          sink_(problem);
        }
        acceptFailing_ = true;
        acceptPausedUntil_ = Clock::now() + kAcceptPause;
      }
      return;  // EAGAIN: nothing left to accept
    }
    acceptFailing_ = false;
    if (limits_.maxConnections != 0 && connections_.size() >= limits_.maxConnections) {
      Refuse(fd, PeerText(peer));
      continue;
    }
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &kReadWaitBound, sizeof kReadWaitBound);
    Connection c;
    c.fd = fd;
    c.number = nextNumber_++;
    c.peer = PeerText(peer);
    c.start = c.intervalStart = c.lastData = Clock::now();
    c.nextReport = c.start + kReportInterval;
    connections_.push_back(std::move(c));
  }
}

void MeasurementServer::Drain(Connection& c) {
  for (int i = 0; i < kReadsPerWakeup; ++i) {
    const bool download = c.direction == TDirection::Receive;
    // Only an upload's first read is known to find data; the others must not wait for more, and a
    // sender or a probe must never wait here.
    const bool mayWait = i == 0 && !download && !c.probe;
    const ssize_t n = recv(c.fd, buffer_.data(), buffer_.size(), mayWait ? 0 : MSG_DONTWAIT);
    if (n > 0) {
      if (download) continue;  // what a receiving client sends counts for nothing
      const auto size = static_cast<std::size_t>(n);
      c.lastData = Clock::now();
      if (c.probe) {
        // A probe's requests are small and few: one read a wake-up, and poll calls again for more.
        TakeProbeRequests(c, buffer_.data(), size);
        return;
      }
      c.totalBytes += size;
      c.intervalBytes += size;
      if (!c.decided) {
        Decide(c, buffer_.data(), size);
        if (c.ended || c.direction == TDirection::Receive || c.probe) return;
      }
      if (size < buffer_.size()) return;  // queue is empty now
      continue;
    }
    if (n == 0) {
      Finish(c, c.finSent ? EndReason::MaxDuration : EndReason::Closed);
      return;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    Finish(c, errno == ECONNRESET ? EndReason::Reset : EndReason::Error, errno);
    return;
  }
}

void MeasurementServer::Decide(Connection& c, const char* data, std::size_t size) {
  const std::size_t taken = std::min(size, c.head.size() - c.headSize);
  std::memcpy(c.head.data() + c.headSize, data, taken);
  c.headSize += taken;
  std::uint32_t blockSize = 0;
  const TStreamStart start = ParseStreamStart(c.head.data(), c.headSize, blockSize);
  if (start == TStreamStart::NeedMore) return;
  c.decided = true;
  if (start == TStreamStart::Upload) return;
  if (start == TStreamStart::Probe) {
    // A line tester opens about ten of these a second: their lines would bury the measurements'.
    c.probe = true;
    c.totalBytes = c.intervalBytes = 0;
    c.nextReport = Clock::time_point::max();
    c.headSize = 0;
    AnswerProbe(c, blockSize);
    if (!c.ended) TakeProbeRequests(c, data + taken, size - taken);
    return;
  }
  // The request is no measured data; a download counts what it sends.
  c.direction = TDirection::Receive;
  c.totalBytes = c.intervalBytes = 0;
  if (start == TStreamStart::Invalid) {
    Finish(c, EndReason::BadRequest);
  } else if (limits_.refuseDownloads) {
    RefuseDownload(c);
  } else {
    StartDownload(c, blockSize);
  }
}

void MeasurementServer::StartDownload(Connection& c, std::uint32_t blockSize) {
  c.blockSize = blockSize;
  c.blocks = std::make_unique<BlockStream>(blockSize);
  if (!c.blocks->Valid()) {
    Finish(c, EndReason::Error, ENOMEM);
    return;
  }
  // Idle from now on means the client took nothing; the first block carries a record at once.
  c.lastData = c.nextRecord = Clock::now();
}

void MeasurementServer::TakeProbeRequests(Connection& c, const char* data, std::size_t size) {
  while (size > 0) {
    const std::size_t taken = std::min(size, c.head.size() - c.headSize);
    std::memcpy(c.head.data() + c.headSize, data, taken);
    c.headSize += taken;
    data += taken;
    size -= taken;
    if (c.headSize < c.head.size()) return;
    c.headSize = 0;
    std::uint32_t token = 0;
    if (!ParseProbeRequest(c.head.data(), c.head.size(), token)) {
      Finish(c, EndReason::BadRequest);  // a probe's connection carries nothing else
      return;
    }
    AnswerProbe(c, token);
    if (c.ended) return;
  }
}

void MeasurementServer::AnswerProbe(Connection& c, std::uint32_t token) {
  if (c.finSent) return;  // past its maximum duration our side is shut; the client's close is awaited
  const auto answer = EncodeProbeAnswer(token);
  ssize_t n = 0;
  do {
    n = send(c.fd, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(answer.size())) return;
  // Only a client that leaves its answers unread fills our send buffer; a cut answer would garble
  // every later one.
  Finish(c, n < 0 ? SendFailure(errno) : EndReason::Error, n < 0 ? errno : 0);
}

void MeasurementServer::Send(Connection& c) {
  for (int i = 0; i < kWritesPerWakeup; ++i) {
    if (c.endAt && c.totalBytes == *c.endAt) {
      SendDownloadEnd(c);
      return;
    }
    const auto now = Clock::now();
    if (!c.endAt && c.blocks->CarriesRecords() && now >= c.nextRecord) {
      if (TConnectionState state; ReadConnectionState(c.fd, state)) {
        const std::int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - c.start).count();
        const std::int64_t msLimit = std::numeric_limits<std::uint32_t>::max();
        c.blocks->PlaceRecord(c.totalBytes, static_cast<std::uint32_t>(std::min(ms, msLimit)), state);
      }
      while (c.nextRecord <= now) c.nextRecord += kRecordInterval;
    }
    iovec pieces[BlockStream::kMaxPieces];
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = static_cast<std::size_t>(c.blocks->Pieces(c.totalBytes, pieces));
    // An ending stream stops where its end word goes.
    const std::uint64_t room = c.endAt ? *c.endAt - c.totalBytes : std::numeric_limits<std::uint64_t>::max();
    std::size_t wanted = 0;
    for (std::size_t p = 0; p < message.msg_iovlen; ++p) {
      pieces[p].iov_len = static_cast<std::size_t>(std::min<std::uint64_t>(pieces[p].iov_len, room - wanted));
      wanted += pieces[p].iov_len;
    }
    // MSG_NOSIGNAL: a client gone away must not kill the server with SIGPIPE.
    const ssize_t n = sendmsg(c.fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      const auto size = static_cast<std::size_t>(n);
      c.lastData = now;
      c.totalBytes += size;
      c.intervalBytes += size;
      if (size < wanted) return;  // the send buffer is full; POLLOUT says when there is room
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return;
    Finish(c, SendFailure(errno), errno);
    return;
  }
}

void MeasurementServer::BeginDownloadEnd(Connection& c) {
  // The client reads a block head's state record once the head is whole, and would take an end
  // word inside a head for part of one: the head the stream is in goes out whole first.
  std::uint64_t at = c.totalBytes;
  if (c.blocks->CarriesRecords()) {
    const std::uint64_t inBlock = at % c.blockSize;
    if (inBlock < StateRecordEnd) at += StateRecordEnd - inBlock;
  }
  c.endAt = at;
}

void MeasurementServer::SendDownloadEnd(Connection& c) {
  // Not counted as sent: like the request, it is no measured data.
  const auto word = EncodeDownloadEnd(*c.endAt);
  while (c.endWordSent < word.size()) {
    const ssize_t n = send(c.fd, word.data() + c.endWordSent, word.size() - c.endWordSent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      c.endWordSent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return;  // POLLOUT brings us back
    Finish(c, SendFailure(errno), errno);
    return;
  }
  // Our FIN follows the word; then we read on until the client has closed its side too.
  shutdown(c.fd, SHUT_WR);
  c.finSent = true;
}

void MeasurementServer::ReportDueIntervals(Clock::time_point now) {
  for (auto& c : connections_) {
    if (c.ended || now < c.nextReport) continue;
    Report interval;
    interval.kind = Report::Kind::Interval;
    interval.connection = c.number;
    interval.peer = c.peer;
    interval.seconds = Seconds(now - c.start);
    interval.bytes = c.intervalBytes;
    interval.intervalSeconds = Seconds(now - c.intervalStart);
    interval.direction = c.direction;
    sink_(interval);
    c.intervalBytes = 0;
    c.intervalStart = now;
    // After a stall, skip the missed seconds rather than print a burst of catch-up lines.
    while (c.nextReport <= now) c.nextReport += kReportInterval;
  }
}

void MeasurementServer::Refuse(int fd, const std::string& peer) {
  Report refused;
  refused.kind = Report::Kind::Refused;
  refused.connection = nextNumber_++;
  refused.peer = peer;
  refused.limit = limits_.maxConnections;
  sink_(refused);
  // A reset rather than a close: the client reports a broken connection at once instead of
  // sending into a connection nobody reads.
  const linger reset{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(fd);
}

void MeasurementServer::RefuseDownload(Connection& c) {
  Report refused;
  refused.kind = Report::Kind::Refused;
  refused.connection = c.number;
  refused.peer = c.peer;
  refused.direction = TDirection::Receive;
  sink_(refused);
  // Closing on unread data would send a reset; the client is to see an orderly close.
  while (recv(c.fd, buffer_.data(), buffer_.size(), MSG_DONTWAIT) > 0) {
  }
  close(c.fd);
  c.fd = -1;
  c.ended = true;
  firstEnded_ = true;
}

MeasurementServer::Clock::time_point MeasurementServer::NextDeadline(const Connection& c) const {
  auto deadline = Clock::time_point::max();
  if (c.finSent || c.endAt) return c.start + std::chrono::seconds(limits_.maxDurationSeconds) + kCloseGrace;
  if (limits_.idleTimeoutSeconds != 0) deadline = c.lastData + std::chrono::seconds(limits_.idleTimeoutSeconds);
  if (limits_.maxDurationSeconds != 0) {
    deadline = std::min(deadline, c.start + std::chrono::seconds(limits_.maxDurationSeconds));
  }
  return deadline;
}

void MeasurementServer::EnforceLimits(Clock::time_point now) {
  for (auto& c : connections_) {
    if (c.ended || now < NextDeadline(c)) continue;
    if (c.finSent || c.endAt) {
      Finish(c, EndReason::MaxDuration);  // the client did not take our end or did not close in time
    } else if (limits_.maxDurationSeconds != 0 && now >= c.start + std::chrono::seconds(limits_.maxDurationSeconds)) {
      if (c.blocks) {
        // A bare FIN is what a killed server leaves too; the end word tells the client it was meant.
        BeginDownloadEnd(c);
      } else {
        // Our FIN first; then we read on until the client has closed its side too.
        shutdown(c.fd, SHUT_WR);
        c.finSent = true;
      }
    } else {
      Finish(c, EndReason::IdleTimeout);
    }
  }
}

void MeasurementServer::Finish(Connection& c, EndReason reason, int errorCode) {
  // A probe is no measurement: --once waits for one, and the journal hears of none.
  if (!c.probe) {
    Report ended;
    ended.kind = Report::Kind::Ended;
    ended.connection = c.number;
    ended.peer = c.peer;
    ended.seconds = Seconds(Clock::now() - c.start);
    ended.bytes = c.totalBytes;
    ended.reason = reason;
    ended.errorCode = errorCode;
    ended.direction = c.direction;
    sink_(ended);
    firstEnded_ = true;
  }
  close(c.fd);
  c.fd = -1;
  c.ended = true;
}

}  // namespace korvaden
