#include "ui/line_test_window.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <cmath>

#include "measure/number_format.h"
#include "ui/line_test/line_test_report.h"
#include "ui/measurement_details.h"
#include "ui/result_export.h"

namespace {
const QString Title = QStringLiteral("Leitungstest");
const QColor DownloadColour(Qt::red);
const QColor UploadColour(0, 128, 0);
const QColor LatencyColour(Qt::blue);
// Fits a 1024 × 768 screen with its panel, beside or below the main window's default place.
constexpr QSize DesignSize{600, 560};

QString Big(const QString& name, const QString& value) {
  return QStringLiteral(
             "<td align=center style='padding:0 10px'><span style='font-size:18pt; font-weight:bold'>%1"
             "</span><br>%2</td>")
      .arg(value.isEmpty() ? QStringLiteral("–") : value.toHtmlEscaped(), name.toHtmlEscaped());
}
}  // namespace

TLineTestWindow::TLineTestWindow(const QWidget& chart, QWidget* parent)
    : QDialog(parent),
      FMainChart(chart),
      FClock(new QTimer(this)),
      FHeading(new QLabel(this)),
      FPhases(new QLabel(this)),
      FProgress(new QProgressBar(this)),
      FTimeLeft(new QLabel(this)),
      FFigures(new QLabel(this)),
      FVerdict(new QLabel(this)),
      FKeepError(new QLabel(this)),
      FChart(new QChart),
      FDownload(new QLineSeries),
      FUpload(new QLineSeries),
      FLatency(new QLineSeries),
      FTimeAxis(new QValueAxis),
      FRateAxis(new QValueAxis),
      FLatencyAxis(new QValueAxis),
      FButtons(new QDialogButtonBox(this)) {
  setObjectName(QStringLiteral("LineTestWindow"));
  setWindowTitle(Title);
  setModal(false);
  resize(DesignSize);
  setAccessibleName(Title);

  FHeading->setWordWrap(true);
  FProgress->setRange(0, 1000);
  FProgress->setTextVisible(false);
  FProgress->setAccessibleName(QStringLiteral("Fortschritt des Tests"));
  FFigures->setTextFormat(Qt::RichText);
  FFigures->setAccessibleName(QStringLiteral("Ergebnis"));
  FVerdict->setWordWrap(true);
  FVerdict->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  FVerdict->setFocusPolicy(Qt::StrongFocus);
  FVerdict->setAccessibleName(QStringLiteral("Urteil"));
  FKeepError->setWordWrap(true);
  FKeepError->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  FKeepError->setAccessibleName(QStringLiteral("Speichern im Verlauf"));
  FKeepError->setStyleSheet(QStringLiteral("color: #a00000"));
  FKeepError->hide();

  FDownload->setName(QStringLiteral("Download (Mbit/s)"));
  FDownload->setColor(DownloadColour);
  FUpload->setName(QStringLiteral("Upload (Mbit/s)"));
  FUpload->setColor(UploadColour);
  FFirstDownload = FDownload;
  FFirstUpload = FUpload;
  FLatency->setName(QStringLiteral("Latenz (ms)"));
  FLatency->setColor(LatencyColour);
  for (QLineSeries* line : {FDownload, FUpload, FLatency}) FChart->addSeries(line);
  FTimeAxis->setTitleText(QStringLiteral("Sekunden"));
  FTimeAxis->setLabelFormat(QStringLiteral("%d"));
  FRateAxis->setTitleText(QStringLiteral("Mbit/s"));
  FLatencyAxis->setTitleText(QStringLiteral("Latenz (ms)"));
  FLatencyAxis->setTitleBrush(LatencyColour);
  FLatencyAxis->setLabelsBrush(LatencyColour);
  FChart->addAxis(FTimeAxis, Qt::AlignBottom);
  FChart->addAxis(FRateAxis, Qt::AlignLeft);
  FChart->addAxis(FLatencyAxis, Qt::AlignRight);
  // The phase marks span the plot's height on an axis of their own, which is not shown.
  FMarkAxis = new QValueAxis;
  FMarkAxis->setRange(0, 1);
  FMarkAxis->setVisible(false);
  FChart->addAxis(FMarkAxis, Qt::AlignLeft);
  FTimeAxis->setTickType(QValueAxis::TicksDynamic);
  FTimeAxis->setTickAnchor(0);
  FTimeAxis->setTickInterval(5);
  for (QLineSeries* line : {FDownload, FUpload}) {
    line->attachAxis(FTimeAxis);
    line->attachAxis(FRateAxis);
  }
  FLatency->attachAxis(FTimeAxis);
  FLatency->attachAxis(FLatencyAxis);
  FChart->legend()->setAlignment(Qt::AlignBottom);
  FChart->setMargins(QMargins(2, 2, 2, 2));
  FChartView = new QChartView(FChart, this);
  FChartView->setRenderHint(QPainter::Antialiasing);
  FChartView->setAccessibleName(QStringLiteral("Verlauf des Tests"));
  FChartView->setMinimumHeight(200);

  FCancelButton = FButtons->addButton(QStringLiteral("&Abbrechen"), QDialogButtonBox::RejectRole);
  FCopyButton = FButtons->addButton(QStringLiteral("&Kopieren"), QDialogButtonBox::ActionRole);
  FSaveButton = FButtons->addButton(QStringLiteral("&Speichern …"), QDialogButtonBox::ActionRole);
  FCloseButton = FButtons->addButton(QStringLiteral("S&chließen"), QDialogButtonBox::AcceptRole);
  connect(FCancelButton, &QPushButton::clicked, this, [this] {
    Cancel();
    close();
  });
  connect(FCopyButton, &QPushButton::clicked, this, &TLineTestWindow::CopyResult);
  connect(FSaveButton, &QPushButton::clicked, this, &TLineTestWindow::SaveResult);
  connect(FCloseButton, &QPushButton::clicked, this, &QDialog::close);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FHeading);
  layout->addWidget(FPhases);
  auto* progress = new QHBoxLayout;
  progress->addWidget(FProgress, 1);
  progress->addWidget(FTimeLeft);
  layout->addLayout(progress);
  layout->addWidget(FFigures);
  layout->addWidget(FVerdict);
  layout->addWidget(FKeepError);
  layout->addWidget(FChartView, 1);
  layout->addWidget(FButtons);

  FClock->setInterval(250);
  connect(FClock, &QTimer::timeout, this, &TLineTestWindow::UpdateTimeLeft);
}

