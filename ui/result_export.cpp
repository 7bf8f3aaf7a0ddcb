#include "ui/result_export.h"

#include <locale.h>

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QPixmap>
#include <QSaveFile>
#include <QShortcut>
#include <QStandardPaths>

#include <cstring>

#include "measure/measurement_controller.h"
#include "measure/run_details.h"
#include "measure/run_history.h"
#include "ui/components/message_service.h"
#include "ui/rate_chart.h"
#include "ui/save_dialog.h"
#include "ui/window_texts.h"

namespace {
// The folder of the last save, for as long as the program runs.
QString& LastFolder() {
  static QString folder;
  return folder;
}

QString DefaultFolder() {
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return !documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath();
}
}  // namespace

TResultExport::TResultExport(TRateChart& chart, const TRunHistory& history, const TRunDetails& details, QWidget* window)
    : QObject(window), FChart(chart), FHistory(history), FDetails(details), FWindow(window), FMenu(new QMenu(window)) {
  FMenu->setObjectName(QStringLiteral("ChartMenu"));
  FMenu->addAction(texts::CopyChartEntry, this, &TResultExport::CopyChart);
  FMenu->addAction(texts::SaveChartEntry, this, &TResultExport::SaveChart);
  FSaveMeasurement = FMenu->addAction(texts::SaveMeasurementEntry, this, &TResultExport::SaveMeasurement);
  FSaveMeasurement->setShortcut(QKeySequence::Save);  // shown in the menu; the window's shortcut acts
  auto* save = new QShortcut(QKeySequence::Save, window);
  connect(save, &QShortcut::activated, this, &TResultExport::SaveMeasurement);
}

void TResultExport::ShowMenu(const QPoint& globalPosition) {
  FSaveMeasurement->setEnabled(FHistory.HasRun());
  FMenu->popup(globalPosition);
}

void TResultExport::CopyChart() { QGuiApplication::clipboard()->setPixmap(FChart.Picture()); }

void TResultExport::SaveChart() {
  // Rendered at the screen's device pixel ratio: the picture is as sharp as the chart on it.
  const QPixmap picture = FChart.Picture();
  SaveFileAs(FWindow, texts::SaveChartCaption, ProposedPath(texts::ChartFilePrefix, QStringLiteral(".png")),
             texts::ChartFileFilter, [&](const QString&, QIODevice& file) { return picture.save(&file, "PNG"); });
}

namespace {
// Why a file could not be written, in the system's German words where it has German messages (a
// system with the German locale); as the system worded it otherwise. Qt translates the few causes
// it words itself.
QString GermanCause(const QString& reason) {
  static const locale_t german = newlocale(LC_MESSAGES_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
  if (german == static_cast<locale_t>(nullptr)) return reason;
  for (int code = 1; code < 256; ++code) {
    if (reason == QString::fromLocal8Bit(std::strerror(code))) return QString::fromUtf8(strerror_l(code, german));
  }
  return reason;
}
}  // namespace

void TResultExport::SaveMeasurement() {
  if (!FHistory.HasRun()) return;
  // Taken when asked: a run that goes on while the dialog is open keeps adding to the history.
  SaveFileAs(FWindow, texts::SaveMeasurementCaption, ProposedPath(texts::MeasurementFilePrefix, QStringLiteral(".csv")),
             texts::MeasurementFileFilter, [&](const QString&, QIODevice& file) {
               return file.write(FHistory.ToCsv(QLocale(), FDetails.Summary())) >= 0;
             });
}

QString ProposedSavePath(const QString& prefix, const QDateTime& moment, const QString& suffix) {
  const QString folder = LastFolder().isEmpty() ? DefaultFolder() : LastFolder();
  return QDir(folder).filePath(prefix + moment.toString(QStringLiteral(" yyyy-MM-dd HH-mm-ss")) + suffix);
}

QString TResultExport::ProposedPath(const QString& prefix, const QString& suffix) const {
  return ProposedSavePath(prefix, FHistory.HasRun() ? FHistory.Run().Start : QDateTime::currentDateTime(), suffix);
}

void SaveFileAs(QWidget* window, const QString& caption, const QString& proposed, const QString& filter,
                const std::function<bool(const QString& path, QIODevice& file)>& write) {
  const QString path = TSaveDialog::Ask(window, caption, proposed, filter);
  if (path.isEmpty()) return;
  LastFolder() = QFileInfo(path).absolutePath();
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && write(path, file) && file.commit()) return;
  const QString reason = GermanCause(file.errorString());
  file.cancelWriting();
  TMessageService::Show(
      {texts::SaveFailed(QDir::toNativeSeparators(path), reason), texts::ErrorCaption, QMessageBox::Warning}, window);
}
