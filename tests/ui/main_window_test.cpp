// The main window's controls, layout, keyboard and chart on the offscreen platform.

#include <QAccessible>
#include <QComboBox>
#include <QCursor>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolTip>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "measure/measure_texts.h"
#include "measure/measurement_run.h"
#include "measure/number_format.h"
#include "tests/support/patience.h"
#include "tests/support/qstring_printer.h"
#include "ui/about_box.h"
#include "ui/components/control_layout.h"
#include "ui/main_window.h"
#include "ui/measurement_details.h"
#include "ui/rate_chart.h"
#include "ui/window_texts.h"

namespace {
class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TForm1>();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }
  QWidget* Control(const char* name) const { return form->findChild<QWidget*>(QString::fromLatin1(name)); }
  QRect InClient(QWidget* widget) const {
    return QRect(widget->mapTo(form->centralWidget(), QPoint(0, 0)), widget->size());
  }
  // Tab from the focused control, skipping what Qt skips (disabled, hidden).
  QWidget* NextByTab() {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    return QApplication::focusWidget();
  }

  std::unique_ptr<TForm1> form;
};
}  // namespace

TEST_F(MainWindow, HasEveryControlWithItsNameCaptionAndInitialState) {
  EXPECT_EQ(form->windowTitle(), "Omvra Ratavel 1.0");
  EXPECT_EQ(form->objectName(), "Form1");
  for (const char* name : {"Label2", "Edit1", "Chart1", "Button1", "Button2", "StatusBar1", "BitBtn1", "ProPanel",
                           "Label1", "Label3", "Edit2", "Edit3"})
    EXPECT_NE(Control(name), nullptr) << name;
  EXPECT_EQ(form->Label2->text(), "Name / IP des Servers:");
  EXPECT_EQ(form->Button1->text(), "&Start");
  EXPECT_EQ(form->Button2->text(), "St&op");
  EXPECT_EQ(form->BitBtn1->text(), "&Info / Hilfe");
  EXPECT_EQ(form->ProPanel->title(), " Weitere Einstellungen: ");
  EXPECT_EQ(form->Label1->text(), QString::fromUtf8("Blockgröße:"));
  EXPECT_EQ(form->Label3->text(), "Port-Nr.:");
  EXPECT_TRUE(form->Edit1->text().isEmpty());
  EXPECT_TRUE(form->Button1->isEnabled());
  EXPECT_FALSE(form->Button2->isEnabled());
  EXPECT_TRUE(form->ProPanel->isHidden());
  EXPECT_EQ(QApplication::focusWidget(), form->Edit1);
  EXPECT_EQ(form->StatusPanel0->text(), "Geben Sie die Adresse des Servers ein und klicken Sie auf Start ...");
  EXPECT_TRUE(form->StatusPanel1->text().isEmpty());
  EXPECT_EQ(form->HelpFile, QCoreApplication::applicationDirPath() + "/korvaden.hlp");
  EXPECT_EQ(form->ClientSocket1.Port(), 2857);
  EXPECT_FALSE(form->Controller.Timer1.isActive());
  EXPECT_EQ(form->Controller.Timer1.interval(), 1000);
}

