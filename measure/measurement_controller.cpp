#include "measure/measurement_controller.h"

#include <QCoreApplication>
#include <QDateTime>

#include "base/application_exception.h"
#include "base/int_conversion.h"
#include "measure/korvaden_thread.h"
#include "measure/measurement_counters.h"

TMeasurementController::TMeasurementController(TMeasurementView& view, TClientSocket& socket, QObject* parent)
    : QObject(parent), FView(view), FSocket(socket) {
  Timer1.setInterval(1000);
  connect(&Timer1, &QTimer::timeout, this, [this] { RunGuarded([this] { Run.Timer1Timer(&Timer1); }); });
  FSocket.OnConnect = [this](QObject* Sender, TCustomWinSocket* Socket) { ClientSocket1Connect(Sender, Socket); };
  FSocket.OnError = [this](QObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode) {
    ClientSocket1Error(Sender, Socket, ErrorEvent, ErrorCode);
  };
}

TMeasurementController::~TMeasurementController() { Shutdown(); }

void TMeasurementController::Button1Click(QObject*) {
  if (FView.ExpertPanelVisible() && !TakeExpertFields()) return;
  FDirection = FView.ExpertPanelVisible() ? FView.DirectionChoice() : TDirection::Send;
  // A block below one byte cannot form a buffer: refuse it before anything starts.
  if (Counters.BlockSize < 1) {
    FView.ShowErrorMessage(texts::BlockSizeTooSmall(IntToStr(Counters.BlockSize)));
    return;
  }
  FView.SetStartEnabled(false);
  FView.SetStopEnabled(true);
  FView.SetStatusText(texts::ConnectingStatus(FView.ServerText()));
  QCoreApplication::processEvents();
  Counters.ConnectionLost = false;
  FStopPressed = false;
  try {
    // Blanks pasted around a name belong to no name.
    FSocket.SetHost(FView.ServerText().trimmed());
    FSocket.SetActive(true);
  } catch (const ESocketError&) {
    int scratch = 0;
    ClientSocket1Error(nullptr, FSocket.Socket(), errConnect, scratch);
  }
}

bool TMeasurementController::TakeExpertFields() {
  const QString blockSizeText = FView.BlockSizeText();
  const QString portText = FView.PortText();
  // A number beyond 32 bits is no block size or port either: it is refused as 0 or 70000 are, and
  // never silently replaced by the value in force.
  if (IsIntegerBeyond32Bits(blockSizeText)) {
    const QString shown = blockSizeText.trimmed();
    FView.ShowErrorMessage(shown.startsWith(u'-') ? texts::BlockSizeTooSmall(shown) : texts::BlockSizeTooLarge(shown));
    return false;
  }
  if (IsIntegerBeyond32Bits(portText)) {
    FView.ShowErrorMessage(texts::PortOutOfRange(portText.trimmed()));
    return false;
  }
  std::int32_t port = FSocket.Port();
  try {
    Counters.BlockSize = StrToInt(blockSizeText);
    port = StrToInt(portText);
  } catch (...) {
    // A field that is no number at all leaves the values in force from there on.
  }
  // A port out of range is refused: the last valid one stays in force.
  if (!IsValidPort(port)) {
    FView.ShowErrorMessage(texts::PortOutOfRange(IntToStr(port)));
    return false;
  }
  FSocket.SetPort(port);
  return true;
}

void TMeasurementController::ClientSocket1Connect(QObject*, TCustomWinSocket*) {
  FView.SetStatusText(texts::MeasuringStatus);
  // Until the new worker publishes, a tick finds no window (WindowMs 0) and adds nothing: a large
  // block takes the worker a while to fill, and the last run's counters must not become a point.
  Counters.Restart(0);
  Run.Samples.Clear();
  auto* worker = new TKorvadenThread(FSocket, Run.Samples, FDirection);
  worker->OnTerminate = [this, worker] { WorkerEnded(worker); };
  worker->FreeOnTerminate = true;
  try {
    worker->Start();
  } catch (...) {
    // No thread, so nothing will end the run or free the worker: do both here, then report.
    delete worker;
    StopMeasurement();
    throw;
  }
  FWorker = worker;
  Timer1.start();
  Run.Begin(
      {FView.ServerText().trimmed(), FSocket.Port(), Counters.BlockSize, QDateTime::currentDateTime(), FDirection});
}

void TMeasurementController::ClientSocket1Error(QObject*, TCustomWinSocket*, TErrorEvent ErrorEvent, int& ErrorCode) {
  if (ErrorEvent == errConnect) {
    FView.ShowErrorMessage(texts::ConnectFailed(FView.ServerText()));
    StopMeasurement();
  } else {
    Counters.ConnectionLost = true;
  }
  ErrorCode = 0;
}

void TMeasurementController::Button2Click(QObject*) {
  if (Timer1.isActive()) {
    FStopPressed = true;
    if (FWorker) FWorker->Terminate();
  } else {
    StopMeasurement();
  }
}

void TMeasurementController::StopMeasurement() {
  try {
    FSocket.SetActive(false);
    FSocket.Deactivate();
    // While connecting Active is still false, so only closing the handle abandons the attempt.
    TClientWinSocket* connection = FSocket.Socket();
    if (const int handle = connection->SocketHandle(); handle != INVALID_SOCKET) connection->CloseConnection(handle);
  } catch (...) {
    // The failure is reported as before, but the window is idle again first.
    ShowIdle();
    throw;
  }
  ShowIdle();
}

void TMeasurementController::ShowIdle() {
  Timer1.stop();
  FView.SetStartEnabled(true);
  FView.SetStopEnabled(false);
  QCoreApplication::processEvents();
  // A break that comes after Stop, before the worker has seen it, ends a run that was over anyway.
  if (Counters.ConnectionLost && !FStopPressed) FView.ShowErrorMessage(texts::ConnectionLost);
  FView.SetStatusText(texts::IdleStatus);
}

void TMeasurementController::WorkerEnded(TKorvadenThread* worker) {
  if (FWorker == worker) FWorker = nullptr;
  StopMeasurement();
  if (worker->BufferFailed()) FView.ShowErrorMessage(texts::BlockBufferUnavailable(worker->RunBlockSize()));
  // A window that closes ends the connection itself: the server said nothing wrong.
  if (worker->SentNothing() && !FShutDown) FView.ShowErrorMessage(texts::ServerSendsNothing(FView.ServerText()));
}

void TMeasurementController::Shutdown() {
  if (FShutDown) return;
  FShutDown = true;
  // Told before its socket goes: a worker that sees the socket gone then knows it was no break.
  if (FWorker) FWorker->Terminate();
  RunGuarded([this] { FSocket.SetActive(false); });
  if (TKorvadenThread* worker = FWorker) {
    worker->WaitFor();  // serves the worker's end-of-run call, so StopMeasurement runs once more
  }
}
