#pragma once
// Every point of the current or the last run since its start, beside the chart's last minute: what
// "Messwerte speichern" writes. A point takes 24 bytes with its details, so a run of a day holds
// about 2 MB.

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <vector>

#include "base/direction.h"
#include "measure/run_details.h"

struct TRunDescription {
  QString Server;
  int Port = 0;
  std::int32_t BlockSize = 0;
  QDateTime Start;
  TDirection Direction = TDirection::Send;
};

class TRunHistory {
 public:
  // A new run: the points of the last one are gone.
  void Begin(TRunDescription run);
  void Add(std::uint32_t elapsedMs, double rate, TPointDetails details = {});

  bool HasRun() const { return FRun.Start.isValid(); }
  const TRunDescription& Run() const { return FRun; }
  std::size_t Count() const { return FElapsedMs.size(); }
  // The details of the point added at elapsedMs; none for a point the run does not hold.
  const TPointDetails* DetailsAt(std::uint32_t elapsedMs) const;
  // The memory the points hold, with what the lists keep in reserve.
  std::size_t Bytes() const {
    return FElapsedMs.capacity() * sizeof(std::uint32_t) + FRates.capacity() * sizeof(double) +
           FDetails.capacity() * sizeof(TPointDetails);
  }
  double MeanRate() const { return FElapsedMs.empty() ? 0.0 : FRateSum / static_cast<double>(FElapsedMs.size()); }

  // The run as text a spreadsheet opens directly: labelled rows, the run's details as further
  // labelled rows, then "Sekunden;kiBytes/s" with the details' columns and one row per point,
  // numbers with the locale's decimal separator and no grouping. An unknown figure is left empty.
  QByteArray ToCsv(const QLocale& locale = QLocale(), const TRunSummary& summary = {}) const;

 private:
  TRunDescription FRun;
  std::vector<std::uint32_t> FElapsedMs;
  std::vector<double> FRates;
  std::vector<TPointDetails> FDetails;
  double FRateSum = 0;
};
