#pragma once
// The connection lock: re-entrant, so a send may close its own connection while holding it.

#include <atomic>
#include <mutex>

class TSynchroObject {
 public:
  virtual ~TSynchroObject() = default;
  virtual void Acquire() {}
  virtual void Release() {}
};

class TCriticalSection : public TSynchroObject {
 public:
  void Acquire() override {
    if (FSection.try_lock()) return;
    FWaiting.fetch_add(1, std::memory_order_relaxed);
    FSection.lock();
    FWaiting.fetch_sub(1, std::memory_order_relaxed);
  }
  void Release() override { FSection.unlock(); }
  void Enter() { Acquire(); }
  void Leave() { Release(); }

  // Lockable, so std::lock_guard gives the lock back on every way out.
  void lock() { Acquire(); }
  void unlock() { Release(); }

  // True while another thread waits to enter. The mutex lets no waiter in ahead of a thread that
  // enters again right after leaving, so such a thread looks here and gives way.
  bool Wanted() const { return FWaiting.load(std::memory_order_relaxed) != 0; }

 private:
  std::recursive_mutex FSection;
  std::atomic<int> FWaiting{0};
};
