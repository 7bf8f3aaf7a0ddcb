#include "ui/rate_chart.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QGraphicsLayout>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QToolTip>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>
#include <utility>

#include "measure/number_format.h"
#include "ui/window_texts.h"

namespace {
// A step of 1, 2 or 5 times a power of ten that is at least minimum.
double NiceStep(double minimum) {
  if (!(minimum > 0) || !std::isfinite(minimum)) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(minimum)));
  for (double factor : {1.0, 2.0, 5.0, 10.0})
    if (factor * power >= minimum) return factor * power;
  return 10 * power;
}

// A fixed-range axis whose ticks start at zero, with four minor ticks between labels.
QValueAxis* MakeAxis(const QString& title) {
  auto* axis = new QValueAxis;
  axis->setTitleText(title);
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(0);
  axis->setMinorTickCount(4);
  return axis;
}

// Labels are multiples of the step: fixed-point with just the decimals the step needs, so that a
// rate of millions never turns into exponent notation. The chart formats them in its locale.
void SetLabelStep(QValueAxis* axis, double step) {
  const int decimals = step >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
  axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
  axis->setTickInterval(step);
}

// The axis needs a span to draw; a range of 0 to 0 is shown as 0 to 1.
std::pair<double, double> DrawableRange(const TChartAxis& axis) {
  const double minimum = axis.Minimum();
  const double maximum = axis.Maximum() > minimum ? axis.Maximum() : minimum + 1;
  return {minimum, maximum};
}

// The axes build their ticks at once: the spacing of the old range across a much larger new one
// (0 to 1 before the first point, hundreds of thousands after it) would mean millions of ticks.
// So the new range starts with one tick, and the proper spacing follows.
void ApplyRange(QValueAxis* view, const TChartAxis& axis) {
  const auto [minimum, maximum] = DrawableRange(axis);
  view->setTickInterval(std::max(maximum - minimum, view->max() - view->min()));
  view->setRange(minimum, maximum);
}

// Room above the highest round trip, as the rate has above the highest rate.
constexpr double RoundTripHeadroom = 1.1;
const QColor RoundTripColour = Qt::blue;
const QColor RateColour = Qt::red;
}  // namespace

TRateChart::TRateChart(TRateSeries& series, TChartAxis& bottomAxis, TChartAxis& leftAxis, QWidget* parent)
    // Handing the chart to the base: a chart set later would orphan the view's default one.
    : QChartView(new QChart, parent), FSeries(series), FBottomAxis(bottomAxis), FLeftAxis(leftAxis) {
  QChart* chart = this->chart();
  chart->setTitle(texts::ChartTitle);
  QFont titleFont(QStringLiteral("Arial"));
  titleFont.setPixelSize(11);
  chart->setTitleFont(titleFont);
  chart->setTitleBrush(Qt::black);
  chart->legend()->hide();
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->setBackgroundRoundness(0);
  // Numbers as everywhere in the program: the user's decimal separator, no digit grouping.
  chart->setLocale(PlainNumbers());
  chart->setLocalizeNumbers(true);
  // Little padding: in the smallest window the plot keeps as much room as it can.
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->setMargins(QMargins(6, 2, 12, 2));

  FLine = new QLineSeries;
  FLine->setColor(RateColour);
  FLine->setPointsVisible(false);
  chart->addSeries(FLine);

  FBottom = MakeAxis(texts::SecondsAxisTitle);
  FLeft = MakeAxis(texts::RateAxisTitle);
  chart->addAxis(FBottom, Qt::AlignBottom);
  chart->addAxis(FLeft, Qt::AlignLeft);
  FLine->attachAxis(FBottom);
  FLine->attachAxis(FLeft);
  FLeftTitleBrush = FLeft->titleBrush();
  FLeftLabelsBrush = FLeft->labelsBrush();

  connect(chart, &QChart::plotAreaChanged, this, [this] { UpdateTickSpacing(); });
  setRubberBand(QChartView::NoRubberBand);
  setRenderHint(QPainter::Antialiasing, false);
  // Everything the mouse does with the chart, its menu above all, is also reached by keyboard.
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(0, 0);  // the window's minimum size decides, not the view's default
  SyncFromModel();
}

void TRateChart::SyncFromModel() {
  QList<QPointF> points;
  points.reserve(FSeries.Count());
  for (int i = 0; i < FSeries.Count(); ++i) points.append(QPointF(FSeries.XValues[i], FSeries.YValues[i]));
  FLine->replace(points);
  // Only a change of the model fits the right axis anew; a pan just moves it.
  DrawRoundTrips();
  FitRightAxis();
  ApplyRanges();
}

void TRateChart::ApplyRanges() {
  ApplyRange(FBottom, FBottomAxis);
  ApplyRange(FLeft, FLeftAxis);
  if (FRight) ApplyRange(FRight, FRightAxis);
  UpdateTickSpacing();
  FollowPointToolTip();
}

QPixmap TRateChart::Picture() {
  const QScopedValueRollback leaveOutFocusFrame(FTakingPicture, true);
  return grab();
}

