#include "net/client_socket.h"

TAbstractSocket::TAbstractSocket(QObject* owner) : QObject(owner) {}

void TAbstractSocket::SetActive(bool value) {
  if (value == FActive) return;
  if (FLoading) {
    FActive = value;
    return;
  }
  ApplyActive(value);
}

void TAbstractSocket::Loaded() {
  FLoading = false;
  if (FActive) {
    FActive = false;  // the stored value is applied, not assumed
    ApplyActive(true);
  }
}

void TAbstractSocket::CheckInactive() const {
  if (!FLoading && FActive) throw ESocketError("Can't change value while socket is active");
}

namespace {
// Only the letters A-Z count as equal in either case, as host and service names do.
bool SameIgnoringAsciiCase(const QString& a, const QString& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    char16_t x = a[i].unicode(), y = b[i].unicode();
    if (x >= u'A' && x <= u'Z') x += 32;
    if (y >= u'A' && y <= u'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}
}  // namespace

void TAbstractSocket::SetText(QString& field, const QString& value) {
  if (SameIgnoringAsciiCase(field, value)) return;
  CheckInactive();
  field = value;
}

void TAbstractSocket::SetHost(const QString& value) { SetText(FHost, value); }
void TAbstractSocket::SetAddress(const QString& value) { SetText(FAddress, value); }
void TAbstractSocket::SetService(const QString& value) { SetText(FService, value); }

void TAbstractSocket::SetPort(int value) {
  if (value == FPort) return;
  CheckInactive();
  FPort = value;
}

void TCustomSocket::HandleSocketEvent(TCustomWinSocket* Socket, TSocketEventKind Kind) {
  const TSocketNotifyEvent* handler = nullptr;
  switch (Kind) {
    case sekLookup: handler = &OnLookup; break;
    case sekConnecting: handler = &OnConnecting; break;
    case sekConnect:
      SetActiveFlag(true);
      handler = &OnConnect;
      break;
    case sekDisconnect:
      SetActiveFlag(false);
      handler = &OnDisconnect;
      break;
    case sekListen: SetActiveFlag(true); break;
    case sekAccept: break;
    case sekWrite: handler = &OnWrite; break;
    case sekRead: handler = &OnRead; break;
  }
  if (handler && *handler) (*handler)(this, Socket);
}

void TCustomSocket::HandleSocketError(TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode) {
  if (OnError) OnError(this, Socket, ErrorEvent, ErrorCode);
}

TClientSocket::TClientSocket(QObject* owner)
    : TCustomSocket(owner), FClientSocket(std::make_unique<TClientWinSocket>()) {
  FClientSocket->SetEventHook(
      [this](TCustomWinSocket* Socket, TSocketEventKind Kind) { HandleSocketEvent(Socket, Kind); });
  FClientSocket->SetErrorHook([this](TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode) {
    HandleSocketError(Socket, ErrorEvent, ErrorCode);
  });
}

TClientSocket::~TClientSocket() { FClientSocket.reset(); }

void TClientSocket::ApplyActive(bool value) {
  if (value == FClientSocket->Connected()) return;
  if (FClientSocket->Connected()) {
    FClientSocket->CloseConnection(FClientSocket->SocketHandle());
  } else {
    FClientSocket->OpenConnection(FHost.toStdString(), FAddress.toStdString(), FService.toStdString(), FPort);
  }
}
