#pragma once
// The status-bar text with the sliding average rate.

#include <QLocale>
#include <QString>

// value with exactly two decimals: first expanded to 18 significant digits, then rounded at the
// second decimal with halves away from zero (0.125 gives 0.13), no grouping, the locale's
// decimal separator.
QString FormatFixed2(double value, const QLocale& locale);

// The locale as the program shows numbers in it: its decimal separator, no digit grouping.
QLocale PlainNumbers(QLocale locale = QLocale());

// "Durchschnittliche Übertragungsrate: %.2f kiBytes/s" with the number as above.
QString AverageText(double average, const QLocale& locale = QLocale());