void TRateChart::FollowPointToolTip() {
  if (!FPointToolTipShown || !QToolTip::isVisible() || !PointToolTip) return;
  const QPoint pointer = QCursor::pos();
  const QPoint position = viewport()->mapFromGlobal(pointer);
  if (!viewport()->rect().contains(position)) return;
  const int index = PointNear(position);
  if (index < 0) {
    FPointToolTipShown = false;
    QToolTip::hideText();
  } else {
    QToolTip::showText(pointer, PointToolTip(index), viewport());
  }
}

void TRateChart::SetBottomLabelStep(double seconds) {
  FBottomLabelStep = seconds;
  UpdateTickSpacing();
}

void TRateChart::UpdateTickSpacing() {
  // A label needs room for twice its own width; otherwise the step grows until it has it.
  const QRectF plot = chart()->plotArea();
  const QFontMetricsF metrics(FBottom->labelsFont());
  const double widest = std::max(metrics.horizontalAdvance(QString::number(std::ceil(FBottom->max()), 'f', 0)),
                                 metrics.horizontalAdvance(QString::number(std::floor(FBottom->min()), 'f', 0)));
  const double bottomSpan = FBottom->max() - FBottom->min();
  const double secondsPerPixel = plot.width() > 1 ? bottomSpan / plot.width() : bottomSpan;
  double step = FBottomLabelStep;
  while (step < bottomSpan && step / secondsPerPixel < 2 * widest) step = NiceStep(step * 1.5);
  SetLabelStep(FBottom, step);

  const double leftSpan = FLeft->max() - FLeft->min();
  const double rows = std::max(1.0, plot.height() / (2.5 * QFontMetricsF(FLeft->labelsFont()).height()));
  SetLabelStep(FLeft, NiceStep(leftSpan / rows));
  if (FRight) SetLabelStep(FRight, NiceStep((FRight->max() - FRight->min()) / rows));
}

void TRateChart::SetRoundTripShown(bool shown) {
  if (shown == RoundTripShown()) return;
  QChart* chart = this->chart();
  if (shown) {
    FRight = MakeAxis(texts::RoundTripAxisTitle);
    // The rate's grid stays the only one; a second grid at other heights would only confuse.
    FRight->setGridLineVisible(false);
    FRight->setMinorGridLineVisible(false);
    chart->addAxis(FRight, Qt::AlignRight);
    // Coloured after the chart took the axes in, so that its theme does not paint over them.
    FRight->setTitleBrush(RoundTripColour);
    FRight->setLabelsBrush(RoundTripColour);
    FLeft->setTitleBrush(RateColour);
    FLeft->setLabelsBrush(RateColour);
    FRightAxis.SetMinMax(0, FRightAxis.Maximum());  // an earlier pan is forgotten
  } else {
    RemoveRoundTripLines();
    chart->removeAxis(FRight);
    delete FRight;
    FRight = nullptr;
    FLeft->setTitleBrush(FLeftTitleBrush);
    FLeft->setLabelsBrush(FLeftLabelsBrush);
  }
  SyncFromModel();
}

// Qt's lines skip a NaN and would join its neighbours; a second without a known round trip ends a
// piece instead, and the next known one starts a new piece.
void TRateChart::DrawRoundTrips() {
  if (!RoundTripShown()) return;
  const std::vector<TRateSeries::TPiece> pieces = FSeries.RoundTripPieces();
  RemoveRoundTripLines(pieces.size());
  while (FRoundTripLines.size() < pieces.size()) {
    auto* line = new QLineSeries;
    line->setColor(RoundTripColour);
    line->setMarkerSize(4);
    chart()->addSeries(line);
    line->attachAxis(FBottom);
    line->attachAxis(FRight);
    FRoundTripLines.push_back(line);
  }
  for (std::size_t piece = 0; piece < pieces.size(); ++piece) {
    QList<QPointF> points;
    for (int i = pieces[piece].First; i < pieces[piece].End; ++i)
      points.append(QPointF(FSeries.XValues[i], FSeries.RoundTripMs(i)));
    FRoundTripLines[piece]->replace(points);
    FRoundTripLines[piece]->setPointsVisible(points.size() == 1);  // a lone round trip between gaps is a dot
  }
}

void TRateChart::RemoveRoundTripLines(std::size_t kept) {
  while (FRoundTripLines.size() > kept) {
    chart()->removeSeries(FRoundTripLines.back());
    delete FRoundTripLines.back();
    FRoundTripLines.pop_back();
  }
}

void TRateChart::FitRightAxis() {
  if (!FRight) return;
  double highest = -1;
  for (const QLineSeries* line : FRoundTripLines)
    for (int i = 0; i < line->count(); ++i) highest = std::max(highest, line->at(i).y());
  // Without any round trip the axis keeps its range, as the rate's does between runs.
  if (highest >= 0) {
    const double top = highest * RoundTripHeadroom;
    // As on the left: a pan may have lifted the minimum above the new top.
    FRightAxis.SetMinMax(FRightAxis.Minimum() <= top ? FRightAxis.Minimum() : std::min(0.0, top), top);
  }
}

