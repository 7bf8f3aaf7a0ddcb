#include "ui/measurement_details.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "measure/measure_texts.h"
#include "measure/measurement_run.h"
#include "measure/number_format.h"

namespace {
const QString Unknown = QStringLiteral("nicht bekannt");

QString OrUnknown(const QString& value, const QString& unit) { return value.isEmpty() ? Unknown : value + unit; }

QString Milliseconds(std::optional<double> ms, const QLocale& locale) {
  return OrUnknown(FormatMilliseconds(ms, locale), QStringLiteral(" ms"));
}

// What the added latency means for the rest of the line.
QString QueueSentence(std::optional<double> addedMs, const QLocale& locale) {
  if (!addedMs) return {};
  if (*addedMs < 5) return QStringLiteral("Die Last dieser Messung hat die Umlaufzeit kaum verlängert.\n");
  return QStringLiteral(
             "Diese Verbindung hat vor dem Engpass der Leitung eine Warteschlange aufgebaut, in der ihre Daten "
             "bis zu etwa %1 ms warten. Gemessen ist nur die Warteschlange dieser einen Verbindung; ein Router "
             "ohne faire Warteschlangen (Flow Queueing) lässt aber alle anderen Verbindungen der Leitung, etwa "
             "Videotelefonate, in derselben Schlange warten.\n")
      .arg(FormatWhole(*addedMs, locale));
}

// The kernel's own figures as last read, for whoever reads a ticket.
QString ExpertLine(const TConnectionState& state) {
  QStringList parts;
  if (state.SndCwnd && state.SndMss)
    parts << QStringLiteral("Überlastfenster %1 Segmente zu %2 Bytes").arg(*state.SndCwnd).arg(*state.SndMss);
  if (state.SndWnd) parts << QStringLiteral("Empfangsfenster des Servers %1 Bytes").arg(*state.SndWnd);
  if (state.TotalRetrans) parts << QStringLiteral("%1 Segmente wiederholt").arg(*state.TotalRetrans);
  if (state.NotsentBytes) parts << QStringLiteral("%1 Bytes noch nicht gesendet").arg(*state.NotsentBytes);
  return parts.isEmpty() ? QString()
                         : QStringLiteral("\nZuletzt laut Kernel: %1.\n").arg(parts.join(QStringLiteral(", ")));
}

QString MainCauseSentence(TRateLimit cause) {
  switch (cause) {
    case TRateLimit::Network:
      return QStringLiteral(
          "Hauptursache: das Netz. Die Verbindung hat so schnell gesendet, wie die Leitung und ihre "
          "Warteschlange es zuließen.");
    case TRateLimit::ReceiveWindow:
      return QStringLiteral(
          "Hauptursache: das Empfangsfenster des Servers. Der Server nimmt die Daten langsamer an, als die "
          "Leitung sie tragen könnte.");
    case TRateLimit::SendBuffer:
      return QStringLiteral("Hauptursache: der Sendepuffer dieses Rechners. Er ist für diese Leitung zu klein.");
    case TRateLimit::Program:
      return QStringLiteral(
          "Hauptursache: das Programm selbst. Es hatte oft keine Daten bereit, etwa weil der Rechner ausgelastet "
          "ist.");
    case TRateLimit::Unknown: break;
  }
  return QStringLiteral("Keine Ursache hat die Rate mehr als die Hälfte der Zeit begrenzt.");
}

// The rectangle moved the least distance that brings it into the area; one larger than the area
// keeps its top left corner, and with it the title bar, inside.
QRect MovedInto(QRect rectangle, const QRect& area) {
  rectangle.moveLeft(std::max(area.left(), std::min(rectangle.left(), area.right() + 1 - rectangle.width())));
  rectangle.moveTop(std::max(area.top(), std::min(rectangle.top(), area.bottom() + 1 - rectangle.height())));
  return rectangle;
}

int OverlapArea(const QRect& a, const QRect& b) {
  const QRect common = a.intersected(b);
  return common.isEmpty() ? 0 : common.width() * common.height();
}

// Where a window of the outer size opens: right of the main window, else left, below or above it,
// the first of these that the screen has room for. Without room, the place among these and the
// screen's corners that hides the least of the chart.
QPoint PlaceBeside(const QRect& mainWindow, const QRect& chart, const QSize& outer, const QRect& screen) {
  const QList<QRect> beside{
      MovedInto(QRect(QPoint(mainWindow.right() + 1, mainWindow.top()), outer), screen),
      MovedInto(QRect(QPoint(mainWindow.left() - outer.width(), mainWindow.top()), outer), screen),
      MovedInto(QRect(QPoint(mainWindow.left(), mainWindow.bottom() + 1), outer), screen),
      MovedInto(QRect(QPoint(mainWindow.left(), mainWindow.top() - outer.height()), outer), screen)};
  for (const QRect& place : beside)
    if (!place.intersects(mainWindow)) return place.topLeft();
  QList<QRect> places = beside;
  for (const QPoint corner : {screen.topLeft(), screen.topRight(), screen.bottomLeft(), screen.bottomRight()})
    places << MovedInto(QRect(corner, outer), screen);
  const auto least = std::min_element(places.begin(), places.end(), [&](const QRect& a, const QRect& b) {
    return OverlapArea(a, chart) < OverlapArea(b, chart);
  });
  return least->topLeft();
}
}  // namespace

