#pragma once
// The window "Messdetails": what the connection's own state tells about the current or the last
// run, in plain German, for the user and as one block to copy into a ticket to the provider. It is
// not modal and, while a run goes on, follows it once a second. It opens beside the main window, so
// that the chart it explains stays in view. Its text is composed by DetailsText in ui/window_texts.h.

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class TMeasurementRun;

// Moves a window about to open beside its parent's main window, where it hides least of the chart.
void PlaceBesideMainWindow(QWidget& window, const QWidget& chart);

class TMeasurementDetails : public QDialog {
  Q_OBJECT

 public:
  // The parent is the main window; the chart is the part of it that should stay in view.
  TMeasurementDetails(const TMeasurementRun& run, const QWidget& chart, QWidget* parent);

  // Shows the window, or brings it to the front, with the figures of now. A window that opens is
  // placed beside the main window; one already open stays where the user left it.
  void Open();
  QString Text() const;
  void CopyText() const;

 private:
  void Refresh();
  void PlaceBesideMainWindow();

  const TMeasurementRun& FRun;
  const QWidget& FChart;
  QPlainTextEdit* FText;
};
