#pragma once
// The connection object: owns the socket handle, the notification sink and the connection lock,
// and makes every platform socket call.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/connection_state.h"
#include "net/critical_section.h"
#include "net/name_lookup.h"
#include "net/notification_sink.h"
#include "net/socket_types.h"

class TCustomWinSocket {
 public:
  using TEventHook = std::function<void(TCustomWinSocket* Socket, TSocketEventKind Kind)>;
  using TErrorHook = std::function<void(TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode)>;

  explicit TCustomWinSocket(int handle);
  virtual ~TCustomWinSocket();
  TCustomWinSocket(const TCustomWinSocket&) = delete;
  TCustomWinSocket& operator=(const TCustomWinSocket&) = delete;

  virtual void AcceptReady(int handle);
  virtual void ConnectCompleted(int handle);
  virtual void CloseConnection(int handle);
  virtual void ReadReady(int handle);
  virtual void WriteReady(int handle);

  virtual void SignalEvent(TCustomWinSocket* Socket, TSocketEventKind Kind);
  virtual void SignalError(TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode);

  // Thread-safe; one platform send per call. See the class comment in the .cpp for the results.
  int SendBytes(const void* buffer, int count);
  // Thread-safe, never waits: the count read, 0 when the peer ended its sending or the connection is
  // closed, -1 when nothing is there yet or a failure's code was cleared by the error hook. Raises
  // like SendBytes.
  int ReceiveBytes(void* buffer, int count);
  // Thread-safe: ends our sending side, so the peer reads the end of our data; we still receive.
  void ShutdownSending();
  // Thread-safe: waits up to timeoutMs until the connection has data, like WaitUntilWritable.
  void WaitUntilReadable(int timeoutMs);
  // Thread-safe: the current connection's state as the kernel keeps it; false when not connected or
  // where the platform does not tell.
  bool ReadConnectionState(TConnectionState& state);
  // Thread-safe: waits up to timeoutMs until the connection can take more data. Without the
  // connection lock, so the window's notifications go on meanwhile; should the connection be
  // closed in between, the wait ends at once or at the timeout.
  void WaitUntilWritable(int timeoutMs);
  // For a thread that holds no connection lock and sends in a loop: yields the processor while
  // another thread waits for the lock (a close, the window's notifications), so that the waiter
  // can get it between two sends. Costs no system call while none waits.
  void YieldToWaiters() const;

  // One notification triple, on the sink's thread.
  void HandleSocketNotification(int handle, int bit, int errorCode);

  bool Connected() const { return FConnected.load(); }
  int SocketHandle() const { return FSocket.load(); }

  void SetEventHook(TEventHook hook) { FOnSocketEvent = std::move(hook); }
  void SetErrorHook(TErrorHook hook) { FOnErrorEvent = std::move(hook); }

 protected:
  void ApplyNotificationSet();
  // After a send or receive returned -1, with the connection lock held: nothing for a call that
  // would block; otherwise the error hook, the close, and an ESocketError unless the hook cleared
  // the code.
  void FailTransfer(TErrorEvent ErrorEvent, const char* api);
  void EnsureSink();
  // Closes a handle that is no longer the current one, after taking it out of the sink.
  void ReleaseHandle(int handle);

  std::atomic<int> FSocket;
  std::atomic<bool> FConnected;
  std::unique_ptr<TNotificationSink> FSink;
  TSocketNotifications FNotifications = snDefaultSet;
  TEventHook FOnSocketEvent;
  TErrorHook FOnErrorEvent;
  TCriticalSection FConnectionLock;
};

class TClientWinSocket : public TCustomWinSocket {
 public:
  TClientWinSocket();
  ~TClientWinSocket() override;

  void ConnectCompleted(int handle) override;
  void OpenConnection(const std::string& host, const std::string& address, const std::string& service, int port);

  TClientType ClientType() const { return FClientType; }
  void SetClientType(TClientType value);

 private:
  void ReleaseSettledAttempts();
  // The connect of an attempt whose destination is known: the notification set, OnConnecting and the
  // connect itself. 0 when the connect is done or under way, else the platform's code; none when
  // the OnConnecting handler ended the attempt.
  std::optional<int> BeginConnect(int handle, std::uint32_t destination, std::uint16_t hostPort);
  // The same for the writer of Active: a failure raises.
  void StartConnect(int handle, std::uint32_t destination, std::uint16_t hostPort);
  // The same when the name's answer comes later; a failure is the attempt's outcome then.
  void ConnectToAnswer(int handle, std::uint32_t destination, std::uint16_t hostPort);

  TClientType FClientType = ctNonBlocking;
  TNameLookup FNameLookup;
  // Handles of earlier attempts that a new attempt replaced. A pending one stays registered so its
  // outcome still arrives; settled ones are closed at the next attempt or at destruction.
  std::vector<int> FReplacedHandles;
};

// Formats the platform failure message for code on the named call.
std::string SocketErrorMessage(int code, const char* api);
// Returns 0 for a successful call, the would-block code as it is, and raises otherwise.
int CheckApiResult(int result, const char* api);
