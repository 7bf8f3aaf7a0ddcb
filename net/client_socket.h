#pragma once
// The client socket component: settable properties and event handlers; writes of Active open or
// close the connection through its connection object.

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

#include "net/socket_types.h"
#include "net/win_socket.h"

class TAbstractSocket : public QObject {
  Q_OBJECT

 public:
  explicit TAbstractSocket(QObject* owner = nullptr);

  // Read without any lock: the sender worker polls it while either thread may change it.
  bool Active() const { return FActive.load(); }
  void SetActive(bool value);

  QString Host() const { return FHost; }
  void SetHost(const QString& value);
  QString Address() const { return FAddress; }
  void SetAddress(const QString& value);
  QString Service() const { return FService; }
  void SetService(const QString& value);
  int Port() const { return FPort; }
  void SetPort(int value);

  // Loading from a stored description: writes are only stored until Loaded() applies them.
  void BeginLoading() { FLoading = true; }
  virtual void Loaded();

 protected:
  virtual void HandleSocketEvent(TCustomWinSocket* Socket, TSocketEventKind Kind) = 0;
  virtual void HandleSocketError(TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode) = 0;
  virtual void ApplyActive(bool value) = 0;

  void SetActiveFlag(bool value) { FActive.store(value); }
  void CheckInactive() const;
  void SetText(QString& field, const QString& value);

  std::atomic<bool> FActive{false};
  int FPort = 0;
  QString FAddress;
  QString FHost;
  QString FService;
  bool FLoading = false;
};

class TCustomSocket : public TAbstractSocket {
  Q_OBJECT

 public:
  using TAbstractSocket::TAbstractSocket;

  TSocketNotifyEvent OnLookup;
  TSocketNotifyEvent OnConnect;
  TSocketNotifyEvent OnConnecting;
  TSocketNotifyEvent OnDisconnect;
  TSocketNotifyEvent OnRead;
  TSocketNotifyEvent OnWrite;
  TSocketErrorEvent OnError;

 protected:
  void HandleSocketEvent(TCustomWinSocket* Socket, TSocketEventKind Kind) override;
  void HandleSocketError(TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode) override;
};

class TClientSocket : public TCustomSocket {
  Q_OBJECT

 public:
  explicit TClientSocket(QObject* owner = nullptr);
  ~TClientSocket() override;

  TClientWinSocket* Socket() const { return FClientSocket.get(); }
  TClientType ClientType() const { return FClientSocket->ClientType(); }
  void SetClientType(TClientType value) { FClientSocket->SetClientType(value); }
  void Deactivate() { SetActive(false); }

 protected:
  void ApplyActive(bool value) override;

 private:
  std::unique_ptr<TClientWinSocket> FClientSocket;
};