TLineTestWindow::~TLineTestWindow() { Cancel(); }

void TLineTestWindow::StartTest(const QString& server, int port) {
  if (Running()) return;
  delete FTest;
  linetest::TOptions options;
  options.Host = server;
  options.Port = port;
  options.PhaseSeconds = PhaseSeconds;
  FTest = new linetest::TLineTest(options, this);
  FResult = {};
  FTotalSeconds = linetest::TotalLength(options);
  FPhaseEndsAt = 0;
  ClearChart();
  FHeading->setText(QStringLiteral("Prüfe die Leitung zu %1 (Port %2) …").arg(server.toHtmlEscaped()).arg(port));
  FPhases->setText(QStringLiteral("Verbinde …"));
  FProgress->setValue(0);
  FProgress->show();
  FTimeLeft->show();
  FFigures->hide();
  FVerdict->hide();
  FKeepError->hide();
  FCancelButton->show();
  FCopyButton->hide();
  FSaveButton->hide();
  FCloseButton->hide();
  connect(FTest, &linetest::TLineTest::AddressChosen, this, [this, server, port](const QString& address) {
    FHeading->setText(QStringLiteral("Prüfe die Leitung zu %1 (%2, Port %3) …").arg(server, address).arg(port));
  });
  connect(FTest, &linetest::TLineTest::PhaseStarted, this, &TLineTestWindow::ShowPhase);
  connect(FTest, &linetest::TLineTest::PointAdded, this, &TLineTestWindow::AddPoint);
  connect(FTest, &linetest::TLineTest::Finished, this, &TLineTestWindow::Finish);
  if (!isVisible()) PlaceBesideMainWindow(*this, FMainChart);
  show();
  raise();
  activateWindow();
  FCancelButton->setFocus();
  FStartedMs = QDateTime::currentMSecsSinceEpoch();
  FClock->start();
  FTest->Start();
  emit RunningChanged(true);
}

void TLineTestWindow::ClearChart() {
  FDownload = FFirstDownload;
  FUpload = FFirstUpload;
  FGaps.clear();
  for (QLineSeries* line : {FDownload, FUpload, FLatency}) line->clear();
  for (QLineSeries* mark : FPhaseMarks + FPieces) {
    FChart->removeSeries(mark);
    delete mark;
  }
  FPhaseMarks.clear();
  FPieces.clear();
  FHighestRate = 1;
  FHighestLatency = 1;
  FTimeAxis->setRange(0, std::max(1.0, FTotalSeconds));
  FRateAxis->setRange(0, 1);
  FLatencyAxis->setRange(0, 1);
}

