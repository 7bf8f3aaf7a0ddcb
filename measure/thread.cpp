#include "thread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "application_exception.h"

namespace {
struct TSyncCall {
  std::function<void()> fn;
  bool done = false;
};

// One lock and one condition for all synchronous calls and thread ends, so a waiting
// user-interface thread wakes for either.
std::mutex syncMutex;
std::condition_variable syncChanged;
std::deque<std::shared_ptr<TSyncCall>> syncQueue;
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
  {
    std::lock_guard lock(syncMutex);
    endState->ended = true;
  }
  syncChanged.notify_all();
}

void TThread::WaitFor() {
  const std::shared_ptr<TEndState> endState = FEndState;  // `this` may be freed while we wait
  std::unique_lock lock(syncMutex);
  while (!endState->ended) {
    if (!syncQueue.empty()) {
      lock.unlock();
      CheckSynchronize();
      lock.lock();
      continue;
    }
    syncChanged.wait(lock);
  }
}

void TThread::Synchronize(std::function<void()> fn) {
  auto call = std::make_shared<TSyncCall>();
  call->fn = std::move(fn);
  {
    std::lock_guard lock(syncMutex);
    syncQueue.push_back(call);
  }
  syncChanged.notify_all();
  if (QCoreApplication* application = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(application, [] { CheckSynchronize(); }, Qt::QueuedConnection);
  }
  std::unique_lock lock(syncMutex);
  syncChanged.wait(lock, [&] { return call->done; });
}

bool TThread::CheckSynchronize() {
  bool ran = false;
  for (;;) {
    std::shared_ptr<TSyncCall> call;
    {
      std::lock_guard lock(syncMutex);
      if (syncQueue.empty()) return ran;
      call = syncQueue.front();
      syncQueue.pop_front();
    }
    RunGuarded(call->fn);
    ran = true;
    {
      std::lock_guard lock(syncMutex);
      call->done = true;
    }
    syncChanged.notify_all();
  }
}
