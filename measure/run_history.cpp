#include "measure/run_history.h"

#include "measure/average_text.h"

void TRunHistory::Begin(TRunDescription run) {
  FRun = std::move(run);
  FElapsedMs.clear();
  FRates.clear();
  FRateSum = 0;
}

void TRunHistory::Add(std::uint32_t elapsedMs, double rate) {
  FElapsedMs.push_back(elapsedMs);
  FRates.push_back(rate);
  FRateSum += rate;
}

namespace {
// Exact from the milliseconds: seconds with three decimals.
QString Seconds(std::uint32_t ms, const QLocale& locale) {
  return QStringLiteral("%1%2%3").arg(ms / 1000).arg(locale.decimalPoint()).arg(ms % 1000, 3, 10, QLatin1Char('0'));
}
}  // namespace

// Rates are formatted as the status bar's average is, so the file's mean and the window's agree.
QByteArray TRunHistory::ToCsv(const QLocale& locale) const {
  QString text;
  text += QStringLiteral("Server;%1\n").arg(FRun.Server);
  text += QStringLiteral("Port;%1\n").arg(FRun.Port);
  text += QStringLiteral("Blockgröße (Bytes);%1\n").arg(FRun.BlockSize);
  text += QStringLiteral("Start;%1\n").arg(FRun.Start.toString(Qt::ISODate));
  text += QStringLiteral("Dauer (s);%1\n").arg(Seconds(FElapsedMs.empty() ? 0 : FElapsedMs.back(), locale));
  text += QStringLiteral("Mittlere Rate (kiBytes/s);%1\n").arg(FormatFixed2(MeanRate(), locale));
  text += QStringLiteral("Sekunden;kiBytes/s\n");
  for (std::size_t i = 0; i < FElapsedMs.size(); ++i) {
    text += Seconds(FElapsedMs[i], locale) + u';' + FormatFixed2(FRates[i], locale) + u'\n';
  }
  return text.toUtf8();
}