QString DetailsText(const TMeasurementRun& run, const QLocale& locale) {
  const TRunHistory& history = run.History;
  const TRunSummary summary = run.Details.Summary();
  QString text = QStringLiteral("Messdetails\n\n");
  if (history.HasRun()) {
    const TRunDescription& description = history.Run();
    text += QStringLiteral("Server: %1, Port %2, Blockgröße %3 Bytes\n")
                .arg(description.Server)
                .arg(description.Port)
                .arg(description.BlockSize);
    text += QStringLiteral("Start: %1, Punkte: %2\n\n").arg(GermanDateTime(description.Start)).arg(history.Count());
  }
  text += QStringLiteral("Übertragungsrate\n");
  text += QStringLiteral("  Durchschnitt im Diagramm: %1 kiBytes/s\n\n").arg(FormatFixed2(run.Series1.Mean(), locale));

  text += QStringLiteral("Umlaufzeit (Round Trip Time)\n");
  text += QStringLiteral("  ohne Last (kleinste der Verbindung): %1\n").arg(Milliseconds(summary.MinRttMs, locale));
  text += QStringLiteral("  unter Last, Median: %1\n").arg(Milliseconds(summary.RttMedianMs, locale));
  text += QStringLiteral("  unter Last, 95. Perzentil: %1\n").arg(Milliseconds(summary.RttP95Ms, locale));
  text +=
      QStringLiteral("  zusätzliche Verzögerung unter Last: %1\n").arg(Milliseconds(summary.AddedLatencyMs, locale));
  text += QueueSentence(summary.AddedLatencyMs, locale) + u'\n';

  text += QStringLiteral("Erneut gesendet: %1\n\n")
              .arg(OrUnknown(FormatFixed1(summary.RetransPercent, locale), QStringLiteral(" % der gesendeten Bytes")));

  text += QStringLiteral("Was die Rate begrenzt hat (Anteil der Messzeit)\n");
  if (const auto& limits = summary.Limits) {
    const QString percent = QStringLiteral(" %");
    text += QStringLiteral("  Netz (Überlastfenster: die Leitung oder ihre Warteschlange): %1\n")
                .arg(FormatPercent(limits->Network, locale) + percent);
    text += QStringLiteral("  Empfangsfenster des Servers: %1\n")
                .arg(FormatPercent(limits->ReceiveWindow, locale) + percent);
    text +=
        QStringLiteral("  Sendepuffer dieses Rechners: %1\n").arg(FormatPercent(limits->SendBuffer, locale) + percent);
    text += QStringLiteral("  Programm selbst (keine Daten bereit): %1\n")
                .arg(FormatPercent(limits->Program, locale) + percent);
    text += MainCauseSentence(limits->Main()) + u'\n';
  } else {
    text += QStringLiteral("  %1\n").arg(Unknown);
  }
  text += ExpertLine(summary.Latest);
  return text;
}

