#pragma once
// The contract's rates against the history: per calendar day, how many tests reached 90 % of the
// maximum rate and the normally available rate, and whether the minimum was undercut, and what
// that suggests by the rules the German regulator applies to fixed lines. A pre-check only: it
// tells whether an official measurement campaign is worth it, never replaces it.

#include <QDate>
#include <QString>

#include <optional>
#include <vector>

#include "ui/history/history_store.h"

namespace history {

// The rates of one direction in Mbit/s, each optional.
struct TContractRates {
  std::optional<double> Max;
  std::optional<double> Normal;
  std::optional<double> Min;
  bool Empty() const { return !Max && !Normal && !Min; }
};

struct TContract {
  TContractRates Download;
  TContractRates Upload;
  bool Empty() const { return Download.Empty() && Upload.Empty(); }
};

// A rate as the settings store it: decimal text with a point, "" for none. Parsing accepts a
// comma too, as a German user types it; anything not a positive number is none.
QString RateSetting(std::optional<double> mbit);
std::optional<double> ParseRate(const QString& text);

// One direction on one day: of the counted tests, how many reached 90 % of the maximum and the
// normally available rate, and how many fell below the minimum.
struct TDirectionDay {
  int Tests = 0;  // with a rate in this direction
  int ReachedNinetyOfMax = 0;
  int ReachedNormal = 0;
  int BelowMin = 0;
};

struct TDayEvaluation {
  QDate Day;
  int Local = 0;  // tests against this computer or the local network: shown, never counted
  TDirectionDay Download;
  TDirectionDay Upload;
};

// True for an address on this computer or in the local network (loopback, private and link-local
// ranges), whose tests say nothing about the provider.
bool IsLocalAddress(const QString& address);

// The days of the last `days` calendar days up to today that have tests, oldest first.
std::vector<TDayEvaluation> EvaluateDays(const std::vector<TTestRow>& tests, const TContract& contract,
                                         const QDate& today, int days = 14);

// A few German sentences: what the days suggest for each direction with rates, the rules followed,
// and that only the regulator's own measurement protocol counts as proof.
QString ContractSummary(const std::vector<TDayEvaluation>& days, const TContract& contract);

}  // namespace history
