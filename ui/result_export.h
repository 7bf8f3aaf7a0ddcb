#pragma once
// Keeping a result: the chart's context menu copies the chart as a picture or saves it as PNG, and
// saves every point of the current or the last run as a table; Ctrl+S saves the points too. The
// folder of the last save is proposed again while the program runs; nothing goes into the settings.

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QDateTime;
class QIODevice;
class QMenu;
class QPoint;
class QWidget;
class TRateChart;
class TRunDetails;
class TRunHistory;

// The file proposed for a save: the prefix, the moment and the suffix, in the folder of the last
// save while the program runs (the documents folder, or home, before it).
QString ProposedSavePath(const QString& prefix, const QDateTime& moment, const QString& suffix);
// Asks for the path and writes through a temporary file that replaces the target only when
// complete; a failure is told in German and leaves nothing behind. write gets the chosen path too.
void SaveFileAs(QWidget* window, const QString& caption, const QString& proposed, const QString& filter,
                const std::function<bool(const QString& path, QIODevice& file)>& write);

class TResultExport : public QObject {
  Q_OBJECT

 public:
  TResultExport(TRateChart& chart, const TRunHistory& history, const TRunDetails& details, QWidget* window);

  QMenu* Menu() const { return FMenu; }
  // Opens the menu at a global position without waiting for it.
  void ShowMenu(const QPoint& globalPosition);

  void CopyChart();
  void SaveChart();
  void SaveMeasurement();

 private:
  // The proposed file: the run's start (or now) in its name.
  QString ProposedPath(const QString& prefix, const QString& suffix) const;

  TRateChart& FChart;
  const TRunHistory& FHistory;
  const TRunDetails& FDetails;
  QWidget* FWindow;
  QMenu* FMenu;
  QAction* FSaveMeasurement;
};
