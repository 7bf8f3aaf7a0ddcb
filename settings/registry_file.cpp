#include "settings/registry_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <utility>

namespace {
class TFd {
 public:
  explicit TFd(int fd) : FFd(fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() {
    if (FFd >= 0) ::close(FFd);
  }
  int Get() const { return FFd; }
  // close() may be the first to report a failed write-back, so it is checked where data matter.
  bool Close() {
    const int fd = std::exchange(FFd, -1);
    return ::close(fd) == 0;
  }

 private:
  int FFd;
};

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The rename itself only lasts once the folder's entry is on disk. Some file systems refuse to
// sync a folder; the file is in place all the same, so that is not an error.
void SyncFolder(const std::string& folder) {
  TFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() >= 0) ::fsync(fd.Get());
}

// Reads at most one byte past the limit, so a file growing while it is read cannot exhaust memory.
bool ReadAll(int fd, std::size_t expected, std::string& bytes) {
  const std::size_t limit = static_cast<std::size_t>(MaxRegistryFileSize) + 1;
  bytes.resize(std::min(std::max<std::size_t>(expected, 4096), limit));
  std::size_t used = 0;
  while (used < limit) {
    if (used == bytes.size()) bytes.resize(std::min(bytes.size() * 2, limit));
    const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  bytes.resize(used);
  return true;
}

std::string TimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

bool CopyDurably(const std::string& from, const std::string& to) {
  std::error_code error;
  if (!std::filesystem::copy_file(from, to, std::filesystem::copy_options::none, error)) return false;
  TFd fd(::open(to.c_str(), O_RDONLY | O_CLOEXEC));
  return fd.Get() >= 0 && ::fsync(fd.Get()) == 0;
}

bool KeepDamagedOriginal(const std::string& path) {
  const std::string base = path + ".beschaedigt-" + TimeStamp();
  for (int attempt = 1; attempt <= 100; ++attempt) {
    const std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
    if (::link(path.c_str(), name.c_str()) == 0) return true;
    if (errno == EEXIST) continue;
    return CopyDurably(path, name);
  }
  return false;
}

// A settings file linked from elsewhere (as dotfile managers do) stays a link: its target is replaced,
// and made when the link dangles.
std::string LinkTarget(const std::string& path) {
  std::filesystem::path target = path;
  std::error_code error;
  for (int depth = 0; depth < 40 && std::filesystem::is_symlink(target, error); ++depth) {
    const std::filesystem::path next = std::filesystem::read_symlink(target, error);
    if (error) break;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  return target.string();
}

bool ReplaceAtomically(const std::string& path, std::string_view contents) {
  std::string name = path + ".tmp-XXXXXX";
  TFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.Get() < 0) return false;
  // The settings may be private: the new file keeps the old one's permissions.
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) ::fchmod(fd.Get(), old.st_mode & 07777);
  const bool written = WriteAll(fd.Get(), contents) && ::fsync(fd.Get()) == 0 && fd.Close();
  if (!written || ::rename(name.c_str(), path.c_str()) != 0) {
    ::unlink(name.c_str());
    return false;
  }
  SyncFolder(Folder(path));
  return true;
}
}  // namespace

TRegFileSnapshot ReadRegistryFile(const std::string& path) {
  TRegFileSnapshot snapshot;
  // O_NONBLOCK: a fifo put in the file's place must not hang the program.
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.Get() < 0) {
    snapshot.State = errno == ENOENT || errno == ENOTDIR ? TRegFileState::Missing : TRegFileState::Unreadable;
    return snapshot;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    snapshot.State = TRegFileState::Unreadable;
    return snapshot;
  }
  snapshot.State = TRegFileState::Read;
  std::string bytes;
  if (info.st_size > MaxRegistryFileSize) {
    snapshot.Content.FullyUnderstood = snapshot.Content.HoldsEveryLine = false;
  } else if (!ReadAll(fd.Get(), static_cast<std::size_t>(info.st_size), bytes)) {
    snapshot.State = TRegFileState::Unreadable;
  } else if (bytes.size() > static_cast<std::size_t>(MaxRegistryFileSize)) {
    snapshot.Content.FullyUnderstood = snapshot.Content.HoldsEveryLine = false;
  } else {
    snapshot.Content = ParseRegistryText(bytes);
  }
  return snapshot;
}

bool UpdateRegistryFile(const std::string& path, const std::function<bool(TRegFileDocument&)>& change) {
  const std::string folder = Folder(path);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  TFd lock(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.Get() < 0) return false;
  while (::flock(lock.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  TRegFileSnapshot current = ReadRegistryFile(path);
  if (current.State == TRegFileState::Unreadable) return false;
  if (!change(current.Content.Document)) return true;
  const std::string target = LinkTarget(path);
  if (current.State == TRegFileState::Read && !current.Content.HoldsEveryLine && !KeepDamagedOriginal(target)) {
    return false;
  }
  return ReplaceAtomically(target, SerializeRegistryText(current.Content.Document));
}
