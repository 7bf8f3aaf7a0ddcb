#pragma once
// The rate chart: draws the series model as a red line between the two model axes, recomputes the
// series' first visible point at every draw, and pans both axes while the right button drags. A
// right click that does not drag asks for the chart's context menu, and so do Shift+F10 and the
// menu key while the chart has the keyboard focus. On request it adds a blue line of the series'
// round trips on a right-hand axis of its own.

#include <QtCharts/QChartView>

#include <QBrush>
#include <QPixmap>

#include <functional>
#include <vector>

#include "measure/chart_axis.h"
#include "measure/rate_series.h"

class QLineSeries;
class QValueAxis;

class TRateChart : public QChartView {
  Q_OBJECT

 public:
  TRateChart(TRateSeries& series, TChartAxis& bottomAxis, TChartAxis& leftAxis, QWidget* parent = nullptr);

  // Copies points and ranges from the models into the drawing; the window system paints later.
  void SyncFromModel();
  // The chart as a picture to copy or save: what is drawn, without the keyboard-focus frame.
  QPixmap Picture();

  QLineSeries* LineSeries() const { return FLine; }
  QValueAxis* BottomAxisView() const { return FBottom; }
  QValueAxis* LeftAxisView() const { return FLeft; }
  // The horizontal label step; 10 seconds unless the labels would crowd.
  void SetBottomLabelStep(double seconds);
  // The tooltip of the point at an index of the series; the pointer resting near a point asks.
  std::function<QString(int index)> PointToolTip;
  // The point whose x is drawn nearest to a position in the view, when it is close enough to
  // point at; -1 otherwise.
  int PointNear(const QPoint& position) const;

  // Adds or removes the round-trip line with its axis at once; shown, it holds the round trips of
  // the points already in view.
  void SetRoundTripShown(bool shown);
  bool RoundTripShown() const { return FRight != nullptr; }
  // The round-trip line: one Qt line for each of the series' pieces; empty while not shown.
  const std::vector<QLineSeries*>& RoundTripLines() const { return FRoundTripLines; }
  QValueAxis* RightAxisView() const { return FRight; }

 signals:
  void ContextMenuRequested(const QPoint& globalPosition);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  // The ranges from the axis models, as a pan changes them; the points stay as they are.
  void ApplyRanges();
  void UpdateTickSpacing();
  // Where a menu asked for by keyboard opens: the middle of the plot, on screen.
  QPoint KeyboardMenuPosition() const;
  // A point's tooltip shown under a resting pointer follows the points that scroll beneath it.
  void FollowPointToolTip();
  // One line for each of the series' round-trip pieces, a lone round trip as a dot.
  void DrawRoundTrips();
  // The right axis from 0 to above the highest round trip held; a vertical pan moves its minimum.
  void FitRightAxis();
  void RemoveRoundTripLines(std::size_t kept = 0);

  TRateSeries& FSeries;
  TChartAxis& FBottomAxis;
  TChartAxis& FLeftAxis;
  QLineSeries* FLine;
  QValueAxis* FBottom;
  QValueAxis* FLeft;
  double FBottomLabelStep = 10;
  bool FPanning = false;
  QPointF FPanFrom;
  // The focus frame is left out of a picture.
  bool FTakingPicture = false;
  // A right press, and whether the pointer has moved far enough since to make it a drag.
  bool FRightDown = false;
  bool FRightDragged = false;
  QPointF FRightPressedAt;
  // The window system already turned this press of the menu key into a context menu event.
  bool FMenuKeyHandled = false;
  // The tooltip on screen is a point's, shown by this chart.
  bool FPointToolTipShown = false;

  // The round-trip line: its axis (null while the line is off), the range that axis shows, and its
  // pieces.
  QValueAxis* FRight = nullptr;
  TChartAxis FRightAxis{0, 100};
  std::vector<QLineSeries*> FRoundTripLines;
  // The left axis as it looks without the round-trip line; with it, each axis takes its line's
  // colour, so that no legend is needed.
  QBrush FLeftTitleBrush;
  QBrush FLeftLabelsBrush;
};
