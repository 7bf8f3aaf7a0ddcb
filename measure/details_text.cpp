#include "measure/details_text.h"

#include <cmath>

#include "measure/average_text.h"

QString LimitName(TRateLimit limit) {
  switch (limit) {
    case TRateLimit::Network: return QStringLiteral("Netz");
    case TRateLimit::ReceiveWindow: return QStringLiteral("Empfangsfenster des Servers");
    case TRateLimit::SendBuffer: return QStringLiteral("Sendepuffer");
    case TRateLimit::Program: return QStringLiteral("Programm");
    case TRateLimit::Unknown: break;
  }
  return {};
}

QString FormatFixed1(double value, const QLocale& locale) {
  if (!std::isfinite(value)) return {};
  return PlainNumbers(locale).toString(value, 'f', 1);
}

QString FormatFixed1(std::optional<double> value, const QLocale& locale) {
  return value ? FormatFixed1(*value, locale) : QString();
}

QString FormatPercent(std::optional<double> share, const QLocale& locale) {
  if (!share) return {};
  return PlainNumbers(locale).toString(std::lround(*share * 100));
}
