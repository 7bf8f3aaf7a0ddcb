#include "net/win_socket.h"

#include <arpa/inet.h>

#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "base/application_exception.h"
#include "base/tcp_state.h"
#include "net/platform_socket.h"

std::string SocketErrorMessage(int code, const char* api) {
  const std::string text = platform::ErrorText(code);
  std::string message(text.size() + 96, '\0');
  const int length = std::snprintf(message.data(), message.size(), "Windows socket error: %s (%d), on API '%s'",
                                   text.c_str(), code, api);
  message.resize(static_cast<std::size_t>(length));
  return message;
}

int CheckApiResult(int result, const char* api) {
  if (result == 0) return 0;
  const int code = platform::LastError();
  if (platform::IsWouldBlock(code)) return code;
  throw ESocketError(SocketErrorMessage(code, api));
}

TCustomWinSocket::TCustomWinSocket(int handle) : FSocket(handle), FConnected(handle != INVALID_SOCKET) {}

TCustomWinSocket::~TCustomWinSocket() {
  FOnSocketEvent = nullptr;  // closing at destruction raises no disconnect event
  if (FConnected && FSocket != INVALID_SOCKET) {
    try {
      CloseConnection(FSocket);
    } catch (const ESocketError&) {
      // Nothing left to report to: the owner is going away.
    }
  }
  FSink.reset();
}

void TCustomWinSocket::AcceptReady(int) {}
void TCustomWinSocket::ConnectCompleted(int) {}

void TCustomWinSocket::SignalEvent(TCustomWinSocket* Socket, TSocketEventKind Kind) {
  if (FOnSocketEvent) FOnSocketEvent(Socket, Kind);
}

void TCustomWinSocket::SignalError(TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode) {
  if (FOnErrorEvent) FOnErrorEvent(Socket, ErrorEvent, ErrorCode);
}

void TCustomWinSocket::EnsureSink() {
  if (!FSink) {
    FSink = std::make_unique<TNotificationSink>(
        [this](int handle, int bit, int errorCode) { HandleSocketNotification(handle, bit, errorCode); });
  }
}

void TCustomWinSocket::ApplyNotificationSet() {
  const int handle = FSocket;
  if (FNotifications != 0) {
    EnsureSink();
    FSink->Register(handle, FNotifications);
  } else {
    if (FSink) FSink->Unregister(handle);
    platform::SetNonBlocking(handle, false);
  }
}

void TCustomWinSocket::ReleaseHandle(int handle) {
  if (FSink) FSink->Unregister(handle);
  platform::Close(handle);
}

void TCustomWinSocket::CloseConnection(int handle) {
  std::lock_guard lock(FConnectionLock);
  if (handle == INVALID_SOCKET || handle != FSocket) return;
  SignalEvent(this, sekDisconnect);
  if (FSink) FSink->Unregister(handle);
  const int result = platform::Close(handle);
  // Linux frees the descriptor even when close reports an error, so the number must never be used
  // again from here: forget it before reporting the failure.
  FSocket = INVALID_SOCKET;
  FConnected = false;
  CheckApiResult(result, "closesocket");
}

void TCustomWinSocket::ReadReady(int handle) {
  if (FSocket != INVALID_SOCKET && FSocket == handle) SignalEvent(this, sekRead);
}

void TCustomWinSocket::WriteReady(int handle) {
  bool current;
  {
    std::lock_guard lock(FConnectionLock);
    current = FSocket != INVALID_SOCKET && FSocket == handle;
  }
  if (current) SignalEvent(this, sekWrite);
}

// Returns the count the platform took (possibly fewer than count), -1 when the send would block or
// failed with a code the error hook cleared, 0 when not connected. Raises ESocketError when a
// failure's code is left non-zero, after the connection has been closed.
int TCustomWinSocket::SendBytes(const void* buffer, int count) {
  std::lock_guard lock(FConnectionLock);
  if (!FConnected) return 0;
  const int sent = platform::Send(FSocket, buffer, count);
  // A peer that only closed normally still takes what we send: any failure here, also the EPIPE
  // of a reset that answered our data after the peer's close, is a break.
  if (sent == -1) FailTransfer(errSend, "send");
  return sent;
}

void TCustomWinSocket::FailTransfer(TErrorEvent ErrorEvent, const char* api) {
  int code = platform::LastError();
  if (platform::IsWouldBlock(code)) return;
  SignalError(this, ErrorEvent, code);
  CloseConnection(FSocket);
  if (code != 0) throw ESocketError(SocketErrorMessage(code, api));
}

int TCustomWinSocket::ReceiveBytes(void* buffer, int count) {
  std::lock_guard lock(FConnectionLock);
  if (!FConnected) return 0;
  const int received = platform::Receive(FSocket, buffer, count);
  if (received == -1) FailTransfer(errReceive, "recv");
  return received;
}

void TCustomWinSocket::ShutdownSending() {
  std::lock_guard lock(FConnectionLock);
  if (FConnected) platform::ShutdownSending(FSocket);
}

void TCustomWinSocket::WaitUntilReadable(int timeoutMs) {
  const int handle = FSocket.load();
  if (FConnected && handle != INVALID_SOCKET) platform::WaitReadable(handle, timeoutMs);
}

void TCustomWinSocket::WaitUntilWritable(int timeoutMs) {
  const int handle = FSocket.load();
  if (FConnected && handle != INVALID_SOCKET) platform::WaitWritable(handle, timeoutMs);
}

void TCustomWinSocket::YieldToWaiters() const {
  if (FConnectionLock.Wanted()) std::this_thread::yield();
}