void TLineTestWindow::ShowPhase(linetest::TPhase phase, double atSeconds) {
  QStringList names;
  for (linetest::TPhase each : linetest::AllPhases) {
    const QString name = linetest::PhaseName(each);
    names << (each == phase ? QStringLiteral("<b>▶ %1</b>").arg(name) : name);
  }
  FPhases->setText(names.join(QStringLiteral(" · ")));
  FPhases->setAccessibleName(QStringLiteral("Abschnitt: %1").arg(linetest::PhaseName(phase)));
  FPhaseEndsAt = atSeconds + linetest::PhaseLength(FTest->Options(), phase);
  AddPhaseMark(atSeconds);
}

// A dashed line where each phase but the first begins marks the phases on the chart.
void TLineTestWindow::AddPhaseMark(double atSeconds) {
  if (atSeconds > 0) {
    auto* mark = new QLineSeries;
    mark->setPen(QPen(Qt::gray, 1, Qt::DashLine));
    mark->append(atSeconds, 0);
    mark->append(atSeconds, 1);
    FChart->addSeries(mark);
    mark->attachAxis(FTimeAxis);
    mark->attachAxis(FMarkAxis);
    FChart->legend()->markers(mark).first()->setVisible(false);
    FPhaseMarks << mark;
  }
}

// A direction that pauses for a phase goes on in a new piece of its line, so no line bridges the gap.
void TLineTestWindow::Extend(QLineSeries*& line, double seconds, double mbit) {
  if (!std::isfinite(mbit)) {
    if (line->count() > 0) FGaps.insert(line);
    return;
  }
  if (FGaps.remove(line)) {
    auto* piece = new QLineSeries;
    piece->setName(line->name());
    piece->setPen(line->pen());
    FChart->addSeries(piece);
    piece->attachAxis(FTimeAxis);
    piece->attachAxis(FRateAxis);
    FChart->legend()->markers(piece).first()->setVisible(false);
    FPieces << piece;
    line = piece;
  }
  line->append(seconds, mbit);
  FHighestRate = std::max(FHighestRate, mbit);
}

void TLineTestWindow::AddPoint(const linetest::TPoint& point) {
  Extend(FDownload, point.Seconds, point.DownloadMbit);
  Extend(FUpload, point.Seconds, point.UploadMbit);
  if (std::isfinite(point.LatencyMs)) {
    FLatency->append(point.Seconds, point.LatencyMs);
    FHighestLatency = std::max(FHighestLatency, point.LatencyMs);
  }
  FRateAxis->setRange(0, FHighestRate * 1.1);
  FRateAxis->applyNiceNumbers();
  FLatencyAxis->setRange(0, FHighestLatency * 1.1);
  FLatencyAxis->applyNiceNumbers();
  if (point.Seconds > FTimeAxis->max()) FTimeAxis->setMax(point.Seconds);
}

void TLineTestWindow::UpdateTimeLeft() {
  const double elapsed = (QDateTime::currentMSecsSinceEpoch() - FStartedMs) / 1000.0;
  FProgress->setValue(static_cast<int>(std::min(1.0, elapsed / FTotalSeconds) * 1000));
  const int left = static_cast<int>(std::ceil(std::max(0.0, FTotalSeconds - elapsed)));
  FTimeLeft->setText(QStringLiteral("noch etwa %1 s").arg(left));
  FProgress->setAccessibleDescription(FTimeLeft->text());
}

void TLineTestWindow::Finish(const linetest::TResult& result) {
  EndTest();
  ShowResult(result);
  if (!result.Error.isEmpty() || !KeepResult) return;
  const QString failed = KeepResult(result);
  // The result stays on show, and can still be copied and saved.
  FKeepError->setText(failed);
  FKeepError->setVisible(!failed.isEmpty());
}

QString TLineTestWindow::KeepError() const { return FKeepError->isHidden() ? QString() : FKeepError->text(); }

