#pragma once
// Starts and stops a measurement, reacts to the socket's connect and error events, and shuts
// everything down with the window. All of it runs on the user-interface thread, except the error
// hook for send failures, which runs on the worker inside its send.

#include <QObject>
#include <QString>
#include <QTimer>

#include "base/tcp_port.h"
#include "measure/measurement_run.h"
#include "measure/measurement_view.h"
#include "net/client_socket.h"

class TKorvadenThread;

namespace texts {
inline const QString IdleStatus = QStringLiteral("Geben Sie die Adresse des Servers ein und klicken Sie auf Start ...");
inline const QString MeasuringStatus = QStringLiteral("Klicken Sie auf Stop, um die Messung zu beenden ...");
inline const QString ConnectionLost = QStringLiteral("Die Verbindung wurde unterbrochen!");
inline const QString ErrorCaption = QStringLiteral("Fehler");
QString ConnectingStatus(const QString& server);
QString ConnectFailed(const QString& server);
QString BlockSizeTooSmall(std::int32_t blockSize);
QString BlockBufferUnavailable(std::int32_t blockSize);
QString PortOutOfRange(std::int32_t port);
}  // namespace texts

class TMeasurementController : public QObject {
  Q_OBJECT

 public:
  TMeasurementController(TMeasurementView& view, TClientSocket& socket, QObject* parent = nullptr);
  ~TMeasurementController() override;

  void Button1Click(QObject* Sender);
  void Button2Click(QObject* Sender);
  void ClientSocket1Connect(QObject* Sender, TCustomWinSocket* Socket);
  void ClientSocket1Error(QObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode);
  void StopMeasurement();
  // The controller's share of the window's destruction; runs once.
  void Shutdown();

  // Enabled exactly from the connect event to StopMeasurement: a measurement is running.
  QTimer Timer1;
  // The points, the axes, the sampler and the history, ticked by Timer1 and begun at the connect.
  TMeasurementRun Run;
  bool Measuring() const { return Timer1.isActive(); }
  bool HasWorker() const { return FWorker != nullptr; }

 private:
  void WorkerEnded(TKorvadenThread* worker);
  // The rest of StopMeasurement: timer off, buttons back, the break reported, the idle text.
  void ShowIdle();

  TMeasurementView& FView;
  TClientSocket& FSocket;
  TKorvadenThread* FWorker = nullptr;  // the running worker, forgotten once it has ended
  bool FShutDown = false;
};
