#pragma once
// The run's details in words and numbers, as the saved measurement, the details window and the
// chart's tooltips give them: German, numbers with the locale's decimal separator and no grouping.

#include <QLocale>
#include <QString>

#include <optional>

#include "measure/run_details.h"

// "Netz", "Empfangsfenster des Servers", "Sendepuffer", "Programm"; empty when unknown.
QString LimitName(TRateLimit limit);

// value with one decimal; empty when unknown (none, or not a number).
QString FormatFixed1(double value, const QLocale& locale = QLocale());
QString FormatFixed1(std::optional<double> value, const QLocale& locale = QLocale());

// A share from 0 to 1 as whole per cent; empty when unknown.
QString FormatPercent(std::optional<double> share, const QLocale& locale = QLocale());
