#include "base/thread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "base/application_exception.h"

namespace {
struct TSyncCall {
  std::function<void()> fn;
  bool done = false;
};

// One lock and one condition for all synchronous calls and thread ends, so a waiting
// user-interface thread wakes for either. Never destroyed: a detached worker may still be giving
// its last notification while the process exits.
struct TSyncState {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::shared_ptr<TSyncCall>> queue;
};
TSyncState& Sync() {
  static auto* state = new TSyncState;
  return *state;
}
}  // namespace

TThread::TThread() : FEndState(std::make_shared<TEndState>()) {}

TThread::~TThread() = default;

void TThread::Start() { std::thread(&TThread::ThreadProc, this, FEndState).detach(); }

void TThread::ThreadProc(TThread* self, std::shared_ptr<TEndState> endState) {
  try {
    self->Execute();
  } catch (...) {
    // A failure the worker does not handle ends only the worker, never the program.
  }
  if (self->OnTerminate) Synchronize(self->OnTerminate);
  if (self->FreeOnTerminate) delete self;
  // Notify under the lock: once a waiter sees the end, this thread touches nothing shared again,
  // so the process may even exit right after.
  std::lock_guard lock(Sync().mutex);
  endState->ended = true;
  Sync().changed.notify_all();
}

void TThread::WaitFor() {
  const std::shared_ptr<TEndState> endState = FEndState;  // `this` may be freed while we wait
  std::unique_lock lock(Sync().mutex);
  while (!endState->ended) {
    if (!Sync().queue.empty()) {
      lock.unlock();
      CheckSynchronize();
      lock.lock();
      continue;
    }
    Sync().changed.wait(lock);
  }
}

void TThread::Synchronize(std::function<void()> fn) {
  auto call = std::make_shared<TSyncCall>();
  call->fn = std::move(fn);
  {
    std::lock_guard lock(Sync().mutex);
    Sync().queue.push_back(call);
  }
  Sync().changed.notify_all();
  if (QCoreApplication* application = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(
        application, [] { CheckSynchronize(); }, Qt::QueuedConnection);
  }
  std::unique_lock lock(Sync().mutex);
  Sync().changed.wait(lock, [&] { return call->done; });
}

bool TThread::CheckSynchronize() {
  bool ran = false;
  for (;;) {
    std::shared_ptr<TSyncCall> call;
    {
      std::lock_guard lock(Sync().mutex);
      if (Sync().queue.empty()) return ran;
      call = Sync().queue.front();
      Sync().queue.pop_front();
    }
    RunGuarded(call->fn);
    ran = true;
    {
      std::lock_guard lock(Sync().mutex);
      call->done = true;
    }
    Sync().changed.notify_all();
  }
}
