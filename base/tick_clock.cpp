#include "base/tick_clock.h"

#include <atomic>
#include <chrono>
#include <mutex>

namespace {
std::atomic<bool> hasTickSource{false};  // keeps the real clock free of any lock
std::mutex tickSourceMutex;
std::function<std::uint32_t()> tickSource;

std::uint32_t SteadyMilliseconds() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
}  // namespace

std::uint32_t GetTickCount() {
  if (hasTickSource.load(std::memory_order_acquire)) {
    std::lock_guard lock(tickSourceMutex);
    if (tickSource) return tickSource();
  }
  return SteadyMilliseconds();
}

void SetTickSource(std::function<std::uint32_t()> source) {
  std::lock_guard lock(tickSourceMutex);
  hasTickSource.store(static_cast<bool>(source), std::memory_order_release);
  tickSource = std::move(source);
}
