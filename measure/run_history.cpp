#include "measure/run_history.h"

#include <algorithm>

#include "measure/measure_texts.h"
#include "measure/number_format.h"

void TRunHistory::Begin(TRunDescription run) {
  FRun = std::move(run);
  FElapsedMs.clear();
  FRates.clear();
  FDetails.clear();
  FRateSum = 0;
}

void TRunHistory::Add(std::uint32_t elapsedMs, double rate, TPointDetails details) {
  FElapsedMs.push_back(elapsedMs);
  FRates.push_back(rate);
  FDetails.push_back(details);
  FRateSum += rate;
}

const TPointDetails* TRunHistory::DetailsAt(std::uint32_t elapsedMs) const {
  const auto at = std::lower_bound(FElapsedMs.begin(), FElapsedMs.end(), elapsedMs);
  if (at == FElapsedMs.end() || *at != elapsedMs) return nullptr;
  return &FDetails[static_cast<std::size_t>(at - FElapsedMs.begin())];
}

namespace {
// Exact from the milliseconds: seconds with three decimals.
QString Seconds(std::uint32_t ms, const QLocale& locale) {
  return QStringLiteral("%1%2%3").arg(ms / 1000).arg(locale.decimalPoint()).arg(ms % 1000, 3, 10, QLatin1Char('0'));
}
}  // namespace

// Rates are formatted as the status bar's average is, so the file's mean and the window's agree.
QByteArray TRunHistory::ToCsv(const QLocale& locale, const TRunSummary& summary) const {
  QString text;
  text += QStringLiteral("Server;%1\n").arg(FRun.Server);
  text += QStringLiteral("Port;%1\n").arg(FRun.Port);
  text += QStringLiteral("Blockgröße (Bytes);%1\n").arg(FRun.BlockSize);
  text += QStringLiteral("Start;%1\n").arg(FRun.Start.toString(Qt::ISODate));
  text += QStringLiteral("Dauer (s);%1\n").arg(Seconds(FElapsedMs.empty() ? 0 : FElapsedMs.back(), locale));
  text += QStringLiteral("Mittlere Rate (kiBytes/s);%1\n").arg(FormatFixed2(MeanRate(), locale));
  const auto row = [&](const QString& label, const QString& value) { text += label + u';' + value + u'\n'; };
  const std::optional<TLimitShares>& limits = summary.Limits;
  const auto limitedBy = [&](const QString& cause, double TLimitShares::*share) {
    row(QStringLiteral("Begrenzt durch %1 (% der Zeit)").arg(cause),
        FormatPercent(limits ? std::optional<double>((*limits).*share) : std::nullopt, locale));
  };
  const TDirectionWords& words = WordsFor(FRun.Direction);
  row("Minimale Umlaufzeit (ms)", FormatMilliseconds(summary.MinRttMs, locale));
  row("Umlaufzeit unter Last, Median (ms)", FormatMilliseconds(summary.RttMedianMs, locale));
  row("Umlaufzeit unter Last, 95. Perzentil (ms)", FormatMilliseconds(summary.RttP95Ms, locale));
  row("Zusätzliche Verzögerung unter Last (ms)", FormatMilliseconds(summary.AddedLatencyMs, locale));
  row("Erneut gesendet (% der " + words.SentBytes + ')', FormatFixed1(summary.RetransPercent, locale));
  limitedBy("das Netz", &TLimitShares::Network);
  limitedBy("das " + words.Limit(TRateLimit::ReceiveWindow), &TLimitShares::ReceiveWindow);
  limitedBy("den " + words.Limit(TRateLimit::SendBuffer), &TLimitShares::SendBuffer);
  limitedBy(words.SourceAccusative, &TLimitShares::Program);
  row("Hauptursache", limits ? words.Limit(limits->Main()) : QString());
  row("Richtung", words.Name);
  text += QStringLiteral("Sekunden;kiBytes/s;Umlaufzeit (ms);Erneut gesendet (%);Begrenzt durch\n");
  for (std::size_t i = 0; i < FElapsedMs.size(); ++i) {
    const TPointDetails& details = FDetails[i];
    text += Seconds(FElapsedMs[i], locale) + u';' + FormatFixed2(FRates[i], locale) + u';' +
            FormatMilliseconds(details.RttMs, locale) + u';' + FormatFixed1(details.RetransPercent, locale) + u';' +
            words.Limit(details.Limit) + u'\n';
  }
  return text.toUtf8();
}
