#include "ui/line_test/line_test_network.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace linetest {
namespace {

// As long as a name server may take before the test gives up on the name.
constexpr auto LookupLimit = std::chrono::seconds(20);
// How long one address has to accept before the next one is tried.
constexpr int ConnectLimitMs = 4000;

// What the resolving thread and the test share. The resolver cannot be interrupted, so its thread
// runs to its end on its own and the test may stop waiting for it at any time.
struct TLookup {
  std::mutex Lock;
  std::condition_variable Done;
  bool Finished = false;
  int Code = 0;
  std::vector<TAddress> Addresses;
};

QString AddressText(const sockaddr_storage& storage) {
  char text[INET6_ADDRSTRLEN] = {};
  if (storage.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(storage).sin6_addr, text, sizeof text);
  } else {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(storage).sin_addr, text, sizeof text);
  }
  return QString::fromLatin1(text);
}

void LookUp(const std::shared_ptr<TLookup>& lookup, const std::string& host, const std::string& port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const int code = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  std::vector<TAddress> addresses;
  for (const addrinfo* at = found; at; at = at->ai_next) {
    TAddress address;
    std::memcpy(&address.Storage, at->ai_addr, at->ai_addrlen);
    address.Length = at->ai_addrlen;
    address.Text = AddressText(address.Storage);
    addresses.push_back(address);
  }
  if (found) freeaddrinfo(found);
  std::lock_guard lock(lookup->Lock);
  lookup->Code = code;
  lookup->Addresses = std::move(addresses);
  lookup->Finished = true;
  lookup->Done.notify_all();
}

}  // namespace

bool Woken(int wake) {
  pollfd fd{wake, POLLIN, 0};
  return poll(&fd, 1, 0) > 0;
}

std::vector<TAddress> ResolveServer(const QString& host, int port, int wake, QString& error) {
  auto lookup = std::make_shared<TLookup>();
  std::thread(LookUp, lookup, host.toStdString(), std::to_string(port)).detach();
  const auto giveUp = std::chrono::steady_clock::now() + LookupLimit;
  std::unique_lock lock(lookup->Lock);
  while (!lookup->Finished) {
    if (Woken(wake)) return {};
    if (std::chrono::steady_clock::now() >= giveUp) {
      error =
          QStringLiteral("Der Name „%1“ ließ sich nicht rechtzeitig auflösen. Ist dieser Rechner im Netz?").arg(host);
      return {};
    }
    lookup->Done.wait_for(lock, std::chrono::milliseconds(20));
  }
  if (lookup->Code == EAI_NONAME || lookup->Code == EAI_NODATA || (lookup->Code == 0 && lookup->Addresses.empty())) {
    error = QStringLiteral("Der Name „%1“ ist unbekannt. Bitte prüfen Sie die Schreibweise.").arg(host);
  } else if (lookup->Code != 0) {
    error = QStringLiteral("Der Name „%1“ ließ sich nicht auflösen: %2")
                .arg(host, QString::fromLocal8Bit(gai_strerror(lookup->Code)));
  }
  return lookup->Code == 0 ? lookup->Addresses : std::vector<TAddress>{};
}

int StartConnect(const TAddress& address) {
  const int fd = socket(address.Storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Whatever connect says now, its outcome shows at the first poll, as for a connect that takes time.
  connect(fd, reinterpret_cast<const sockaddr*>(&address.Storage), address.Length);
  return fd;
}

std::optional<TAddress> ChooseAddress(const std::vector<TAddress>& addresses, const QString& host, int port, int wake,
                                      QString& error) {
  bool refused = false;
  for (const TAddress& address : addresses) {
    const int fd = StartConnect(address);
    if (fd < 0) continue;
    pollfd fds[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
    const int ready = poll(fds, 2, ConnectLimitMs);
    int code = ETIMEDOUT;
    socklen_t length = sizeof code;
    if (ready > 0 && fds[0].revents) getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length);
    close(fd);
    if (fds[1].revents) return std::nullopt;
    if (code == 0) return address;
    refused = refused || code == ECONNREFUSED;
  }
  error = refused ? QStringLiteral("Der Server %1 nimmt auf Port %2 keine Verbindung an. Läuft dort korvaden-server?")
                  : QStringLiteral(
                        "Der Server %1 antwortet nicht auf Port %2. Stimmt die Adresse, und lässt eine "
                        "Firewall die Verbindung durch?");
  error = error.arg(host).arg(port);
  return std::nullopt;
}

}  // namespace linetest
