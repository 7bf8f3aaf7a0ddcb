#include "net/platform_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <vector>

namespace platform {

int CreateStreamSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }

std::uint32_t ResolveHostName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return 0;
  std::uint32_t address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(result);
  return address;
}

bool IsDottedAddress(const std::string& text) {
  in_addr address{};
  return ::inet_aton(text.c_str(), &address) != 0;
}

std::uint32_t ParseAddress(const std::string& text) { return ::inet_addr(text.c_str()); }

std::uint16_t ResolveServiceName(const std::string& name) {
  servent entry{};
  servent* found = nullptr;
  std::vector<char> scratch(4096);
  if (::getservbyname_r(name.c_str(), "tcp", &entry, scratch.data(), scratch.size(), &found) != 0 || !found) return 0;
  return ntohs(static_cast<std::uint16_t>(found->s_port));
}

int Connect(int handle, std::uint32_t address, std::uint16_t port) {
  if (address == 0) {
    errno = EADDRNOTAVAIL;
    return -1;
  }
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_addr.s_addr = address;
  destination.sin_port = port;
  return ::connect(handle, reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

int Send(int handle, const void* buffer, int count) {
  const auto length = count > 0 ? static_cast<std::size_t>(count) : 0U;
  const ssize_t sent = ::send(handle, buffer, length, MSG_NOSIGNAL);
  return static_cast<int>(sent);
}

int Receive(int handle, void* buffer, int count) {
  const auto length = count > 0 ? static_cast<std::size_t>(count) : 0U;
  return static_cast<int>(::recv(handle, buffer, length, MSG_DONTWAIT));
}

int ShutdownSending(int handle) { return ::shutdown(handle, SHUT_WR); }

void WaitWritable(int handle, int timeoutMs) {
  pollfd wanted{handle, POLLOUT, 0};
  ::poll(&wanted, 1, timeoutMs);
}

void WaitReadable(int handle, int timeoutMs) {
  pollfd wanted{handle, POLLIN, 0};
  ::poll(&wanted, 1, timeoutMs);
}

int Close(int handle) { return ::close(handle); }

void SetNonBlocking(int handle, bool nonBlocking) {
  const int flags = ::fcntl(handle, F_GETFL);
  if (flags < 0) return;
  ::fcntl(handle, F_SETFL, nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

int TakePendingError(int handle) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

namespace {
constexpr unsigned ConnectTimeLimitMs = 21000;
// Where TCP_USER_TIMEOUT does not cover the handshake, four retries still end it after 31 s.
constexpr int ConnectRetries = 4;
}  // namespace

void LimitConnectTime(int handle) {
  ::setsockopt(handle, IPPROTO_TCP, TCP_USER_TIMEOUT, &ConnectTimeLimitMs, sizeof ConnectTimeLimitMs);
  ::setsockopt(handle, IPPROTO_TCP, TCP_SYNCNT, &ConnectRetries, sizeof ConnectRetries);
}

void ClearConnectTimeLimit(int handle) {
  const unsigned systemDefault = 0;
  ::setsockopt(handle, IPPROTO_TCP, TCP_USER_TIMEOUT, &systemDefault, sizeof systemDefault);
}

bool HasPeer(int handle) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  return ::getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

int LastError() { return errno; }

bool IsWouldBlock(int code) {
  // An interrupted non-blocking call sent nothing and may simply be repeated.
  return code == EAGAIN || code == EWOULDBLOCK || code == EINPROGRESS || code == EINTR;
}

std::string ErrorText(int code) {
  char buffer[256];
  std::string text = ::strerror_r(code, buffer, sizeof buffer);
  while (!text.empty()) {
    const unsigned char last = static_cast<unsigned char>(text.back());
    if (last > ' ' && last != '.' && last != 127) break;
    text.pop_back();
  }
  return text;
}

}  // namespace platform
