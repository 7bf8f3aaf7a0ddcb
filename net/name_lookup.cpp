#include "net/name_lookup.h"

#include <mutex>
#include <thread>

#include "net/platform_socket.h"

namespace {
// As long as a connect to a host that never answers waits (platform::LimitConnectTime).
constexpr int GiveUpMs = 21000;
}  // namespace

// What the resolving thread and this one share. The resolver cannot be interrupted, so its thread
// runs to the end on its own; once the lookup is abandoned, its answer is dropped.
struct TNameLookup::TShared {
  std::mutex lock;
  bool abandoned = false;
  TAnswer answer;
};

TNameLookup::TNameLookup() {
  FGiveUp.setSingleShot(true);
  FGiveUp.setInterval(GiveUpMs);
  QObject::connect(&FGiveUp, &QTimer::timeout, &FReceiver, [this] {
    if (FCurrent) Answer(FCurrent, 0);
  });
}

TNameLookup::~TNameLookup() { Abandon(); }

void TNameLookup::Abandon() {
  FGiveUp.stop();
  if (!FCurrent) return;
  std::lock_guard lock(FCurrent->lock);
  FCurrent->abandoned = true;
  FCurrent.reset();
}

void TNameLookup::Start(const std::string& name, TAnswer answer) {
  Abandon();
  auto lookup = std::make_shared<TShared>();
  lookup->answer = std::move(answer);
  FCurrent = lookup;
  FGiveUp.start();
  QObject* receiver = &FReceiver;
  std::thread([this, lookup, receiver, name] {
    const std::uint32_t address = platform::ResolveHostName(name);
    // Posted under the lock: once abandoned, the receiver may be gone.
    std::lock_guard lock(lookup->lock);
    if (lookup->abandoned) return;
    QMetaObject::invokeMethod(
        receiver, [this, lookup, address] { Answer(lookup, address); }, Qt::QueuedConnection);
  }).detach();
}

void TNameLookup::Answer(const std::shared_ptr<TShared>& lookup, std::uint32_t address) {
  if (lookup != FCurrent) return;  // abandoned, or answered by the time limit already
  FGiveUp.stop();
  FCurrent.reset();
  const TAnswer answer = std::move(lookup->answer);
  {
    std::lock_guard lock(lookup->lock);
    lookup->abandoned = true;
  }
  answer(address);
}
