#pragma once
// Plain blocking loopback clients for feeding the server under test.

#include <cstddef>
#include <cstdint>
#include <string>

namespace servertest {

class TcpClient {
 public:
  explicit TcpClient(std::uint16_t port);  // connects to 127.0.0.1:port; throws on failure
  ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  // "127.0.0.1:54321": how the server sees this client.
  std::string localEndpoint() const;

  // Sends size bytes of filler data; throws on failure.
  void send(std::size_t size);

  void close();  // normal close (FIN)
  void reset();  // abortive close (RST)

 private:
  int fd_ = -1;
};

}  // namespace servertest
