#pragma once
// Plain blocking loopback clients for feeding the server under test.

#include <cstddef>
#include <cstdint>
#include <string>

namespace servertest {

class TcpClient {
 public:
  // Connects to 127.0.0.1:port, or to the given IPv4 or IPv6 address; throws on failure.
  explicit TcpClient(std::uint16_t port, const char* address = "127.0.0.1");
  ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  // "127.0.0.1:54321" or "[::1]:54321": how the server sees this client.
  std::string localEndpoint() const;

  // Sends size bytes of filler data; throws on failure.
  void send(std::size_t size);
  // Sends these bytes; throws on failure.
  void send(const char* data, std::size_t size);
  // Reads until size bytes have come, the connection ends or nothing came for timeoutMs; returns
  // how many came.
  std::size_t receive(char* buffer, std::size_t size, int timeoutMs);

  // Waits for the server to end the connection: 0 for its FIN, the errno of a reset or other
  // failure, -1 when nothing happened within the timeout. Discards what it reads.
  int waitForEnd(int timeoutMs);

  void close();  // normal close (FIN)
  void reset();  // abortive close (RST)

 private:
  int fd_ = -1;
};

}  // namespace servertest
