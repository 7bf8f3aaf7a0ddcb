#pragma once
// How the program writes numbers and dates for people: the status bar, the details, the tooltips,
// the chart's labels and the saved measurement all call these. Numbers take the locale's decimal
// separator and no digit grouping; an unknown figure (none, or not a number) is an empty text.

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

// The locale as the program shows numbers in it: its decimal separator, no digit grouping.
QLocale PlainNumbers(QLocale locale = QLocale());

// value with exactly two decimals: first expanded to 18 significant digits, then rounded at the
// second decimal with halves away from zero (0.125 gives 0.13).
QString FormatFixed2(double value, const QLocale& locale = QLocale());

// value with one decimal.
QString FormatFixed1(double value, const QLocale& locale = QLocale());
QString FormatFixed1(std::optional<double> value, const QLocale& locale = QLocale());

// value rounded to a whole number.
QString FormatWhole(double value, const QLocale& locale = QLocale());

// A share from 0 to 1 as whole per cent.
QString FormatPercent(std::optional<double> share, const QLocale& locale = QLocale());

// Milliseconds of a round trip with the precision they have: one decimal from 1 ms on, three below
// (a loopback or LAN round trip of 42 µs reads 0,042, not 0,0).
QString FormatMilliseconds(std::optional<double> ms, const QLocale& locale = QLocale());

// A moment as German readers write it, whatever the locale: 09.12.2026, 14:05:31.
QString GermanDateTime(const QDateTime& moment);
