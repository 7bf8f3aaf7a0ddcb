#pragma once
// The window "Leitungstest": runs one line test against a server and shows it as it goes (the
// phases, the time left, the rates of both directions and the latency as lines over the whole
// test) and then its result: the big figures, the verdict and the chart, to copy or save. Not
// modal; closing it or "Abbrechen" ends the test at once and keeps nothing of it.

#include <QDialog>
#include <QSet>

#include <functional>

#include "ui/line_test/line_test.h"

class QChart;
class QChartView;
class QDialogButtonBox;
class QLabel;
class QLineSeries;
class QProgressBar;
class QPushButton;
class QTimer;
class QValueAxis;

class TLineTestWindow : public QDialog {
  Q_OBJECT

 public:
  // chart: the main window's, which the window opens beside without hiding it where it can.
  TLineTestWindow(const QWidget& chart, QWidget* parent);
  ~TLineTestWindow() override;

  // Starts a test of server at port, unless one is running; shows the window.
  void StartTest(const QString& server, int port);
  // The length of the download, upload and both phases (the idle phase half of it).
  double PhaseSeconds = 10;
  bool Running() const { return FTest && FTest->Running(); }
  // The finished test's result; empty before.
  const linetest::TResult& Result() const { return FResult; }
  QString ResultText() const;

  // Shows a finished test, one from the history say, as it was when it ended: its figures, its
  // verdict, what was missing and its chart. Runs nothing; the result can be copied and saved.
  void ShowStoredResult(const linetest::TResult& result);

  void CopyResult();
  void SaveResult();
  void Cancel();

  // Called with each test this window runs to its end without an error, to keep it; returns why
  // that failed, in German, or nothing. The window shows the reason below the result.
  std::function<QString(const linetest::TResult& result)> KeepResult;
  // Why the last result could not be kept; empty when it was, or was not meant to be.
  QString KeepError() const;

 signals:
  void RunningChanged(bool running);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowPhase(linetest::TPhase phase, double atSeconds);
  void AddPhaseMark(double atSeconds);
  void Finish(const linetest::TResult& result);
  void AddPoint(const linetest::TPoint& point);
  void ShowResult(const linetest::TResult& result);
  void UpdateTimeLeft();
  void ClearChart();
  void Extend(QLineSeries*& line, double seconds, double mbit);
  void EndTest();

  const QWidget& FMainChart;
  linetest::TLineTest* FTest = nullptr;
  linetest::TResult FResult;
  double FTotalSeconds = 0;
  double FPhaseEndsAt = 0;
  QTimer* FClock;
  qint64 FStartedMs = 0;

  QLabel* FHeading;
  QLabel* FPhases;
  QProgressBar* FProgress;
  QLabel* FTimeLeft;
  QLabel* FFigures;
  QLabel* FVerdict;
  QLabel* FKeepError;
  QChart* FChart;
  QChartView* FChartView;
  QLineSeries* FDownload;
  QLineSeries* FUpload;
  QLineSeries* FLatency;
  QValueAxis* FTimeAxis;
  QValueAxis* FRateAxis;
  QValueAxis* FLatencyAxis;
  QValueAxis* FMarkAxis;
  QList<QLineSeries*> FPhaseMarks;
  // Each direction's line in pieces, one per stretch of phases that load it.
  QLineSeries* FFirstDownload;
  QLineSeries* FFirstUpload;
  QList<QLineSeries*> FPieces;
  QSet<QLineSeries*> FGaps;
  double FHighestRate = 1;
  double FHighestLatency = 1;
  QDialogButtonBox* FButtons;
  QPushButton* FCancelButton;
  QPushButton* FCopyButton;
  QPushButton* FSaveButton;
  QPushButton* FCloseButton;
};