TEST_F(MainWindow, StartAndStopCarryTwoStateGlyphs) {
  for (QPushButton* button : {form->Button1, form->Button2}) {
    const QIcon icon = button->icon();
    ASSERT_FALSE(icon.isNull());
    const QImage normal = icon.pixmap(16, 16, QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(16, 16, QIcon::Disabled).toImage();
    EXPECT_EQ(normal.pixelColor(8, 8), QColor(Qt::black));
    EXPECT_NE(disabled.pixelColor(8, 8), QColor(Qt::black));
    EXPECT_EQ(normal.pixelColor(0, 0).alpha(), 0);
  }
}

TEST_F(MainWindow, OpensAtDesignSizeCentredAndRefusesToShrinkBelowTheMinimum) {
  EXPECT_EQ(form->OuterSize(), QSize(640, 480));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((form->frameGeometry().center() - screen.center()).manhattanLength(), 2);
  form->resize(100, 100);
  QTest::qWait(20);
  EXPECT_EQ(form->OuterSize(), QSize(360, 224));
}

TEST(CentredOn, ClampsTheOffsetNotThePositionOnScreensAwayFromTheOrigin) {
  EXPECT_EQ(CentredOn({-1920, 0, 1920, 1080}, {640, 480}), QPoint(-1280, 300));
  EXPECT_EQ(CentredOn({100, 50, 800, 600}, {1000, 700}), QPoint(100, 50));
}

TEST_F(MainWindow, CaptionsAreReadableAndControlsDoNotOverlap) {
  form->ProPanel->show();
  QTest::qWait(20);
  for (QLabel* label : {form->Label2, form->Label1, form->Label3})
    EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(label->text())) << label->text();
  for (QPushButton* button : {form->Button1, form->Button2, form->BitBtn1}) {
    const int caption = button->fontMetrics().horizontalAdvance(QString(button->text()).remove(QLatin1Char('&')));
    EXPECT_GE(button->width(), caption + button->iconSize().width() + 8) << button->text().toStdString();
  }
  EXPECT_GE(form->ProPanel->width(), form->ProPanel->fontMetrics().horizontalAdvance(form->ProPanel->title()));

  const std::vector<QWidget*> top{form->Label2,  form->Edit1,    form->Button1, form->Button2,
                                  form->BitBtn1, form->ProPanel, form->Chart1};
  for (std::size_t i = 0; i < top.size(); ++i)
    for (std::size_t j = i + 1; j < top.size(); ++j)
      EXPECT_FALSE(top[i]->geometry().intersects(top[j]->geometry()))
          << top[i]->objectName().toStdString() << " / " << top[j]->objectName().toStdString();
  // At the design size the expert panel ends inside the window, and the average of a gigabyte link
  // is shown whole beside the widest status text.
  form->SetOuterSize({640, 480});  // an earlier test may have left another size remembered
  const QWidget* client = form->centralWidget();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->StatusPanel1->geometry().right() > client->width() - 30; },
                              testsupport::PatienceMs));
  EXPECT_LE(form->ProPanel->geometry().right(), client->width() - 16) << form->ProPanel->geometry().right();
  form->SetAverageText(QStringLiteral("Durchschnittliche Übertragungsrate: 1171875,19 kiBytes/s"));
  form->StatusPanel0->setText(texts::IdleStatus);
  EXPECT_EQ(form->StatusPanel1->text(), QStringLiteral("Durchschnittliche Übertragungsrate: 1171875,19 kiBytes/s"));
  EXPECT_GE(form->StatusPanel0->contentsRect().width(),
            form->StatusPanel0->fontMetrics().horizontalAdvance(texts::IdleStatus));
  const std::vector<QWidget*> inPanel{form->Label1, form->Edit2,  form->Label3,
                                      form->Edit3,  form->Label4, form->ComboBox1};
  for (std::size_t i = 0; i < inPanel.size(); ++i) {
    EXPECT_TRUE(form->ProPanel->rect().contains(inPanel[i]->geometry()));
    for (std::size_t j = i + 1; j < inPanel.size(); ++j)
      EXPECT_FALSE(inPanel[i]->geometry().intersects(inPanel[j]->geometry()));
  }
}

TEST_F(MainWindow, ResizingMovesOnlyTheChartEdgesAndTheStatusBar) {
  const QRect button1 = form->Button1->geometry();
  const QRect edit1 = form->Edit1->geometry();
  for (QSize outer : {QSize(900, 700), QSize(360, 224), QSize(640, 480)}) {
    form->SetOuterSize(outer);
    const QWidget* client = form->centralWidget();
    const auto chart = [&] { return InClient(form->Chart1); };
    // Settles once the layout has handed the new size down.
    EXPECT_TRUE(QTest::qWaitFor([&] { return client->height() - chart().bottom() - 1 == 9; }, testsupport::PatienceMs))
        << outer.height();
    EXPECT_EQ(chart().left(), 16);
    EXPECT_EQ(client->width() - chart().right() - 1, 15) << outer.width();
    EXPECT_EQ(form->Button1->geometry(), button1);
    EXPECT_EQ(form->Edit1->geometry(), edit1);
    EXPECT_EQ(form->StatusBar1->geometry().bottom(), form->height() - 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->StatusBar1->width() == form->width(); }, testsupport::PatienceMs))
        << outer.width();
  }
  EXPECT_GE(form->StatusPanel0->width(), 350);
}

