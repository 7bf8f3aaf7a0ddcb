#pragma once
// The connection lock: re-entrant, so a send may close its own connection while holding it.

#include <mutex>

class TSynchroObject {
 public:
  virtual ~TSynchroObject() = default;
  virtual void Acquire() {}
  virtual void Release() {}
};

class TCriticalSection : public TSynchroObject {
 public:
  void Acquire() override { FSection.lock(); }
  void Release() override { FSection.unlock(); }
  void Enter() { Acquire(); }
  void Leave() { Release(); }

  // Lockable, so std::lock_guard gives the lock back on every way out.
  void lock() { Acquire(); }
  void unlock() { Release(); }

 private:
  std::recursive_mutex FSection;
};
