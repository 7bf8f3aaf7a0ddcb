#include "ui/line_test/line_test.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <system_error>

#include "ui/line_test/line_test_engine.h"

namespace linetest {

double PhaseLength(const TOptions& options, TPhase phase) {
  return phase == TPhase::Idle ? options.PhaseSeconds / 2 : options.PhaseSeconds;
}

double TotalLength(const TOptions& options) {
  double total = 0;
  for (TPhase phase : AllPhases) total += PhaseLength(options, phase);
  return total;
}

TLineTest::TLineTest(TOptions options, QObject* parent)
    : QObject(parent), FOptions(std::move(options)), FCancelled(std::make_shared<std::atomic<bool>>(false)) {
  qRegisterMetaType<linetest::TPoint>();
  qRegisterMetaType<linetest::TResult>();
  qRegisterMetaType<linetest::TPhase>();
  FWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FWake < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TLineTest::~TLineTest() {
  Cancel();
  close(FWake);
}

void TLineTest::Post(std::function<void()> deliver) {
  // Runs on this object's thread; a test cancelled meanwhile delivers nothing more.
  QMetaObject::invokeMethod(
      this,
      [this, cancelled = FCancelled, deliver = std::move(deliver)] {
        if (!cancelled->load()) deliver();
      },
      Qt::QueuedConnection);
}

void TLineTest::Start() {
  if (FRunning) return;
  FRunning = true;
  TSink sink;
  sink.AddressChosen = [this](const QString& address) { Post([this, address] { emit AddressChosen(address); }); };
  sink.PhaseStarted = [this](TPhase phase, double at) { Post([this, phase, at] { emit PhaseStarted(phase, at); }); };
  sink.PointAdded = [this](const TPoint& point) { Post([this, point] { emit PointAdded(point); }); };
  FThread = std::thread([this, sink] {
    TEngine engine(FOptions, FWake, sink);
    if (std::optional<TResult> result = engine.Run()) {
      Post([this, result = std::move(*result)] {
        FRunning = false;
        if (FThread.joinable()) FThread.join();
        emit Finished(result);
      });
    }
  });
}

void TLineTest::Cancel() {
  FCancelled->store(true);
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(FWake, &one, sizeof one);
  Join();
  FRunning = false;
}

void TLineTest::Join() {
  if (FThread.joinable()) FThread.join();
}

}  // namespace linetest