TEST_F(MainWindow, TabReachesTheExpertFieldsOnlyWhenTheirPanelIsShown) {
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->Edit1->setFocus();
  EXPECT_EQ(NextByTab(), form->Chart1);
  EXPECT_EQ(NextByTab(), form->Button1);
  EXPECT_EQ(NextByTab(), form->BitBtn1);  // Stop is disabled while idle
  EXPECT_EQ(NextByTab(), form->Edit1);

  form->ProPanel->show();
  form->Edit1->setFocus();
  EXPECT_EQ(NextByTab(), form->Chart1);
  EXPECT_EQ(NextByTab(), form->Button1);
  EXPECT_EQ(NextByTab(), form->BitBtn1);
  EXPECT_EQ(NextByTab(), form->Edit2);
  EXPECT_EQ(NextByTab(), form->Edit3);
  EXPECT_EQ(NextByTab(), form->ComboBox1);
  EXPECT_EQ(NextByTab(), form->Edit1);
}

// Linux has no context menu event for Shift+F10; the chart makes its own, on the chart.
TEST_F(MainWindow, ShiftF10OnTheFocusedChartAsksForItsMenuOnTheChart) {
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->Chart1->setFocus();
  QList<QPoint> requests;
  QObject::connect(form->Chart1, &TRateChart::ContextMenuRequested, [&](const QPoint& at) { requests << at; });
  QTest::keyClick(form->Chart1, Qt::Key_F10, Qt::ShiftModifier);
  if (QWidget* menu = QApplication::activePopupWidget()) menu->close();
  ASSERT_EQ(requests.size(), 1);
  EXPECT_TRUE(QRect(form->Chart1->mapToGlobal(QPoint(0, 0)), form->Chart1->size()).contains(requests[0]));
}

TEST_F(MainWindow, EnterOnAFocusedButtonBelongsToThatButton) {
  int starts = 0;
  QObject::connect(form->Button1, &QPushButton::clicked, [&] { ++starts; });
  int infos = 0;
  QObject::connect(form->BitBtn1, &QPushButton::clicked, [&] { ++infos; });
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->BitBtn1->setFocus();
  QTimer::singleShot(100, form.get(), [&] { form->AboutBox->reject(); });  // Info / Hilfe shows a modal box
  QTest::keyClick(form->BitBtn1, Qt::Key_Return);
  EXPECT_EQ(infos, 1);
  EXPECT_EQ(starts, 0);
}

// A greyed-out button's accelerator does nothing: its letter never reaches the focused field.
TEST_F(MainWindow, TheAcceleratorOfADisabledButtonTypesNothing) {
  int starts = 0;
  QObject::connect(form->Button1, &QPushButton::clicked, [&] { ++starts; });
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->ProPanel->show();
  form->Edit1->setText("127.0.0.1");
  form->Edit1->setFocus();
  form->Button1->setEnabled(false);  // as while a measurement runs
  QTest::keyClick(form->Edit1, Qt::Key_S, Qt::AltModifier);
  EXPECT_EQ(form->Edit1->text(), "127.0.0.1");
  form->Edit2->setText("2048");
  form->Edit2->setFocus();
  QTest::keyClick(form->Edit2, Qt::Key_O, Qt::AltModifier);  // Stop is disabled while idle
  EXPECT_EQ(form->Edit2->text(), "2048");
  QTest::keyClick(form->Edit2, Qt::Key_5);  // plain typing still types
  EXPECT_EQ(form->Edit2->text(), "20485");
  EXPECT_EQ(starts, 0);
}

TEST_F(MainWindow, ChartIsPresentedWithTitlesFixedRangesAndARedLine) {
  QChart* chart = form->Chart1->chart();
  EXPECT_EQ(chart->title(), QString::fromUtf8("Übertragungsrate"));
  EXPECT_FALSE(chart->legend()->isVisible());
  EXPECT_EQ(form->Chart1->rubberBand(), QChartView::NoRubberBand);
  QValueAxis* bottom = form->Chart1->BottomAxisView();
  QValueAxis* left = form->Chart1->LeftAxisView();
  EXPECT_EQ(bottom->titleText(), "Sekunden");
  EXPECT_EQ(left->titleText(), "kiBytes/s");
  EXPECT_EQ(bottom->min(), 0);
  EXPECT_EQ(bottom->max(), 60);
  EXPECT_EQ(left->min(), 0);
  EXPECT_EQ(left->max(), 1000);
  EXPECT_EQ(bottom->tickInterval(), 10);
  EXPECT_EQ(bottom->minorTickCount(), 4);
  EXPECT_EQ(left->minorTickCount(), 4);
  EXPECT_EQ(form->Chart1->LineSeries()->color(), QColor(Qt::red));
  EXPECT_FALSE(form->Chart1->LineSeries()->pointsVisible());
}

