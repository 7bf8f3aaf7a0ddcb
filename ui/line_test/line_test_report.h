#pragma once
// A line test's result as a person reads it (the command line's report, "Kopieren"), as one JSON
// object for scripts, and as CSV for a spreadsheet with the user's decimal separator.

#include <QByteArray>
#include <QLocale>
#include <QString>

#include "ui/line_test/line_test_result.h"

namespace linetest {

QString ReportText(const TResult& result, const QLocale& locale = QLocale());
// One line, with the keys the command line documents; unknown figures are null.
QByteArray ReportJson(const TResult& result);
QString ReportCsv(const TResult& result, const QLocale& locale = QLocale());

// "18,9 Mbit/s (2310 kiB/s)"; empty when unknown.
QString RateText(std::optional<double> mbit, const QLocale& locale = QLocale());

}  // namespace linetest
