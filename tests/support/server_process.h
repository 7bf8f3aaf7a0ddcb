#pragma once
// Runs the real korvaden-server as a child process and reads what it prints.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace servertest {

class ServerProcess {
 public:
  // args go after the program name. stderr is captured too when captureStderr is set,
  // otherwise it goes where the test's own stderr goes.
  explicit ServerProcess(const std::vector<std::string>& args, bool captureStderr = false);
  ~ServerProcess();  // kills the child if it is still running
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // The next stdout line, or nothing if none arrives in time or stdout was closed.
  std::optional<std::string> nextLine(std::chrono::milliseconds timeout);

  // Skips lines until one matches; returns its sub-matches (0 is the whole line).
  std::optional<std::vector<std::string>> waitForLine(const std::regex& pattern, std::chrono::milliseconds timeout);

  void sendSignal(int signal);

  // Exit code, 128 + signal number for a child killed by a signal, or nothing on timeout.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);

  // Everything written to stderr; only with captureStderr, after the child has exited.
  std::string stderrText();

  // All stdout lines read so far, for failure messages.
  std::string transcript() const;

  // Reads whatever the server printed so far and keeps none of it: a caller that lets it print a
  // line per connection by the thousand keeps its pipe from filling up and its own memory flat.
  void discardOutput();

  // The port the server reports listening on, or nothing if it does not say so in time.
  std::optional<int> waitForListeningPort(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  int stderrFd_ = -1;
  std::string pending_;
  std::vector<std::string> lines_;
  std::optional<int> exitCode_;
};

}  // namespace servertest
