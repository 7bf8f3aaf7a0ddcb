#pragma once
// Real TCP peers on 127.0.0.1 for tests: each LoopbackServer behaves in one fixed way and
// runs its own thread, so a test can drive its client code against it from the test thread.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

enum class ServerMode {
  Record,       // reads everything, counts it and keeps the first recordLimit bytes
  CloseAtOnce,  // closes each connection normally (FIN) right after accepting it
  ResetAtOnce,  // resets each connection (RST) right after accepting it
  NeverRead,    // keeps connections open but never reads, so the client's send buffer fills
  SendBack,     // reads nothing and sends data to the client as fast as it takes it
};

class LoopbackServer {
 public:
  explicit LoopbackServer(ServerMode mode, std::size_t recordLimit = 1 << 20);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t port() const { return port_; }
  int acceptedCount() const;
  std::uint64_t bytesReceived() const;         // all connections together
  std::uint64_t bytesSent() const;             // SendBack only
  std::vector<std::uint8_t> recorded() const;  // in arrival order, all connections together

  bool waitForAccepted(int count, std::chrono::milliseconds timeout) const;
  bool waitForBytes(std::uint64_t count, std::chrono::milliseconds timeout) const;
  // True once any accepted connection has seen the client close, shut down or reset.
  // NeverRead notices a client's FIN only while its receive window is open: a FIN queued
  // behind unread data is not sent until the window opens.
  bool waitForPeerClosed(std::chrono::milliseconds timeout) const;

  // These act on every connection accepted so far or waiting in the accept queue, and
  // return once done; later connections are accepted as usual.
  void resetAll();          // RST on every connection
  void closeAll();          // FIN on every connection, then close
  void shutdownWriteAll();  // FIN on every connection, which stays open for reading

 private:
  enum class Command { ResetAll, CloseAll, ShutdownWriteAll };
  struct Connection {
    int fd = -1;
    bool sawPeerClose = false;  // FIN seen; SendBack keeps writing after it
    bool writeShut = false;
    bool finished = false;  // nothing more to wait for; fd stays open until told
  };

  void serve();
  void acceptPending();
  short eventsFor(const Connection& c) const;
  void handle(Connection& c, short revents);
  void readAvailable(Connection& c);
  void drainQueued(Connection& c);
  void count(std::size_t n);  // bytes just read into readBuffer_
  void writeAvailable(Connection& c);
  void runCommands();
  void execute(Command command);
  void issue(Command command);
  void notePeerClosed();

  const ServerMode mode_;
  const std::size_t recordLimit_;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  std::uint16_t port_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  int accepted_ = 0;
  std::uint64_t received_ = 0;
  std::uint64_t sent_ = 0;
  bool peerClosed_ = false;
  std::vector<std::uint8_t> recorded_;
  std::vector<Command> commands_;
  std::uint64_t commandsIssued_ = 0;
  std::uint64_t commandsDone_ = 0;

  // Touched only by the server thread.
  std::vector<Connection> connections_;
  std::vector<std::uint8_t> readBuffer_;
  std::vector<std::uint8_t> sendPattern_;

  std::thread thread_;  // last, so it starts after everything above exists
};

// A 127.0.0.1 port where nothing listens at the moment of the call.
std::uint16_t unusedPort();

// A listener whose accept queue is full and never drained: the kernel drops further SYNs,
// so a connect to it stays pending until the client gives up. Throws std::runtime_error
// if the queue cannot be shown to be full.
class FullBacklogListener {
 public:
  FullBacklogListener();
  ~FullBacklogListener();
  FullBacklogListener(const FullBacklogListener&) = delete;
  FullBacklogListener& operator=(const FullBacklogListener&) = delete;

  std::uint16_t port() const { return port_; }

 private:
  void closeAll();

  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::vector<int> fillers_;  // our own connections that occupy the queue
};

}  // namespace testsupport
