#pragma once
// Every German text the windows show: the main window's controls, the chart, its menu and save
// dialogs, the About box and the window "Messdetails" with the texts it composes. The measurement's
// own texts are in measure/measure_texts.h, numbers in them come from measure/number_format.h.

#include <QKeySequence>
#include <QLocale>
#include <QString>

#include <optional>

#include "base/direction.h"

class TMeasurementRun;
struct TPointDetails;

namespace texts {
// Main window: the label of the server field, the three buttons, the expert panel and its labels.
inline const QString ServerLabel = QStringLiteral("Name / IP des Servers:");
inline const QString StartCaption = QStringLiteral("&Start");
inline const QString StopCaption = QStringLiteral("St&op");
inline const QString InfoHelpCaption = QStringLiteral("&Info / Hilfe");
inline const QString ExpertPanelTitle = QStringLiteral(" Weitere Einstellungen: ");
inline const QString BlockSizeLabel = QStringLiteral("Blockgröße:");
inline const QString PortLabel = QStringLiteral("Port-Nr.:");
inline const QString DirectionLabel = QStringLiteral("&Richtung:");
// Added to the main window's title in expert mode.
inline const QString ExpertTitleSuffix = QStringLiteral(" Pro");
// The chart's title, and its name for screen readers.
inline const QString ChartTitle = QStringLiteral("Übertragungsrate");
// The chart's axis titles.
inline const QString SecondsAxisTitle = QStringLiteral("Sekunden");
inline const QString RateAxisTitle = QStringLiteral("kiBytes/s");
// The right axis, shown with the round-trip line only.
inline const QString RoundTripAxisTitle = QStringLiteral("Umlaufzeit (ms)");
// The chart's description for screen readers: the latest point, the average and, once known, the
// latest round trip; a download says so first.
QString ChartDescription(double latestSeconds, double latestRate, double average, std::optional<double> latestRttMs,
                         TDirection direction = TDirection::Send);

// The chart's menu.
inline const QString CopyChartEntry = QStringLiteral("Diagramm &kopieren");
inline const QString SaveChartEntry = QStringLiteral("Diagramm &speichern …");
inline const QString SaveMeasurementEntry = QStringLiteral("&Messwerte speichern …");
inline const QString DetailsEntry = QStringLiteral("Mess&details …");
inline const QString RoundTripEntry = QStringLiteral("&Umlaufzeit anzeigen");
inline const QString LineTestEntry = QStringLiteral("&Leitung prüfen …");
inline const QKeySequence LineTestShortcut{Qt::CTRL | Qt::Key_L};
// The history: its window, and whether single measurements are kept in it as well.
inline const QString HistoryEntry = QStringLiteral("&Verlauf …");
inline const QKeySequence HistoryShortcut{Qt::CTRL | Qt::Key_H};
inline const QString KeepRunsEntry = QStringLiteral("Messungen im Verlauf &behalten");
inline const QString HistoryCaption = QStringLiteral("Verlauf");
inline const QString LineTestNeedsServer = QStringLiteral(
    "Bitte geben Sie zuerst den Namen oder die Adresse des Servers ein, dessen Leitung geprüft werden soll.");
// The save dialogs: caption, the proposed name's first word (the run's start follows), file filter.
inline const QString SaveChartCaption = QStringLiteral("Diagramm speichern");
inline const QString ChartFilePrefix = QStringLiteral("Diagramm");
inline const QString ChartFileFilter = QStringLiteral("PNG-Bilder (*.png)");
inline const QString SaveMeasurementCaption = QStringLiteral("Messwerte speichern");
inline const QString MeasurementFilePrefix = QStringLiteral("Messung");
inline const QString MeasurementFileFilter = QStringLiteral("Messwerte (*.csv)");
// The message after a failed save; path as the system writes it, reason in the system's words.
QString SaveFailed(const QString& path, const QString& reason);

// The About box: its title, the label before the e-mail address and its two buttons.
inline const QString AboutTitle = QStringLiteral("Über ...");
inline const QString EMailLabel = QStringLiteral("E-Mail: ");
inline const QString OkCaption = QStringLiteral("OK");
inline const QString HelpCaption = QStringLiteral("&Hilfe");

// The window "Messdetails": its title (also the name of its text for screen readers), its two
// buttons, and what it shows for a figure the connection did not tell.
inline const QString DetailsTitle = QStringLiteral("Messdetails");
inline const QString CopyCaption = QStringLiteral("&Kopieren");
inline const QString CloseCaption = QStringLiteral("Schl&ießen");
inline const QString Unknown = QStringLiteral("nicht bekannt");
}  // namespace texts

// The whole text of the window "Messdetails".
QString DetailsText(const TMeasurementRun& run, const QLocale& locale = QLocale());

// A chart point's tooltip: its second and rate, its round trip and its share sent again.
QString PointToolTipText(double seconds, double rate, const TPointDetails* details, const QLocale& locale = QLocale());