TEST_F(MainWindow, NarrowWindowSpreadsTheSecondLabelsInsteadOfCrowdingThem) {
  form->Series1.AddXY(100000, 1);  // wide labels: 99940 ... 100000
  form->SetOuterSize(QSize(360, 224));
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return form->Chart1->BottomAxisView()->tickInterval() > 10; }, testsupport::PatienceMs));
  form->SetOuterSize(QSize(1000, 600));
  QTest::qWait(50);
  EXPECT_EQ(form->Chart1->BottomAxisView()->tickInterval(), 10);
}

TEST_F(MainWindow, AxisLabelsArePlainNumbersInTheUsersLocaleAtEveryRate) {
  const QLocale previous;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  TForm1 german;
  QLocale::setDefault(previous);
  german.show();
  auto labelsAt = [&](double rate) {
    german.Series1.Clear();
    german.Series1.AddXY(1, rate);
    QTest::qWait(50);
    QStringList labels;
    for (QGraphicsItem* item : german.Chart1->chart()->scene()->items()) {
      auto* text = dynamic_cast<QGraphicsTextItem*>(item);
      if (!text || !text->isVisible()) continue;
      const QString label = text->toPlainText();
      if (label != "Sekunden" && label != "kiBytes/s" && label != QString::fromUtf8("Übertragungsrate"))
        labels << label;
    }
    return labels;
  };
  const QRegularExpression plain(QStringLiteral("^\\d+(,\\d+)?$"));
  const QStringList fast = labelsAt(2.5e6);  // beyond 10 Gbit/s
  const QStringList slow = labelsAt(1.0);    // 0 to 1.1
  EXPECT_TRUE(fast.contains("2000000")) << fast.join(' ').toStdString();
  EXPECT_TRUE(slow.contains("0,2") || slow.contains("0,5")) << slow.join(' ').toStdString();
  for (const QString& label : fast + slow) EXPECT_TRUE(plain.match(label).hasMatch()) << label.toStdString();
}

// What a screen reader gets through Qt's accessibility interfaces (AT-SPI on Linux).
TEST_F(MainWindow, ScreenReadersHearWhatEachControlIsTheChartsLatestPointAndEveryStatusChange) {
  auto name = [](QObject* object) { return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name); };
  EXPECT_EQ(name(form->Edit1), "Name / IP des Servers:");
  EXPECT_EQ(name(form->Edit2), QString::fromUtf8("Blockgröße:"));
  EXPECT_EQ(name(form->Edit3), "Port-Nr.:");
  const auto labels = QAccessible::queryAccessibleInterface(form->ComboBox1)->relations(QAccessible::Label);
  EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                          [](const auto& label) { return label.first->text(QAccessible::Name) == "Richtung:"; }));
  EXPECT_EQ(name(form->Button1), "Start");
  EXPECT_EQ(name(form->Chart1), QString::fromUtf8("Übertragungsrate"));

  // The offscreen platform has no accessibility bridge to watch the change events go out; what
  // the bridge then reads is checked here.
  form->SetStatusText(texts::MeasuringStatus);
  form->Series1.AddXY(12.2, 1151.04);
  EXPECT_EQ(name(form->StatusPanel0), texts::MeasuringStatus);
  EXPECT_EQ(name(form->StatusPanel1), form->AverageText());
  const QString description = QAccessible::queryAccessibleInterface(form->Chart1)->text(QAccessible::Description);
  EXPECT_TRUE(description.startsWith(QString::fromUtf8("Letzter Wert ") + FormatFixed2(1151.04, QLocale()) +
                                     " kiBytes/s nach 12 s"))
      << description.toStdString();
}

TEST_F(MainWindow, DrawingUpdatesTheFirstVisiblePointAndAZeroRangeDrawsFine) {
  for (int x = 1; x <= 70; ++x) form->Series1.AddXY(x, 0);
  EXPECT_EQ(form->LeftAxis.Maximum(), 0);           // all rates zero: 0 to 0
  form->Chart1->grab();                             // draws without failing
  EXPECT_EQ(form->Series1.FirstVisibleIndex(), 9);  // x = 10 is the first at or right of 10
}