bool TCustomWinSocket::ReadConnectionState(TConnectionState& state) {
  std::lock_guard lock(FConnectionLock);
  return FConnected && ::ReadConnectionState(FSocket, state);
}

void TCustomWinSocket::HandleSocketNotification(int handle, int bit, int errorCode) {
  if (errorCode != 0) {
    TErrorEvent kind = errGeneral;
    switch (bit) {
      case snConnect: kind = errConnect; break;
      case snClose: kind = errDisconnect; break;
      case snRead: kind = errReceive; break;
      case snWrite: kind = errSend; break;
      case snAccept: kind = errAccept; break;
      default: break;
    }
    SignalError(this, kind, errorCode);
    if (errorCode != 0) {
      throw ESocketError("Asynchronous socket error " + std::to_string(errorCode));
    }
    return;
  }
  switch (bit) {
    case snConnect: ConnectCompleted(handle); break;
    case snClose: CloseConnection(handle); break;
    case snRead: ReadReady(handle); break;
    case snWrite: WriteReady(handle); break;
    case snAccept: AcceptReady(handle); break;
    default: break;
  }
}

TClientWinSocket::TClientWinSocket() : TCustomWinSocket(INVALID_SOCKET) {}

TClientWinSocket::~TClientWinSocket() {
  // Attempts that never connected are ours to release; a connected handle is closed by the base.
  if (!FConnected && FSocket != INVALID_SOCKET) ReleaseHandle(FSocket.exchange(INVALID_SOCKET));
  for (int handle : FReplacedHandles) ReleaseHandle(handle);
}

void TClientWinSocket::ConnectCompleted(int handle) {
  platform::ClearConnectTimeLimit(handle);
  FConnected = true;
  SignalEvent(this, sekConnect);
}

void TClientWinSocket::ReleaseSettledAttempts() {
  std::erase_if(FReplacedHandles, [this](int handle) {
    if (FSink && FSink->IsRegistered(handle)) return false;  // still waiting for its outcome
    ReleaseHandle(handle);
    return true;
  });
}

void TClientWinSocket::OpenConnection(const std::string& host, const std::string& address, const std::string& service,
                                      int port) {
  if (FConnected) throw ESocketError("Socket already open");
  FNameLookup.Abandon();
  ReleaseSettledAttempts();
  const int handle = platform::CreateStreamSocket();
  const int previous = FSocket.exchange(handle);
  if (previous != INVALID_SOCKET) {
    FReplacedHandles.push_back(previous);
    ReleaseSettledAttempts();
  }
  if (handle == INVALID_SOCKET) throw ESocketError("Can't create new socket");
  try {
    SignalEvent(this, sekLookup);
    const std::uint16_t hostPort =
        service.empty() ? static_cast<std::uint16_t>(port & 0xFFFF) : platform::ResolveServiceName(service);
    std::uint32_t destination;
    if (!host.empty() && platform::IsDottedAddress(host)) {
      destination = platform::ParseAddress(host);
    } else if (!host.empty()) {
      if (FNotifications & snConnect) {
        // A name server may take seconds or never answer: the window must not wait for it. The
        // attempt goes on when the answer comes, unless it was abandoned meanwhile.
        FNameLookup.Start(
            host, [this, handle, hostPort](std::uint32_t answer) { ConnectToAnswer(handle, answer, hostPort); });
        return;
      }
      destination = platform::ResolveHostName(host);
    } else if (!address.empty()) {
      destination = platform::ParseAddress(address);
    } else {
      throw ESocketError("No address specified");
    }
    StartConnect(handle, destination, hostPort);
  } catch (...) {
    CloseConnection(FSocket);
    throw;
  }
}

std::optional<int> TClientWinSocket::BeginConnect(int handle, std::uint32_t destination, std::uint16_t hostPort) {
  ApplyNotificationSet();
  SignalEvent(this, sekConnecting);
  // A handler that ended the attempt closed the handle; its number may belong to something else now.
  if (handle != FSocket) return std::nullopt;
  platform::LimitConnectTime(handle);
  if (platform::Connect(handle, destination, htons(hostPort)) == 0) return 0;
  const int code = platform::LastError();
  return platform::IsWouldBlock(code) ? 0 : code;
}

void TClientWinSocket::StartConnect(int handle, std::uint32_t destination, std::uint16_t hostPort) {
  const std::optional<int> code = BeginConnect(handle, destination, hostPort);
  if (!code) return;
  if (*code != 0) throw ESocketError(SocketErrorMessage(*code, "connect"));
  if (!(FNotifications & snConnect)) {
    platform::ClearConnectTimeLimit(handle);
    FConnected = FSocket != INVALID_SOCKET;
    SignalEvent(this, sekConnect);
  }
}

void TClientWinSocket::ConnectToAnswer(int handle, std::uint32_t destination, std::uint16_t hostPort) {
  // Everything that escapes goes to the default display, as from the notifications it stands for.
  RunGuarded([&] {
    if (handle != FSocket || FConnected) return;  // Stop closed the attempt, or a new one replaced it
    // No writer of Active waits any more: a refusal (a name without an address ends as a connect
    // to 0.0.0.0) arrives like a failed connect's notification.
    if (const std::optional<int> code = BeginConnect(handle, destination, hostPort); code && *code != 0)
      HandleSocketNotification(handle, snConnect, *code);
  });
}

void TClientWinSocket::SetClientType(TClientType value) {
  if (value == FClientType) return;
  if (FConnected) throw ESocketError("Can't change value while socket is active");
  FClientType = value;
  const TSocketNotifications wanted = value == ctBlocking ? 0 : snDefaultSet;
  if (wanted != FNotifications) {
    FNotifications = wanted;
    if (FSocket != INVALID_SOCKET) ApplyNotificationSet();
  }
}
