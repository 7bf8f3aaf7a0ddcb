#include "ui/history/history_contract.h"

#include <QHostAddress>
#include <QLocale>

#include <map>

#include "measure/number_format.h"

namespace history {
namespace {

// The regulator's campaign: 30 measurements on three different days.
constexpr int CampaignTests = 30;
constexpr int CampaignDays = 3;

void Count(TDirectionDay& day, std::optional<double> mbit, const TContractRates& rates) {
  if (!mbit) return;
  ++day.Tests;
  if (rates.Max && *mbit >= 0.9 * *rates.Max) ++day.ReachedNinetyOfMax;
  if (rates.Normal && *mbit >= *rates.Normal) ++day.ReachedNormal;
  if (rates.Min && *mbit < *rates.Min) ++day.BelowMin;
}

// What the days say of one direction; empty without rates or tests.
QString DirectionSummary(const QString& name, const std::vector<TDayEvaluation>& days,
                         TDirectionDay TDayEvaluation::*direction, const TContractRates& rates, bool& deviates) {
  int measuredDays = 0, tests = 0, normal = 0, missedMaxDays = 0, belowMinDays = 0;
  for (const TDayEvaluation& day : days) {
    const TDirectionDay& d = day.*direction;
    if (d.Tests == 0) continue;
    ++measuredDays;
    tests += d.Tests;
    normal += d.ReachedNormal;
    if (d.ReachedNinetyOfMax == 0) ++missedMaxDays;
    if (d.BelowMin > 0) ++belowMinDays;
  }
  if (rates.Empty() || tests == 0) return {};
  QStringList findings;
  bool against = false;
  if (rates.Max) {
    findings << QStringLiteral("90 % des Maximums (%1 Mbit/s) wurden an %2 von %3 Tagen mindestens einmal erreicht")
                    .arg(FormatFixed1(0.9 * *rates.Max))
                    .arg(measuredDays - missedMaxDays)
                    .arg(measuredDays);
    against = against || missedMaxDays >= 2;
  }
  if (rates.Normal) {
    const double share = 100.0 * normal / tests;
    findings << QStringLiteral(
                    "die normalerweise verfügbare Rate (%1 Mbit/s) erreichten %2 % der Tests (gefordert: 90 %)")
                    .arg(FormatFixed1(*rates.Normal), FormatWhole(share));
    against = against || share < 90;
  }
  if (rates.Min) {
    findings << QStringLiteral("das Minimum (%1 Mbit/s) wurde an %2 Tagen unterschritten")
                    .arg(FormatFixed1(*rates.Min))
                    .arg(belowMinDays);
    against = against || belowMinDays >= 2;
  }
  deviates = deviates || against;
  return QStringLiteral("%1: %2. %3")
      .arg(name, findings.join(QStringLiteral("; ")),
           against ? QStringLiteral("Das spricht für eine erhebliche Abweichung vom Vertrag.")
                   : QStringLiteral("Das spricht nicht für eine Abweichung vom Vertrag."));
}

}  // namespace

QString RateSetting(std::optional<double> mbit) {
  return mbit ? QLocale::c().toString(*mbit, 'g', QLocale::FloatingPointShortest) : QString();
}

std::optional<double> ParseRate(const QString& text) {
  bool ok = false;
  const double mbit = QLocale::c().toDouble(QString(text.trimmed()).replace(QLatin1Char(','), QLatin1Char('.')), &ok);
  return ok && mbit > 0 && std::isfinite(mbit) ? std::optional(mbit) : std::nullopt;
}

bool IsLocalAddress(const QString& address) {
  QHostAddress host(address);
  if (host.isNull()) return false;
  bool mapped = false;
  if (const quint32 v4 = host.toIPv4Address(&mapped); mapped) host = QHostAddress(v4);
  if (host.isLoopback() || host.isLinkLocal() || host.isUniqueLocalUnicast() || host.isSiteLocal()) return true;
  for (const auto& [net, bits] : {std::pair{QStringLiteral("10.0.0.0"), 8},
                                  {QStringLiteral("172.16.0.0"), 12},
                                  {QStringLiteral("192.168.0.0"), 16}}) {
    if (host.isInSubnet(QHostAddress(net), bits)) return true;
  }
  return false;
}

std::vector<TDayEvaluation> EvaluateDays(const std::vector<TTestRow>& tests, const TContract& contract,
                                         const QDate& today, int days) {
  const QDate first = today.addDays(1 - days);
  std::map<QDate, TDayEvaluation> byDay;
  for (const TTestRow& test : tests) {
    const QDate day = test.Start.toLocalTime().date();
    if (day < first || day > today) continue;
    TDayEvaluation& evaluation = byDay[day];
    evaluation.Day = day;
    if (IsLocalAddress(test.Address)) {
      ++evaluation.Local;
      continue;
    }
    Count(evaluation.Download, test.DownloadMbit, contract.Download);
    Count(evaluation.Upload, test.UploadMbit, contract.Upload);
  }
  std::vector<TDayEvaluation> result;
  for (const auto& [day, evaluation] : byDay) result.push_back(evaluation);
  return result;
}

QString ContractSummary(const std::vector<TDayEvaluation>& days, const TContract& contract) {
  int counted = 0, countedDays = 0, local = 0;
  for (const TDayEvaluation& day : days) {
    const int tests = std::max(day.Download.Tests, day.Upload.Tests);
    counted += tests;
    countedDays += tests > 0;
    local += day.Local;
  }
  QStringList text;
  if (contract.Empty())
    return QStringLiteral("Tragen Sie die Raten aus Ihrem Vertrag ein, um den Verlauf damit zu vergleichen.");
  bool deviates = false;
  for (const QString& line :
       {DirectionSummary(QStringLiteral("Download"), days, &TDayEvaluation::Download, contract.Download, deviates),
        DirectionSummary(QStringLiteral("Upload"), days, &TDayEvaluation::Upload, contract.Upload, deviates)}) {
    if (!line.isEmpty()) text << line;
  }
  if (text.isEmpty()) text << QStringLiteral("In den letzten Tagen gibt es keine Tests, die für den Anbieter zählen.");
  if (local > 0)
    text << QStringLiteral(
                "%1 Tests gegen diesen Rechner oder das lokale Netz sagen nichts über den Anbieter und zählen nicht.")
                .arg(local);
  if (counted < CampaignTests || countedDays < CampaignDays) {
    text
        << QStringLiteral(
               "Bisher zählen %1 Tests an %2 Tagen; eine Messkampagne verlangt %3 Messungen an %4 verschiedenen Tagen.")
               .arg(counted)
               .arg(countedDays)
               .arg(CampaignTests)
               .arg(CampaignDays);
  } else if (deviates) {
    text << QStringLiteral("Eine amtliche Messkampagne dürfte sich lohnen.");
  }
  text << QStringLiteral(
      "Maßstab sind die Regeln der Bundesnetzagentur für Festnetzanschlüsse: Eine erhebliche Abweichung liegt vor, "
      "wenn nicht an mindestens zwei von drei Messtagen jeweils mindestens einmal 90 % der vereinbarten maximalen "
      "Geschwindigkeit erreicht werden, wenn die normalerweise zur Verfügung stehende Geschwindigkeit nicht in 90 % "
      "der Messungen erreicht wird oder wenn die minimale Geschwindigkeit an mindestens zwei von drei Messtagen "
      "jeweils mindestens einmal unterschritten wird.");
  text << QStringLiteral(
      "Dies ist nur eine Vorprüfung: Als Nachweis gegenüber dem Anbieter zählt allein eine Messung nach dem "
      "Messprotokoll der Bundesnetzagentur.");
  return text.join(QLatin1Char('\n'));
}

}  // namespace history