QString PointToolTip(double seconds, double rate, const TPointDetails* details, const QLocale& locale) {
  QString text =
      QStringLiteral("Sekunde %1: %2 kiBytes/s").arg(FormatWhole(seconds, locale), FormatFixed2(rate, locale));
  if (!details) return text;
  if (const QString rtt = FormatMilliseconds(details->RttMs, locale); !rtt.isEmpty())
    text += QStringLiteral("\nUmlaufzeit %1 ms").arg(rtt);
  if (const QString again = FormatFixed1(details->RetransPercent, locale); !again.isEmpty())
    text += QStringLiteral("\nerneut gesendet %1 %").arg(again);
  return text;
}

TMeasurementDetails::TMeasurementDetails(const TMeasurementRun& run, const QWidget& chart, QWidget* parent)
    : QDialog(parent), FRun(run), FChart(chart), FText(new QPlainTextEdit(this)) {
  setObjectName(QStringLiteral("MeasurementDetails"));
  setWindowTitle(QStringLiteral("Messdetails"));
  setModal(false);
  FText->setReadOnly(true);
  FText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  FText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  FText->setAccessibleName(QStringLiteral("Messdetails"));
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* copy = buttons->addButton(QStringLiteral("&Kopieren"), QDialogButtonBox::ActionRole);
  QPushButton* close = buttons->addButton(QStringLiteral("Schl&ießen"), QDialogButtonBox::RejectRole);
  copy->setAutoDefault(false);
  close->setAutoDefault(false);
  connect(copy, &QPushButton::clicked, this, &TMeasurementDetails::CopyText);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FText);
  layout->addWidget(buttons);
  resize(600, 540);
  connect(&run, &TMeasurementRun::PointAdded, this, [this] {
    if (isVisible()) Refresh();
  });
}

void TMeasurementDetails::Open() {
  Refresh();
  if (!isVisible()) PlaceBesideMainWindow();
  show();
  raise();
  activateWindow();
}

// The main window's frame stands in for this window's own, which the window manager makes known
// only after the first showing.
void TMeasurementDetails::PlaceBesideMainWindow() {
  const QWidget* mainWindow = parentWidget() ? parentWidget()->window() : nullptr;
  if (!mainWindow || !mainWindow->screen()) return;
  const QRect frame = mainWindow->frameGeometry();
  const QSize outer = size() + frame.size() - mainWindow->size();
  const QRect chart(FChart.mapToGlobal(QPoint(0, 0)), FChart.size());
  move(PlaceBeside(frame, chart, outer, mainWindow->screen()->availableGeometry()));
}

QString TMeasurementDetails::Text() const { return FText->toPlainText(); }

void TMeasurementDetails::CopyText() const { QGuiApplication::clipboard()->setText(Text()); }

void TMeasurementDetails::Refresh() {
  const QString text = DetailsText(FRun);
  if (text == FText->toPlainText()) return;
  // A selection being made for copying stays where it was, as does the scrolled position.
  QTextCursor cursor = FText->textCursor();
  const int anchor = cursor.anchor(), position = cursor.position();
  const int scrolled = FText->verticalScrollBar()->value();
  FText->setPlainText(text);
  const int end = static_cast<int>(text.size());
  cursor = FText->textCursor();
  cursor.setPosition(std::min(anchor, end));
  cursor.setPosition(std::min(position, end), QTextCursor::KeepAnchor);
  FText->setTextCursor(cursor);
  FText->verticalScrollBar()->setValue(scrolled);
}
