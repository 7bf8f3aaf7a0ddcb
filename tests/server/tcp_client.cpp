#include "tests/server/tcp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

namespace servertest {
namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

TcpClient::TcpClient(std::uint16_t port, const char* text) {
  sockaddr_in6 address{};  // large enough for either family
  auto& v4 = reinterpret_cast<sockaddr_in&>(address);
  socklen_t length = sizeof v4;
  if (inet_pton(AF_INET, text, &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
  } else if (inet_pton(AF_INET6, text, &address.sin6_addr) == 1) {
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    length = sizeof address;
  } else {
    errno = EINVAL;
    fail("address");
  }
  fd_ = socket(address.sin6_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) fail("socket");
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    const int error = errno;
    ::close(fd_);
    errno = error;
    fail("connect");
  }
}

TcpClient::~TcpClient() { close(); }

std::string TcpClient::localEndpoint() const {
  sockaddr_in6 address{};
  socklen_t length = sizeof address;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  char text[INET6_ADDRSTRLEN] = {};
  if (address.sin6_family == AF_INET6) {
    inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text);
    return "[" + std::string(text) + "]:" + std::to_string(ntohs(address.sin6_port));
  }
  const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
  inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
}

void TcpClient::send(std::size_t size) {
  static const std::vector<char> filler(64 * 1024, 'k');
  while (size > 0) {
    const std::size_t piece = std::min(size, filler.size());
    send(filler.data(), piece);
    size -= piece;
  }
}

void TcpClient::send(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail("send");
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

std::size_t TcpClient::receive(char* buffer, std::size_t size, int timeoutMs) {
  std::size_t received = 0;
  while (received < size) {
    pollfd readable{fd_, POLLIN, 0};
    if (poll(&readable, 1, timeoutMs) == 0) break;
    const ssize_t n = recv(fd_, buffer + received, size - received, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    received += static_cast<std::size_t>(n);
  }
  return received;
}

int TcpClient::waitForEnd(int timeoutMs) {
  char scratch[4096];
  for (;;) {
    pollfd readable{fd_, POLLIN, 0};
    if (poll(&readable, 1, timeoutMs) == 0) return -1;
    const ssize_t n = recv(fd_, scratch, sizeof scratch, 0);
    if (n == 0) return 0;
    if (n < 0 && errno != EINTR) return errno;
  }
}

void TcpClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TcpClient::reset() {
  if (fd_ < 0) return;
  linger abort{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  close();
}

}  // namespace servertest
