#pragma once
// Resolves a host name off the calling thread and hands the answer back on it, so the window stays
// responsive however long the name servers take. A lookup that is abandoned (Stop, a new attempt,
// the socket's end) answers nothing, and one that takes longer than a silent host's connect would
// is given up as a name without an address.

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TNameLookup {
 public:
  // The first IPv4 address in network byte order; 0 when the name has none or the lookup gave up.
  using TAnswer = std::function<void(std::uint32_t address)>;

  // Lives on the thread that receives the answers, which runs an event loop.
  TNameLookup();
  ~TNameLookup();
  TNameLookup(const TNameLookup&) = delete;
  TNameLookup& operator=(const TNameLookup&) = delete;

  // Abandons any lookup still going and starts one for name; answer runs once, on this thread.
  void Start(const std::string& name, TAnswer answer);
  void Abandon();

 private:
  struct TShared;
  void Answer(const std::shared_ptr<TShared>& lookup, std::uint32_t address);

  QObject FReceiver;
  QTimer FGiveUp;
  std::shared_ptr<TShared> FCurrent;
};
