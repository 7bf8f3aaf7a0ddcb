#include "run_history.h"

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

QByteArray TRunHistory::ToCsv(const QLocale& locale) const {
  QLocale numbers = locale;
  numbers.setNumberOptions(numbers.numberOptions() | QLocale::OmitGroupSeparator);
  const auto fixed = [&](double value, int decimals) { return numbers.toString(value, 'f', decimals); };
  const double duration = FElapsedMs.empty() ? 0.0 : FElapsedMs.back() / 1000.0;
  QString text;
  text += QStringLiteral("Server;%1\n").arg(FRun.server);
  text += QStringLiteral("Port;%1\n").arg(FRun.port);
  text += QStringLiteral("Blockgröße (Bytes);%1\n").arg(FRun.blockSize);
  text += QStringLiteral("Start;%1\n").arg(FRun.start.toString(Qt::ISODate));
  text += QStringLiteral("Dauer (s);%1\n").arg(fixed(duration, 3));
  text += QStringLiteral("Mittlere Rate (kiBytes/s);%1\n").arg(fixed(MeanRate(), 2));
  text += QStringLiteral("Sekunden;kiBytes/s\n");
  for (std::size_t i = 0; i < FElapsedMs.size(); ++i) {
    text += fixed(FElapsedMs[i] / 1000.0, 3) + u';' + fixed(FRates[i], 2) + u'\n';
  }
  return text.toUtf8();
}
