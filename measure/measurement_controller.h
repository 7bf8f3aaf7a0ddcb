#pragma once
// Starts and stops a measurement, reacts to the socket's connect and error events, and shuts
// everything down with the window. All of it runs on the user-interface thread, except the error
// hook for send failures, which runs on the worker inside its send.

#include <QObject>
#include <QString>
#include <QTimer>

#include "base/tcp_port.h"
#include "measure/measure_texts.h"
#include "measure/measurement_run.h"
#include "measure/measurement_view.h"
#include "net/client_socket.h"

class TKorvadenThread;

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
  // Expert mode: block size and port from their fields; false when one is refused with a message.
  bool TakeExpertFields();
  void WorkerEnded(TKorvadenThread* worker);
  // The rest of StopMeasurement: timer off, buttons back, the break reported, the idle text.
  void ShowIdle();

  TMeasurementView& FView;
  TClientSocket& FSocket;
  TKorvadenThread* FWorker = nullptr;  // the running worker, forgotten once it has ended
  // Which way the run started by the last Start goes: the expert panel's choice, else sending.
  TDirection FDirection = TDirection::Send;
  bool FStopPressed = false;  // Stop ended the running measurement
  bool FShutDown = false;
};
