#include "tests/stress/process_figures.h"

#include <malloc.h>
#include <unistd.h>

#include <QtTest/QTest>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace stress {
namespace {

int CountEntries(const char* folder) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

int CountOwnThreads() {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name != "Thread (pooled)") ++count;
  }
  return count;
}

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

std::string TProcessFigures::Describe() const {
  std::ostringstream text;
  text << Descriptors << " Deskriptoren, " << Threads << " Threads, " << ResidentKiB << " KiB resident, " << HeapBytes
       << " Bytes Heap";
  return text.str();
}

TProcessFigures Measure() {
  TProcessFigures figures;
  figures.Descriptors = CountEntries("/proc/self/fd") - 1;  // without the one the listing itself opens
  figures.Threads = CountOwnThreads();
  // Freed heap pages stay resident until malloc hands them back; a fragmented but not growing heap
  // would otherwise look like a leak. So they are handed back first.
  malloc_trim(0);
  figures.ResidentKiB = ResidentKiB();
  figures.HeapBytes = mallinfo2().uordblks;
  return figures;
}

TProcessFigures SettledAt(const TProcessFigures& baseline, std::chrono::milliseconds timeout) {
  TProcessFigures now = Measure();
  (void)QTest::qWaitFor(
      [&] {
        now = Measure();
        return now.Descriptors == baseline.Descriptors && now.Threads == baseline.Threads;
      },
      static_cast<int>(timeout.count()));
  return now;
}

}  // namespace stress