void TRateChart::paintEvent(QPaintEvent* event) {
  FSeries.RecomputeFirstVisibleIndex(FBottomAxis.Minimum());
  QChartView::paintEvent(event);
  if (!hasFocus() || FTakingPicture) return;
  // The focus frame: a dotted line just inside the edge, where it hides no part of the plot.
  QPainter painter(viewport());
  painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
  painter.drawRect(viewport()->rect().adjusted(1, 1, -2, -2));
}

void TRateChart::focusInEvent(QFocusEvent* event) {
  QChartView::focusInEvent(event);
  viewport()->update();  // the focus frame is drawn on the viewport, not on the view
}

void TRateChart::focusOutEvent(QFocusEvent* event) {
  QChartView::focusOutEvent(event);
  viewport()->update();
}

void TRateChart::resizeEvent(QResizeEvent* event) {
  QChartView::resizeEvent(event);
  UpdateTickSpacing();
}

void TRateChart::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    FRightDown = true;
    FRightDragged = false;
    FRightPressedAt = event->position();
    FPanning = chart()->plotArea().contains(event->position());
    FPanFrom = event->position();
    event->accept();
    return;
  }
  QChartView::mousePressEvent(event);
}

void TRateChart::mouseMoveEvent(QMouseEvent* event) {
  if (FRightDown && (event->position() - FRightPressedAt).manhattanLength() >= QApplication::startDragDistance()) {
    FRightDragged = true;
  }
  if (!FPanning) return QChartView::mouseMoveEvent(event);
  const QRectF plot = chart()->plotArea();
  if (!plot.contains(event->position())) {
    FPanning = false;  // the pan ends where the pointer leaves the plot
    return;
  }
  const QPointF moved = event->position() - FPanFrom;
  FPanFrom = event->position();
  // Content follows the pointer: dragging right shows earlier seconds, dragging down higher rates.
  FBottomAxis.Shift(-moved.x() * (FBottom->max() - FBottom->min()) / plot.width());
  FLeftAxis.Shift(moved.y() * (FLeft->max() - FLeft->min()) / plot.height());
  if (FRight) FRightAxis.Shift(moved.y() * (FRight->max() - FRight->min()) / plot.height());
  ApplyRanges();
  event->accept();
}

void TRateChart::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && FRightDown) {
    FPanning = false;
    FRightDown = false;
    if (!FRightDragged) emit ContextMenuRequested(event->globalPosition().toPoint());
    event->accept();
    return;
  }
  QChartView::mouseReleaseEvent(event);
}

// The mouse's own context menu events are left out: the release above decides, so that a right
// drag pans without a menu. X11 and Wayland turn the menu key into a context menu event at the
// pointer, wherever it is, just before the key itself; the menu opens on the chart instead.
void TRateChart::contextMenuEvent(QContextMenuEvent* event) {
  if (event->reason() != QContextMenuEvent::Mouse) {
    FMenuKeyHandled = event->reason() == QContextMenuEvent::Keyboard;
    emit ContextMenuRequested(KeyboardMenuPosition());
  }
  event->accept();
}

// Shift+F10 reaches no context menu event on Linux, and the menu key none where the window system
// does not make one; both open the menu here, once per press.
void TRateChart::keyPressEvent(QKeyEvent* event) {
  const bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
  const bool menuKey = event->key() == Qt::Key_Menu;
  if (!shiftF10 && !menuKey) return QChartView::keyPressEvent(event);
  if (shiftF10 || !std::exchange(FMenuKeyHandled, false)) emit ContextMenuRequested(KeyboardMenuPosition());
  event->accept();
}

QPoint TRateChart::KeyboardMenuPosition() const {
  const QPointF inScene = chart()->mapToScene(chart()->plotArea().center());
  return viewport()->mapToGlobal(mapFromScene(inScene));
}

int TRateChart::PointNear(const QPoint& position) const {
  constexpr double ReachPixels = 8;
  const QPointF inChart = chart()->mapFromScene(mapToScene(position));
  if (FSeries.Count() == 0 || !chart()->plotArea().contains(inChart)) return -1;
  const double x = chart()->mapToValue(inChart, FLine).x();
  const auto& xs = FSeries.XValues;
  int index = 0;
  while (index + 1 < FSeries.Count() && xs[index + 1] <= x) ++index;  // the held points are a minute
  if (index + 1 < FSeries.Count() && xs[index + 1] - x < x - xs[index]) ++index;
  const QPointF drawn = chart()->mapToPosition(QPointF(xs[index], FSeries.YValues[index]), FLine);
  return std::abs(drawn.x() - inChart.x()) <= ReachPixels ? index : -1;
}

bool TRateChart::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QChartView::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const int index = PointToolTip ? PointNear(help->pos()) : -1;
  FPointToolTipShown = index >= 0;
  if (index < 0) {
    QToolTip::hideText();
  } else {
    QToolTip::showText(help->globalPos(), PointToolTip(index), viewport());
  }
  return true;
}
