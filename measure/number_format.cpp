#include "measure/number_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

QString FormatFixed2(double value, const QLocale& locale) {
  if (!std::isfinite(value)) return QString::number(value);
  const bool negative = std::signbit(value) && value != 0;
  char scientific[40];
  std::snprintf(scientific, sizeof scientific, "%.17e", std::fabs(value));  // d.ddddddddddddddddde±X
  std::string digits(1, scientific[0]);
  digits += std::string(scientific + 2, 17);
  const int exponent = std::atoi(std::strchr(scientific, 'e') + 1);

  // Lay the 18 digits out around the decimal point, keeping two decimals and the one after them.
  std::string whole, fraction;
  const int integerDigits = exponent + 1;
  if (integerDigits > 0) {
    whole = digits.substr(0, static_cast<std::size_t>(std::min(integerDigits, 18)));
    whole.append(static_cast<std::size_t>(std::max(0, integerDigits - 18)), '0');
    fraction = integerDigits < 18 ? digits.substr(static_cast<std::size_t>(integerDigits)) : "";
  } else {
    whole = "0";
    fraction = std::string(static_cast<std::size_t>(-integerDigits), '0') + digits;
  }
  fraction.append(3, '0');

  std::string kept = whole + fraction.substr(0, 2);
  if (fraction[2] >= '5') {  // half away from zero: the sign is handled apart
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[static_cast<std::size_t>(i)] == '9') kept[static_cast<std::size_t>(i--)] = '0';
    if (i < 0) {
      kept.insert(kept.begin(), '1');
    } else {
      ++kept[static_cast<std::size_t>(i)];
    }
  }
  std::string integerPart = kept.substr(0, kept.size() - 2);
  integerPart.erase(0, std::min(integerPart.find_first_not_of('0'), integerPart.size() - 1));
  const bool isZero = integerPart == "0" && kept.substr(kept.size() - 2) == "00";
  QString text = QString::fromStdString((negative && !isZero ? "-" : "") + integerPart);
  return text + locale.decimalPoint() + QString::fromStdString(kept.substr(kept.size() - 2));
}

QLocale PlainNumbers(QLocale locale) {
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  return locale;
}

QString FormatFixed1(double value, const QLocale& locale) {
  if (!std::isfinite(value)) return {};
  return PlainNumbers(locale).toString(value, 'f', 1);
}

QString FormatFixed1(std::optional<double> value, const QLocale& locale) {
  return value ? FormatFixed1(*value, locale) : QString();
}

QString FormatWhole(double value, const QLocale& locale) {
  if (!std::isfinite(value)) return {};
  return PlainNumbers(locale).toString(static_cast<qlonglong>(std::llround(value)));
}

QString FormatPercent(std::optional<double> share, const QLocale& locale) {
  return share ? FormatWhole(*share * 100, locale) : QString();
}

QString FormatMilliseconds(std::optional<double> ms, const QLocale& locale) {
  if (!ms || !std::isfinite(*ms)) return {};
  return PlainNumbers(locale).toString(*ms, 'f', std::abs(*ms) < 1 ? 3 : 1);
}

QString GermanDateTime(const QDateTime& moment) {
  // Digits only: no month name a C or English locale could put in.
  return QLocale::c().toString(moment, QStringLiteral("dd.MM.yyyy, HH:mm:ss"));
}
