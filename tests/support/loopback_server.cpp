#include "tests/support/loopback_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "tests/support/loopback_socket.h"

namespace testsupport {
namespace {

constexpr std::size_t kChunk = 64 * 1024;
// Bounds one connection's turn, so commands and other connections are not kept waiting.
constexpr int kSyscallsPerTurn = 64;
// Safety net only: the eventfd wakes the loop for commands and shutdown.
constexpr int kPollTimeoutMs = 100;
constexpr std::size_t kDrainLimit = 64 * 1024 * 1024;

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

LoopbackServer::LoopbackServer(ServerMode mode, std::size_t recordLimit)
    : mode_(mode), recordLimit_(recordLimit), readBuffer_(kChunk), sendPattern_(kChunk) {
  for (std::size_t i = 0; i < sendPattern_.size(); ++i) {
    sendPattern_[i] = static_cast<std::uint8_t>(i);
  }
  listenFd_ = detail::openLoopbackListener(SOMAXCONN, port_);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    close(listenFd_);
    detail::throwErrno("eventfd");
  }
  thread_ = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = write(wakeFd_, &one, sizeof one);
  thread_.join();
  for (auto& c : connections_) close(c.fd);
  close(listenFd_);
  close(wakeFd_);
}

int LoopbackServer::acceptedCount() const {
  std::lock_guard lock(mutex_);
  return accepted_;
}

std::uint64_t LoopbackServer::bytesReceived() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::uint64_t LoopbackServer::bytesSent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

std::vector<std::uint8_t> LoopbackServer::recorded() const {
  std::lock_guard lock(mutex_);
  return recorded_;
}

bool LoopbackServer::waitForAccepted(int count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return accepted_ >= count; });
}

bool LoopbackServer::waitForBytes(std::uint64_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return received_ >= count; });
}

bool LoopbackServer::waitForPeerClosed(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return peerClosed_; });
}

void LoopbackServer::resetAll() { issue(Command::ResetAll); }
void LoopbackServer::closeAll() { issue(Command::CloseAll); }
void LoopbackServer::shutdownWriteAll() { issue(Command::ShutdownWriteAll); }

// The connections belong to the server thread; handing it the command and waiting keeps
// every descriptor operation on that one thread, so nothing is closed twice or raced.
void LoopbackServer::issue(Command command) {
  std::unique_lock lock(mutex_);
  commands_.push_back(command);
  const std::uint64_t ticket = ++commandsIssued_;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = write(wakeFd_, &one, sizeof one);
  changed_.wait(lock, [&] { return commandsDone_ >= ticket; });
}

void LoopbackServer::serve() {
  std::vector<pollfd> fds;
  std::vector<std::size_t> owners;  // fds[i + 2] belongs to connections_[owners[i]]
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    runCommands();

    fds.assign({{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}});
    owners.clear();
    for (std::size_t i = 0; i < connections_.size(); ++i) {
      const short events = eventsFor(connections_[i]);
      // Even with no events, poll would report hang-ups over and over; leave such ones out.
      if (events == 0) continue;
      fds.push_back({connections_[i].fd, events, 0});
      owners.push_back(i);
    }

    if (poll(fds.data(), fds.size(), kPollTimeoutMs) <= 0) continue;  // timeout or EINTR
    if (fds[0].revents != 0) {
      std::uint64_t count;
      [[maybe_unused]] ssize_t ignored = read(wakeFd_, &count, sizeof count);
    }
    for (std::size_t i = 0; i < owners.size(); ++i) {
      if (fds[i + 2].revents != 0) handle(connections_[owners[i]], fds[i + 2].revents);
    }
    if (fds[1].revents & POLLIN) acceptPending();
  }
}

void LoopbackServer::acceptPending() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    if (mode_ == ServerMode::CloseAtOnce) {
      // The FIN goes out first: data the client sent before we accepted would otherwise turn the
      // close into a reset.
      shutdown(fd, SHUT_WR);
      close(fd);
    } else if (mode_ == ServerMode::ResetAtOnce) {
      detail::closeWithReset(fd);
    } else {
      connections_.push_back({fd});
    }
    std::lock_guard lock(mutex_);
    ++accepted_;
    changed_.notify_all();
  }
}

