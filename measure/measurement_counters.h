#pragma once
// The values through which the sender worker, the socket's error hook and the user-interface
// thread talk. Every field is an atomic; the worker's publication of a window is bracketed by
// Updating and a sequence number, so a reader either gets one publication's values whole or
// knows the worker was updating and skips.
//
// Beside the last window the worker publishes a running total: the bytes acknowledged since the
// run's start (TotalBytes) as read at TotalMs. A chart point takes the difference of two totals,
// so consecutive points cover consecutive intervals with no gap and no overlap.

#include <atomic>
#include <cstdint>

struct TCounterSnapshot {
  std::uint32_t WindowBytes = 0;
  std::uint32_t WindowMs = 0;
  std::uint32_t ElapsedMs = 0;
  std::uint64_t TotalBytes = 0;
  std::uint32_t TotalMs = 0;
};

class TMeasurementCounters {
 public:
  std::atomic<std::int32_t> BlockSize{1024};
  std::atomic<std::uint32_t> WindowBytes{0};
  std::atomic<std::uint32_t> WindowMs{0};
  std::atomic<std::uint32_t> ElapsedMs{0};
  std::atomic<std::uint64_t> TotalBytes{0};
  std::atomic<std::uint32_t> TotalMs{0};
  // The clock's reading at the run's start, so that a reader can place TotalMs on the clock.
  std::atomic<std::uint32_t> RunStartTick{0};
  std::atomic<bool> Updating{false};
  std::atomic<bool> ConnectionLost{false};

  // Worker side: brackets the updates of ElapsedMs, WindowBytes, WindowMs and the total.
  void BeginUpdate() {
    FSequence.fetch_add(1, std::memory_order_acq_rel);
    Updating.store(true, std::memory_order_release);
  }
  void EndUpdate() {
    Updating.store(false, std::memory_order_release);
    FSequence.fetch_add(1, std::memory_order_acq_rel);
  }

  // Every count back to zero in one update; ms as the elapsed and the window's time. With 0 a tick
  // finds no window and adds no point.
  void Restart(std::uint32_t ms) {
    BeginUpdate();
    WindowBytes = 0;
    ElapsedMs = ms;
    WindowMs = ms;
    TotalBytes = 0;
    TotalMs = 0;
    EndUpdate();
  }

  // Reader side: false when the worker is updating, or started an update while we read.
  bool TrySnapshot(TCounterSnapshot& snapshot) const {
    if (Updating.load(std::memory_order_acquire)) return false;
    const std::uint32_t before = FSequence.load(std::memory_order_acquire);
    if (before & 1U) return false;
    snapshot.WindowMs = WindowMs.load(std::memory_order_acquire);
    snapshot.ElapsedMs = ElapsedMs.load(std::memory_order_acquire);
    snapshot.WindowBytes = WindowBytes.load(std::memory_order_acquire);
    snapshot.TotalBytes = TotalBytes.load(std::memory_order_acquire);
    snapshot.TotalMs = TotalMs.load(std::memory_order_acquire);
    return FSequence.load(std::memory_order_acquire) == before;
  }

 private:
  std::atomic<std::uint32_t> FSequence{0};
};

// The one instance of the process.
extern TMeasurementCounters Counters;
