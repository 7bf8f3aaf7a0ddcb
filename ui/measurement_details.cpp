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

#include "measure/measurement_run.h"
#include "ui/window_texts.h"

namespace {
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

TMeasurementDetails::TMeasurementDetails(const TMeasurementRun& run, const QWidget& chart, QWidget* parent)
    : QDialog(parent), FRun(run), FChart(chart), FText(new QPlainTextEdit(this)) {
  setObjectName(QStringLiteral("MeasurementDetails"));
  setWindowTitle(texts::DetailsTitle);
  setModal(false);
  FText->setReadOnly(true);
  FText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  FText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  FText->setAccessibleName(texts::DetailsTitle);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* copy = buttons->addButton(texts::CopyCaption, QDialogButtonBox::ActionRole);
  QPushButton* close = buttons->addButton(texts::CloseCaption, QDialogButtonBox::RejectRole);
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
void PlaceBesideMainWindow(QWidget& window, const QWidget& chart) {
  const QWidget* mainWindow = window.parentWidget() ? window.parentWidget()->window() : nullptr;
  if (!mainWindow || !mainWindow->screen()) return;
  const QRect frame = mainWindow->frameGeometry();
  const QSize outer = window.size() + frame.size() - mainWindow->size();
  const QRect chartArea(chart.mapToGlobal(QPoint(0, 0)), chart.size());
  window.move(PlaceBeside(frame, chartArea, outer, mainWindow->screen()->availableGeometry()));
}

void TMeasurementDetails::PlaceBesideMainWindow() { ::PlaceBesideMainWindow(*this, FChart); }

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