void TLineTestWindow::ShowStoredResult(const linetest::TResult& result) {
  Cancel();
  linetest::TOptions options;
  options.PhaseSeconds = result.PhaseSeconds > 0 ? result.PhaseSeconds : PhaseSeconds;
  FTotalSeconds = linetest::TotalLength(options);
  ClearChart();
  // The phases' marks where they were planned to begin; the points show where each really went.
  double at = 0;
  for (linetest::TPhase phase : linetest::AllPhases) {
    AddPhaseMark(at);
    at += linetest::PhaseLength(options, phase);
  }
  for (const linetest::TPoint& point : result.Points) AddPoint(point);
  ShowResult(result);
  if (!isVisible()) PlaceBesideMainWindow(*this, FMainChart);
  show();
  raise();
  activateWindow();
}

void TLineTestWindow::ShowResult(const linetest::TResult& result) {
  FResult = result;
  FKeepError->hide();
  FProgress->hide();
  FTimeLeft->hide();
  FPhases->setText({});
  FCancelButton->hide();
  FCloseButton->show();
  FVerdict->show();
  if (!result.Error.isEmpty()) {
    FHeading->setText(QStringLiteral("Der Test gegen %1 konnte nicht durchgeführt werden.").arg(result.Server));
    FVerdict->setText(result.Error);
    FFigures->hide();
    FCopyButton->hide();
    FSaveButton->hide();
    FCloseButton->setFocus();
    return;
  }
  FHeading->setText(QStringLiteral("Leitungstest gegen %1 (%2, Port %3), %4")
                        .arg(result.Server, result.Address)
                        .arg(result.Port)
                        .arg(GermanDateTime(result.Start)));
  const auto mbit = [](std::optional<double> value) {
    return value ? FormatFixed1(*value) + QStringLiteral(" Mbit/s") : QString();
  };
  const auto& loaded = result.Upload.Latency.MedianMs ? result.Upload.Latency : result.Download.Latency;
  const QString latency = result.Idle.MedianMs
                              ? QStringLiteral("%1 / %2 ms")
                                    .arg(FormatMilliseconds(result.Idle.MedianMs), FormatMilliseconds(loaded.MedianMs))
                              : QString();
  FFigures->setText(
      QStringLiteral("<table><tr>") + Big(QStringLiteral("Download"), mbit(result.Download.Mbit())) +
      Big(QStringLiteral("Upload"), mbit(result.Upload.Mbit())) +
      Big(QStringLiteral("Latenz ohne / mit Last"), latency) + Big(QStringLiteral("Note"), result.Grade) +
      Big(QStringLiteral("RPM (%1)").arg(result.RpmClass), result.Rpm ? FormatWhole(*result.Rpm) : QString()) +
      QStringLiteral("</tr></table>"));
  FFigures->setAccessibleDescription(linetest::ReportText(result));
  FFigures->show();
  QString verdict = result.Verdict;
  for (const QString& missing : result.Missing) verdict += QStringLiteral("\n\nNicht gemessen: ") + missing;
  FVerdict->setText(verdict);
  FCopyButton->show();
  FSaveButton->show();
  FCopyButton->setFocus();
}

void TLineTestWindow::EndTest() {
  FClock->stop();
  emit RunningChanged(false);
}

QString TLineTestWindow::ResultText() const { return linetest::ReportText(FResult); }

void TLineTestWindow::CopyResult() { QGuiApplication::clipboard()->setText(ResultText()); }

void TLineTestWindow::SaveResult() {
  // The file's ending chooses what is written: the chart's picture, or the whole result.
  SaveFileAs(this, QStringLiteral("Ergebnis speichern"),
             ProposedSavePath(QStringLiteral("Leitungstest"), FResult.Start, QStringLiteral(".png")),
             QStringLiteral("Bild des Diagramms (*.png);;Ergebnis als JSON (*.json);;Ergebnis als CSV (*.csv)"),
             [this](const QString& path, QIODevice& file) {
               const QString suffix = QFileInfo(path).suffix().toLower();
               if (suffix == QLatin1String("png")) return FChartView->grab().save(&file, "PNG");
               if (suffix == QLatin1String("csv")) return file.write(linetest::ReportCsv(FResult).toUtf8()) >= 0;
               return file.write(linetest::ReportJson(FResult)) >= 0;
             });
}

void TLineTestWindow::Cancel() {
  if (!FTest || !FTest->Running()) return;
  FTest->Cancel();  // returns within milliseconds, a name lookup under way included
  EndTest();
}

void TLineTestWindow::closeEvent(QCloseEvent* event) {
  Cancel();
  QDialog::closeEvent(event);
}
