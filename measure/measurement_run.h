#pragma once
// One measurement's data, owned by the controller: the points with their axes, the sampler that
// adds one each tick, the history of the whole run and the connection's details. It tells the
// window what changed; the window only draws it.

#include <QObject>
#include <QString>

#include "measure/chart_axis.h"
#include "measure/rate_sampler.h"
#include "measure/rate_series.h"
#include "measure/run_details.h"
#include "measure/run_history.h"
#include "measure/state_samples.h"

class TMeasurementRun : public QObject {
  Q_OBJECT

 public:
  explicit TMeasurementRun(QObject* parent = nullptr);

  // The connect event: the points and the history start afresh.
  void Begin(TRunDescription description);
  // The sampling timer's tick.
  void Timer1Timer(QObject* Sender) { Sampler.Timer1Timer(Sender); }

  TRateSeries Series1;
  TChartAxis BottomAxis{0, 60};
  TChartAxis LeftAxis{0, 1000};
  TRateSampler Sampler;
  TRunHistory History;
  // The connection's state as the worker reads it, and what it tells beyond the rate, for the run
  // and for each point.
  TStateSamples Samples;
  TRunDetails Details;

 signals:
  // Points were added, deleted or cleared: the chart draws again.
  void SeriesChanged();
  // The average of the points held, as status panel 1 shows it.
  void AverageChanged(const QString& text);
  // A point and its details are in the history: once a second while a run goes on.
  void PointAdded();
};
