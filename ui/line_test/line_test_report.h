#pragma once
// A line test's result as a person reads it (the command line's report, "Kopieren"), as one JSON
// object for scripts, and as CSV for a spreadsheet with the user's decimal separator.

#include <QByteArray>
#include <QLocale>
#include <QString>

#include "ui/line_test/line_test_result.h"

namespace linetest {

QString ReportText(const TResult& result, const QLocale& locale = QLocale());
// One line, with the keys the command line documents; unknown figures are null. The history keeps
// the points apart and leaves them out.
QByteArray ReportJson(const TResult& result, bool withPoints = true);
// The result that ReportJson wrote, back again (its points too where it has them); none for text
// that is no such object. Only what ReportJson keeps comes back: not the probes' counts.
std::optional<TResult> ResultFromJson(const QByteArray& json);
QString ReportCsv(const TResult& result, const QLocale& locale = QLocale());

// "18,9 Mbit/s (2310 kiB/s)"; empty when unknown.
QString RateText(std::optional<double> mbit, const QLocale& locale = QLocale());

}  // namespace linetest
