#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "tests/support/loopback_server.h"
#include "tests/support/loopback_socket.h"

namespace testsupport {
namespace {

// Long enough that a loopback handshake that was going to finish has finished.
constexpr int kPendingProofMs = 200;
constexpr int kMaxFillers = 32;

enum class Outcome { Connected, Pending, Failed };

// Starts a non-blocking connect to 127.0.0.1:port and waits kPendingProofMs for it.
// fd stays open unless the connect failed; errno tells why it failed.
Outcome tryConnect(std::uint16_t port, int& fd) {
  fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Outcome::Failed;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  int error = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int ready;
      do {
        ready = poll(&p, 1, kPendingProofMs);
      } while (ready < 0 && errno == EINTR);
      if (ready == 0) return Outcome::Pending;
      socklen_t length = sizeof error;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    }
  }
  if (error == 0) return Outcome::Connected;
  close(fd);
  fd = -1;
  errno = error;
  return Outcome::Failed;
}

}  // namespace

// listen(fd, 0) still lets Linux queue one connection; once the queue is over its limit,
// the kernel drops incoming SYNs and the client keeps retransmitting. So connect until one
// connect demonstrably hangs; the completed ones stay open to keep the queue full.
FullBacklogListener::FullBacklogListener() {
  listenFd_ = detail::openLoopbackListener(0, port_);
  for (int i = 0; i < kMaxFillers; ++i) {
    int fd = -1;
    const Outcome outcome = tryConnect(port_, fd);
    if (outcome == Outcome::Connected) {
      fillers_.push_back(fd);
      continue;
    }
    if (outcome == Outcome::Pending) {
      close(fd);  // the probe hung, so the queue is full
      return;
    }
    const int error = errno;
    closeAll();
    throw std::system_error(error, std::generic_category(), "FullBacklogListener connect");
  }
  closeAll();
  throw std::runtime_error("FullBacklogListener: the accept queue never filled up");
}

FullBacklogListener::~FullBacklogListener() { closeAll(); }

void FullBacklogListener::closeAll() {
  for (int fd : fillers_) close(fd);
  fillers_.clear();
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
}

}  // namespace testsupport
