#include "tests/support/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace servertest {
namespace {

using Clock = std::chrono::steady_clock;

void makePipe(int fds[2]) {
  // Close-on-exec in the parent; the dup2 in the child clears it on the copy it uses.
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
}

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& args, bool captureStderr) {
  int out[2];
  int err[2] = {-1, -1};
  makePipe(out);
  if (captureStderr) makePipe(err);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (captureStderr) posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

  std::vector<std::string> argvText{KORVADEN_SERVER_PATH};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  const int result = posix_spawn(&pid_, KORVADEN_SERVER_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (captureStderr) close(err[1]);
  stdoutFd_ = out[0];
  stderrFd_ = err[0];
  if (result != 0) {
    close(stdoutFd_);
    if (stderrFd_ >= 0) close(stderrFd_);
    throw std::system_error(result, std::generic_category(), "posix_spawn korvaden-server");
  }
}

ServerProcess::~ServerProcess() {
  if (!exitCode_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(stdoutFd_);
  if (stderrFd_ >= 0) close(stderrFd_);
}

std::optional<std::string> ServerProcess::nextLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (auto end = pending_.find('\n'); end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      lines_.push_back(line);
      return line;
    }
    pollfd p{stdoutFd_, POLLIN, 0};
    const int ready = poll(&p, 1, remainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char buffer[4096];
    const ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;  // the child closed stdout
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::optional<std::vector<std::string>> ServerProcess::waitForLine(const std::regex& pattern,
                                                                   std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (auto line = nextLine(std::chrono::milliseconds(remainingMs(deadline)))) {
    std::smatch match;
    if (std::regex_match(*line, match, pattern)) {
      return std::vector<std::string>(match.begin(), match.end());
    }
  }
  return std::nullopt;
}

void ServerProcess::discardOutput() {
  while (nextLine(std::chrono::milliseconds(0))) {
  }
  std::vector<std::string>().swap(lines_);
}

std::optional<int> ServerProcess::waitForListeningPort(std::chrono::milliseconds timeout) {
  const auto listening = waitForLine(std::regex(R"(.*lauscht auf \S+:(\d+))"), timeout);
  if (!listening) return std::nullopt;
  return std::stoi((*listening)[1]);
}

void ServerProcess::sendSignal(int signal) { kill(pid_, signal); }

std::optional<int> ServerProcess::waitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!exitCode_) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else if (done < 0 && errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), "waitpid");
    } else if (Clock::now() >= deadline) {
      return std::nullopt;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return exitCode_;
}

std::string ServerProcess::stderrText() {
  std::string text;
  if (stderrFd_ < 0) return text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(stderrFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return text;
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string ServerProcess::transcript() const {
  std::string text;
  for (const auto& line : lines_) text += line + '\n';
  return text;
}

}  // namespace servertest
