#pragma once
// What the process holds, read from /proc: open descriptors, threads, resident memory and the heap
// in use. Qt's pooled drawing threads come and go on their own and are not counted.

#include <chrono>
#include <cstddef>
#include <string>

namespace stress {

struct TProcessFigures {
  int Descriptors = 0;
  int Threads = 0;
  long ResidentKiB = 0;       // after free heap pages were handed back to the system
  std::size_t HeapBytes = 0;  // malloc's bytes in use; not meaningful under the sanitizers

  std::string Describe() const;
};

TProcessFigures Measure();

// Waits (serving the event loop) until descriptors and threads are back at the baseline, as an
// ended worker thread and a closed socket take a moment to disappear. Returns the last figures.
TProcessFigures SettledAt(const TProcessFigures& baseline, std::chrono::milliseconds timeout);

}  // namespace stress
