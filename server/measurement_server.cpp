#include "measurement_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace korvaden {
namespace {

constexpr std::size_t kReadBufferSize = 256 * 1024;
// Bounds the reads per connection and wake-up, so one fast sender cannot starve the others
// or delay their once-a-second reports.
constexpr int kReadsPerWakeup = 16;
constexpr auto kReportInterval = std::chrono::seconds(1);
// Out of descriptors: accept would fail again at once, so give closing connections a moment.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

std::string PeerText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

std::string ErrorText(const std::string& what, int code) {
  return what + ": " + std::generic_category().message(code);
}

}  // namespace

MeasurementServer::MeasurementServer(LineSink sink)
    : sink_(std::move(sink)), buffer_(kReadBufferSize) {
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

bool MeasurementServer::Listen(const std::string& bindAddress, std::uint16_t port,
                               std::string& error) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1) {
    error = "Ungültige IPv4-Adresse: " + bindAddress;
    return false;
  }

  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = ErrorText("Socket konnte nicht angelegt werden", errno);
    return false;
  }
  // A restarted server must not wait for the old connections' TIME_WAIT to run out.
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = ErrorText("Bind an " + bindAddress + ":" + std::to_string(port) + " fehlgeschlagen",
                      errno);
  } else if (listen(fd, SOMAXCONN) != 0) {
    error = ErrorText("Listen fehlgeschlagen", errno);
  } else if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error = ErrorText("Gebundene Adresse nicht lesbar", errno);
  } else {
    listenFd_ = fd;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    boundAddress_ = text;
    boundPort_ = ntohs(address.sin_port);
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
    for (const auto& c : connections_) fds.push_back({c.fd, POLLIN, 0});

    const int ready = poll(fds.data(), fds.size(), PollTimeoutMs(now));
    if (ready < 0 && errno != EINTR) {
      sink_(ErrorText("poll fehlgeschlagen", errno));
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
        if (fds[i + 2].revents != 0) Drain(connections_[i]);
      }
    }

    ReportDueIntervals(Clock::now());
    std::erase_if(connections_, [](const Connection& c) { return c.ended; });
    if (ready > 0 && (fds[1].revents & POLLIN)) AcceptPending();
  }

  for (auto& c : connections_) Finish(c, EndReason::ServerStopped);
  connections_.clear();
}

int MeasurementServer::PollTimeoutMs(Clock::time_point now) const {
  auto wake = now + std::chrono::hours(1);
  for (const auto& c : connections_) wake = std::min(wake, c.nextReport);
  if (now < acceptPausedUntil_) wake = std::min(wake, acceptPausedUntil_);
  if (wake <= now) return 0;
  // Round up: waking a little early would only spin until the deadline.
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(wake - now);
  return static_cast<int>(ms.count());
}

void MeasurementServer::AcceptPending() {
  for (;;) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        sink_(ErrorText("Verbindung konnte nicht angenommen werden", errno));
        acceptPausedUntil_ = Clock::now() + kAcceptPause;
      }
      return;  // EAGAIN: nothing left to accept
    }
    Connection c;
    c.fd = fd;
    c.number = nextNumber_++;
    c.peer = PeerText(peer);
    c.start = c.intervalStart = Clock::now();
    c.nextReport = c.start + kReportInterval;
    connections_.push_back(std::move(c));
  }
}

void MeasurementServer::Drain(Connection& c) {
  for (int i = 0; i < kReadsPerWakeup; ++i) {
    const ssize_t n = read(c.fd, buffer_.data(), buffer_.size());
    if (n > 0) {
      c.totalBytes += static_cast<std::uint64_t>(n);
      c.intervalBytes += static_cast<std::uint64_t>(n);
      if (static_cast<std::size_t>(n) < buffer_.size()) return;  // queue is empty now
      continue;
    }
    if (n == 0) {
      Finish(c, EndReason::Closed);
      return;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    Finish(c, errno == ECONNRESET ? EndReason::Reset : EndReason::Error, errno);
    return;
  }
}

void MeasurementServer::ReportDueIntervals(Clock::time_point now) {
  for (auto& c : connections_) {
    if (c.ended || now < c.nextReport) continue;
    sink_(IntervalLine(c.number, c.peer, Seconds(now - c.start), c.intervalBytes,
                       Seconds(now - c.intervalStart)));
    c.intervalBytes = 0;
    c.intervalStart = now;
    // After a stall, skip the missed seconds rather than print a burst of catch-up lines.
    while (c.nextReport <= now) c.nextReport += kReportInterval;
  }
}

void MeasurementServer::Finish(Connection& c, EndReason reason, int errorCode) {
  const double seconds = Seconds(Clock::now() - c.start);
  sink_(SummaryLine(c.number, c.totalBytes, seconds, reason, errorCode));
  close(c.fd);
  c.fd = -1;
  c.ended = true;
}

}  // namespace korvaden