TEST_F(MainWindow, MessdetailsOpenBesideTheWindowWhereTheScreenHasRoomAndStayWhereTheUserMovedThem) {
  const QRect screen = form->screen()->availableGeometry();
  form->SetOuterSize({360, 300});
  form->MoveOuter(screen.topLeft());
  form->Details->resize(300, 240);
  ASSERT_GE(screen.width(), 360 + 300);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return form->frameGeometry().topLeft() == screen.topLeft(); }, testsupport::PatienceMs));
  form->Details->Open();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form->Details));
  const QRect details = form->Details->frameGeometry();
  EXPECT_EQ(details.left(), form->frameGeometry().right() + 1);
  EXPECT_TRUE(screen.contains(details));

  form->Details->move(details.topLeft() + QPoint(20, 10));
  form->Details->Open();
  EXPECT_EQ(form->Details->frameGeometry().topLeft(), details.topLeft() + QPoint(20, 10));
}

// The tooltip names the point under the resting pointer, not the one that was there a second ago.
TEST_F(MainWindow, APointsTooltipFollowsThePointsThatScrollUnderTheRestingPointer) {
  for (int x = 1; x <= 70; ++x) form->Series1.AddXY(x, 100);
  const QPointF drawn = form->Chart1->chart()->mapToPosition(QPointF(40, 100), form->Chart1->LineSeries());
  const QPoint at = form->Chart1->mapFromScene(form->Chart1->chart()->mapToScene(drawn));
  QWidget* viewport = form->Chart1->viewport();
  QCursor::setPos(viewport->mapToGlobal(at));
  QHelpEvent rest(QEvent::ToolTip, at, viewport->mapToGlobal(at));
  QApplication::sendEvent(viewport, &rest);
  ASSERT_TRUE(QToolTip::text().startsWith("Sekunde 40:")) << QToolTip::text().toStdString();
  form->Series1.AddXY(71, 100);  // the axis moves on by a second
  EXPECT_TRUE(QToolTip::text().startsWith("Sekunde 41:")) << QToolTip::text().toStdString();
  QToolTip::hideText();
}

TEST_F(MainWindow, RightDragPansBothAxes) {
  const QRectF plot = form->Chart1->chart()->plotArea();
  const QPoint from = plot.center().toPoint();
  QTest::mousePress(form->Chart1->viewport(), Qt::RightButton, {}, from);
  QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(50, -40)),
                   form->Chart1->viewport()->mapToGlobal(QPointF(from + QPoint(50, -40))), Qt::NoButton,
                   Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(form->Chart1->viewport(), &move);
  QTest::mouseRelease(form->Chart1->viewport(), Qt::RightButton, {}, from + QPoint(50, -40));
  EXPECT_NEAR(form->BottomAxis.Minimum(), -50 * 60 / plot.width(), 1e-6);
  EXPECT_NEAR(form->BottomAxis.Maximum() - form->BottomAxis.Minimum(), 60, 1e-9);
  EXPECT_NEAR(form->LeftAxis.Minimum(), -40 * 1000 / plot.height(), 1e-6);
  EXPECT_NEAR(form->Chart1->BottomAxisView()->min(), form->BottomAxis.Minimum(), 1e-9);

  form->Series1.AddXY(1, 100);  // the next point brings the horizontal range back
  EXPECT_EQ(form->BottomAxis.Minimum(), 0);
  EXPECT_EQ(form->BottomAxis.Maximum(), 60);
}

// A download learns the server's state from records in its blocks, and a record needs 144 bytes: with
// smaller blocks Messdetails says why every figure is unknown. An upload reads its own kernel.
TEST(MessdetailsText, ADownloadInBlocksTooSmallForTheServersRecordsSaysWhyItsFiguresAreUnknown) {
  const QString why = QString::fromUtf8("nur in Blöcke von mindestens 144 Bytes; bei Blöcken von 143 Bytes sind");
  const auto text = [](std::int32_t blockSize, TDirection direction) {
    TMeasurementRun run;
    run.Begin({QStringLiteral("host"), 2857, blockSize, QDateTime::currentDateTime(), direction});
    return DetailsText(run);
  };
  EXPECT_TRUE(text(143, TDirection::Receive).contains(why)) << text(143, TDirection::Receive).toStdString();
  EXPECT_FALSE(text(144, TDirection::Receive).contains(QStringLiteral("mindestens 144")));
  EXPECT_FALSE(text(143, TDirection::Send).contains(QStringLiteral("mindestens 144")));
}
