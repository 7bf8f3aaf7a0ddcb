#include "tests/support/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "tests/support/loopback_server.h"

namespace testsupport {
namespace detail {

void throwErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

int openLoopbackListener(int backlog, std::uint16_t& port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throwErrno("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    throwErrno("loopback listener");
  }
  port = ntohs(address.sin_port);
  return fd;
}

void closeWithReset(int fd) {
  linger abort{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  close(fd);
}

}  // namespace detail

std::uint16_t unusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) detail::throwErrno("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    detail::throwErrno("unused port");
  }
  // Bound but never listening; once closed the port is free again and nothing answers on it.
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace testsupport
