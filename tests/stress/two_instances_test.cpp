// Two copies of the real program starting and ending at the same moment, over and over, share one
// settings file: each start reads it whole and each end writes its values without losing the
// other's or anyone else's.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "settings/reg_ini_file.h"
#include "tests/stress/program_driver.h"
#include "tests/stress/settings_check.h"
#include "tests/stress/stress_scale.h"

extern char** environ;

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const char* const SharedFile = R"(REGEDIT4

[HKEY_CURRENT_USER\Software\Omvra-Soft\KORVADEN]
"ProMode"="5594"
"BlockSize"="4096"
"Port"="3000"

[HKEY_CURRENT_USER\Software\Omvra-Soft\KORVADEN\MainForm]
"State"="0"
"Left"="10"
"Top"="20"
"Width"="700"
"Height"="500"

[HKEY_CURRENT_USER\Software\Omvra-Soft\Anderes]
"Zahl"=dword:0000002a
"Binär"=hex:de,ad,be,ef
)";

// Starts the program with the end-of-session signal held back: it arrives the moment the program
// is ready to handle it, so every start is complete before its end begins.
pid_t StartProgram() {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGTERM);
  posix_spawnattr_setsigmask(&attributes, &held);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  char program[] = KORVADEN_PROGRAM_PATH;
  char* argv[] = {program, nullptr};
  pid_t pid = -1;
  const int result = posix_spawn(&pid, program, nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  return result == 0 ? pid : -1;
}

// The exit code, or -1 for a program killed by a signal or still running after the timeout. Exit
// code 0 after SIGTERM means the program handled the signal: it had started completely and ended
// through its window.
int WaitForExit(pid_t pid, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(10ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(TwoInstances, StartingAndEndingTogetherLoseNoValue) {
  const fs::path settings = RegistryFilePath().toStdString();
  fs::remove_all(settings.parent_path());
  fs::create_directories(settings.parent_path());
  std::ofstream(settings, std::ios::binary) << SharedFile;

  const int rounds = stress::Rounds(100, 10, 3);
  for (int round = 0; round < rounds; ++round) {
    // Without its width the file must be written again at the end; everything else carries over.
    std::string before = stress::FileBytes(settings);
    const std::size_t width = before.find("\"Width\"=");
    ASSERT_NE(width, std::string::npos) << "round " << round;
    before.erase(width, before.find('\n', width) + 1 - width);
    std::ofstream(settings, std::ios::binary | std::ios::trunc) << before;
    const pid_t first = StartProgram();
    const pid_t second = StartProgram();
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    ::kill(first, SIGTERM);
    ::kill(second, SIGTERM);
    const auto timeout = stress::Sanitized ? 180s : 30s;
    EXPECT_EQ(WaitForExit(first, timeout), 0) << "round " << round;
    EXPECT_EQ(WaitForExit(second, timeout), 0) << "round " << round;

    const std::string after = stress::FileBytes(settings);
    EXPECT_NE(after.find("\"Width\"="), std::string::npos) << "round " << round << ": nothing was written";
    const auto lost = stress::LostValues(before, after);
    ASSERT_TRUE(lost.empty()) << "round " << round << ": " << lost.front();
    for (const auto& entry : fs::directory_iterator(settings.parent_path())) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "registry.reg" || name == "registry.reg.lock") << name;
    }
  }
  const std::string after = stress::FileBytes(settings);
  EXPECT_NE(after.find(R"("ProMode"="5594")"), std::string::npos);
  EXPECT_NE(after.find(R"("BlockSize"="4096")"), std::string::npos);
  EXPECT_NE(after.find(R"("Port"="3000")"), std::string::npos);
}
