#pragma once
// A worker thread with a terminate request, a synchronous call into the user-interface thread,
// and waiting for its end while still serving such calls.

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class TThread {
 public:
  TThread();
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Bind OnTerminate and FreeOnTerminate before Start: a thread may end at once.
  void Start();
  // Only sets the request that Execute polls; it never interrupts a call in progress.
  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }

  // Runs on the user-interface thread after Execute has returned; the thread waits for it.
  std::function<void()> OnTerminate;
  bool FreeOnTerminate = false;

  // On the user-interface thread: returns once the thread has ended, serving its synchronous
  // calls meanwhile. Safe with FreeOnTerminate: the object may be gone when it returns.
  void WaitFor();

  // From a worker: runs fn on the user-interface thread and waits until it has run.
  static void Synchronize(std::function<void()> fn);
  // On the user-interface thread: runs the waiting synchronous calls; true if there were any.
  static bool CheckSynchronize();

 protected:
  virtual void Execute() = 0;

 private:
  struct TEndState {
    bool ended = false;  // guarded by the synchronisation mutex
  };
  static void ThreadProc(TThread* self, std::shared_ptr<TEndState> endState);

  std::atomic<bool> FTerminated{false};
  std::shared_ptr<TEndState> FEndState;
};
