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
  const auto row = [&](const char* label, const QString& value) {
    text += QString::fromUtf8(label) + u';' + value + u'\n';
  };
  const std::optional<TLimitShares>& limits = summary.Limits;
  const auto share = [&](double TLimitShares::*cause) {
    return FormatPercent(limits ? std::optional<double>((*limits).*cause) : std::nullopt, locale);
  };
  row("Minimale Umlaufzeit (ms)", FormatMilliseconds(summary.MinRttMs, locale));
  row("Umlaufzeit unter Last, Median (ms)", FormatMilliseconds(summary.RttMedianMs, locale));
  row("Umlaufzeit unter Last, 95. Perzentil (ms)", FormatMilliseconds(summary.RttP95Ms, locale));
  row("Zusätzliche Verzögerung unter Last (ms)", FormatMilliseconds(summary.AddedLatencyMs, locale));
  row("Erneut gesendet (% der gesendeten Bytes)", FormatFixed1(summary.RetransPercent, locale));
  row("Begrenzt durch das Netz (% der Zeit)", share(&TLimitShares::Network));
  const bool receiving = FRun.Direction == TDirection::Receive;
  row(receiving ? "Begrenzt durch das Empfangsfenster dieses Rechners (% der Zeit)"
                : "Begrenzt durch das Empfangsfenster des Servers (% der Zeit)",
      share(&TLimitShares::ReceiveWindow));
  row(receiving ? "Begrenzt durch den Sendepuffer des Servers (% der Zeit)"
                : "Begrenzt durch den Sendepuffer (% der Zeit)",
      share(&TLimitShares::SendBuffer));
  row(receiving ? "Begrenzt durch den Server (% der Zeit)" : "Begrenzt durch das Programm (% der Zeit)",
      share(&TLimitShares::Program));
  row("Hauptursache", limits ? LimitName(limits->Main(), FRun.Direction) : QString());
  row("Richtung", DirectionName(FRun.Direction));
  text += QStringLiteral("Sekunden;kiBytes/s;Umlaufzeit (ms);Erneut gesendet (%);Begrenzt durch\n");
  for (std::size_t i = 0; i < FElapsedMs.size(); ++i) {
    const TPointDetails& details = FDetails[i];
    text += Seconds(FElapsedMs[i], locale) + u';' + FormatFixed2(FRates[i], locale) + u';' +
            FormatMilliseconds(details.RttMs, locale) + u';' + FormatFixed1(details.RetransPercent, locale) + u';' +
            LimitName(details.Limit, FRun.Direction) + u'\n';
  }
  return text.toUtf8();
}