short LoopbackServer::eventsFor(const Connection& c) const {
  if (c.finished) return 0;
  switch (mode_) {
    case ServerMode::Record: return POLLIN;
    case ServerMode::NeverRead: return POLLRDHUP;
    case ServerMode::SendBack:
      return static_cast<short>((c.writeShut ? 0 : POLLOUT) | (c.sawPeerClose ? 0 : POLLRDHUP));
    default: return 0;
  }
}

void LoopbackServer::handle(Connection& c, short revents) {
  if (mode_ == ServerMode::Record) {
    readAvailable(c);
    return;
  }
  if (revents & (POLLERR | POLLHUP)) {
    c.finished = true;
    notePeerClosed();
    return;
  }
  if (revents & POLLRDHUP) {
    c.sawPeerClose = true;
    notePeerClosed();
    if (mode_ == ServerMode::NeverRead) c.finished = true;
  }
  if (mode_ == ServerMode::SendBack && (revents & POLLOUT)) writeAvailable(c);
}

void LoopbackServer::readAvailable(Connection& c) {
  for (int i = 0; i < kSyscallsPerTurn; ++i) {
    const ssize_t n = recv(c.fd, readBuffer_.data(), readBuffer_.size(), MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && wouldBlock(errno)) return;
    if (n <= 0) {  // EOF or an error from the peer
      c.finished = true;
      notePeerClosed();
      return;
    }
    count(static_cast<std::size_t>(n));
  }
}

// A normal close must first consume what is queued, or the kernel turns the close into a
// reset. A client that keeps sending could keep us here forever, hence the cap.
void LoopbackServer::drainQueued(Connection& c) {
  for (std::size_t drained = 0; drained < kDrainLimit;) {
    const ssize_t n = recv(c.fd, readBuffer_.data(), readBuffer_.size(), MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    drained += static_cast<std::size_t>(n);
    if (mode_ == ServerMode::Record) count(static_cast<std::size_t>(n));
  }
}

void LoopbackServer::count(std::size_t n) {
  std::lock_guard lock(mutex_);
  received_ += n;
  if (recorded_.size() < recordLimit_) {
    const std::size_t keep = std::min(recordLimit_ - recorded_.size(), n);
    recorded_.insert(recorded_.end(), readBuffer_.begin(), readBuffer_.begin() + keep);
  }
  changed_.notify_all();
}

void LoopbackServer::writeAvailable(Connection& c) {
  for (int i = 0; i < kSyscallsPerTurn; ++i) {
    const ssize_t n = send(c.fd, sendPattern_.data(), sendPattern_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && wouldBlock(errno)) return;  // POLLOUT brings us back
    if (n < 0) {
      c.finished = true;
      notePeerClosed();
      return;
    }
    std::lock_guard lock(mutex_);
    sent_ += static_cast<std::uint64_t>(n);
  }
}

void LoopbackServer::notePeerClosed() {
  std::lock_guard lock(mutex_);
  peerClosed_ = true;
  changed_.notify_all();
}

void LoopbackServer::runCommands() {
  std::vector<Command> pending;
  std::uint64_t ticket;
  {
    std::lock_guard lock(mutex_);
    pending.swap(commands_);
    ticket = commandsIssued_;
  }
  if (pending.empty()) return;
  // A client whose connect() has returned expects to be included, even if its connection
  // is still waiting in the accept queue.
  acceptPending();
  for (Command command : pending) execute(command);
  std::lock_guard lock(mutex_);
  commandsDone_ = ticket;
  changed_.notify_all();
}

void LoopbackServer::execute(Command command) {
  switch (command) {
    case Command::ResetAll:
      for (auto& c : connections_) detail::closeWithReset(c.fd);
      connections_.clear();
      break;
    case Command::CloseAll:
      for (auto& c : connections_) {
        shutdown(c.fd, SHUT_WR);  // FIN first, before anything that could still go wrong
        drainQueued(c);
        close(c.fd);
      }
      connections_.clear();
      break;
    case Command::ShutdownWriteAll:
      for (auto& c : connections_) {
        shutdown(c.fd, SHUT_WR);
        c.writeShut = true;
      }
      break;
  }
}

}  // namespace testsupport
