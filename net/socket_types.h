#pragma once
// Types shared by the client socket component and its connection object.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

class QObject;
class TCustomWinSocket;

enum TClientType { ctNonBlocking = 0, ctBlocking = 1 };

enum TErrorEvent {
  errGeneral = 0,
  errSend = 1,
  errReceive = 2,
  errConnect = 3,
  errDisconnect = 4,
  errAccept = 5,
};

enum TSocketEventKind {
  sekLookup = 0,
  sekConnecting = 1,
  sekConnect = 2,
  sekDisconnect = 3,
  sekListen = 4,
  sekAccept = 5,
  sekWrite = 6,
  sekRead = 7,
};

// One byte of notification bits; the values are the ones the notification sink reports.
using TSocketNotifications = std::uint8_t;
constexpr TSocketNotifications snRead = 1;
constexpr TSocketNotifications snWrite = 2;
constexpr TSocketNotifications snOutOfBand = 4;
constexpr TSocketNotifications snAccept = 8;
constexpr TSocketNotifications snConnect = 16;
constexpr TSocketNotifications snClose = 32;
constexpr TSocketNotifications snDefaultSet = snRead | snWrite | snConnect | snClose;  // 0x33

constexpr int INVALID_SOCKET = -1;

// The exception of socket failures; it carries only its message text (UTF-8).
class ESocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TSocketNotifyEvent = std::function<void(QObject* Sender, TCustomWinSocket* Socket)>;
using TSocketErrorEvent =
    std::function<void(QObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode)>;
