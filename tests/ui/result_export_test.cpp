// Keeping a result: the chart's context menu and Ctrl+S, with the files read back.

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "tests/support/loopback_server.h"
#include "tests/support/patience.h"
#include "tests/support/qstring_printer.h"
#include "tests/ui/observed_messages.h"
#include "ui/main_window.h"
#include "ui/measurement_details.h"
#include "ui/rate_chart.h"
#include "ui/save_dialog.h"

namespace {
class ResultExport : public ::testing::Test {
 protected:
  void SetUp() override {
    TSaveDialog::SetAnswer([this](const QString& proposed) {
      proposals << proposed;
      return answer;
    });
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  }
  void TearDown() override { TSaveDialog::SetAnswer(nullptr); }

  // A right click without dragging; the menu that opens, if any.
  QMenu* RightClick() {
    const QPoint at = form.Chart1->chart()->plotArea().center().toPoint();
    QTest::mousePress(form.Chart1->viewport(), Qt::RightButton, {}, at);
    QTest::mouseRelease(form.Chart1->viewport(), Qt::RightButton, {}, at);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
  }
  QAction* Entry(QMenu* menu, const char* text) {
    for (QAction* action : menu->actions())
      if (action->text() == QString::fromUtf8(text)) return action;
    return nullptr;
  }
  QStringList SavedLines(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  // The test's server closes when the test ends: the run must be over by then, or the close breaks it.
  void StopBeforeTheServerGoes() {
    form.Button2->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Controller.HasWorker(); }, testsupport::PatienceMs));
  }

  QTemporaryDir folder;
  QString answer;
  QStringList proposals;
  TForm1 form;
};
}  // namespace

TEST_F(ResultExport, TheChartMenuCopiesAndSavesTheChartAndTheRunNeedsARun) {
  QMenu* menu = RightClick();
  ASSERT_NE(menu, nullptr);
  ASSERT_NE(Entry(menu, "&Messwerte speichern …"), nullptr);
  EXPECT_FALSE(Entry(menu, "&Messwerte speichern …")->isEnabled());  // no run yet
  EXPECT_FALSE(Entry(menu, "Mess&details …")->isEnabled());

  Entry(menu, "Diagramm &kopieren")->trigger();
  const QImage copied = QApplication::clipboard()->image();
  EXPECT_EQ(copied.size(), form.Chart1->size() * form.Chart1->devicePixelRatioF());
  // The right click gave the chart the focus; the picture shows the chart without its focus frame.
  ASSERT_TRUE(form.Chart1->hasFocus());
  form.Edit1->setFocus();
  EXPECT_EQ(copied.convertToFormat(QImage::Format_RGB32),
            form.Chart1->grab().toImage().convertToFormat(QImage::Format_RGB32));

  answer = folder.filePath("chart.png");
  menu->close();
  Entry(RightClick(), "Diagramm &speichern …")->trigger();
  EXPECT_TRUE(proposals.last().endsWith(".png"));
  const QImage saved(answer);
  EXPECT_GE(saved.width(), form.Chart1->width());
  EXPECT_GE(saved.height(), form.Chart1->height());
  if (QWidget* popup = QApplication::activePopupWidget()) popup->close();

  // A right drag pans and opens nothing.
  const QPoint from = form.Chart1->chart()->plotArea().center().toPoint();
  QTest::mousePress(form.Chart1->viewport(), Qt::RightButton, {}, from);
  QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(30, 0)),
                   form.Chart1->viewport()->mapToGlobal(QPointF(from + QPoint(30, 0))), Qt::NoButton, Qt::RightButton,
                   Qt::NoModifier);
  QApplication::sendEvent(form.Chart1->viewport(), &move);
  QTest::mouseRelease(form.Chart1->viewport(), Qt::RightButton, {}, from + QPoint(30, 0));
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(ResultExport, CtrlSSavesEveryPointOfTheRunSoFarAndAFailedSaveLeavesNothing) {
  const QLocale previous;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  testsupport::LoopbackServer server(testsupport::ServerMode::Record);
  form.ClientSocket1.SetPort(server.port());
  form.Edit1->setText("127.0.0.1");
  form.Button1->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.History.Count() >= 2; }, testsupport::PatienceMs));

  answer = folder.filePath("run.csv");
  QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
  QLocale::setDefault(previous);
  const QStringList lines = SavedLines(answer);
  ASSERT_GE(lines.size(), 9);
  EXPECT_EQ(lines[0], "Server;127.0.0.1");
  EXPECT_EQ(lines[1], QStringLiteral("Port;%1").arg(server.port()));
  EXPECT_EQ(lines[2], QString::fromUtf8("Blockgröße (Bytes);1024"));
  EXPECT_TRUE(QDateTime::fromString(lines[3].section(';', 1), Qt::ISODate).isValid()) << lines[3].toStdString();
  // The connection's details follow the run's rows, and their columns follow the rate's; a round
  // trip below a millisecond keeps three decimals.
  EXPECT_TRUE(QRegularExpression("^Minimale Umlaufzeit \\(ms\\);0,\\d{3}$").match(lines[6]).hasMatch())
      << lines[6].toStdString();
  EXPECT_EQ(lines[16], "Richtung;Senden (Upload)");
  EXPECT_EQ(lines[17], "Sekunden;kiBytes/s;Umlaufzeit (ms);Erneut gesendet (%);Begrenzt durch");
  for (const QString& row : lines.mid(18))
    EXPECT_TRUE(QRegularExpression("^\\d+,\\d{3};\\d+,\\d\\d;\\d+,(\\d|\\d{3});\\d+,\\d;\\w+").match(row).hasMatch())
        << row.toStdString();
  // The proposal: the run's start in the name, in the documents or home folder.
  EXPECT_TRUE(QRegularExpression("/Messung \\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d\\.csv$")
                  .match(proposals.last())
                  .hasMatch())
      << proposals.last().toStdString();

  // The run goes on: a later save holds the points since, and proposes the folder used last.
  const int saved = static_cast<int>(lines.size());
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return static_cast<int>(form.History.Count()) + 18 > saved; }, testsupport::PatienceMs));
  EXPECT_TRUE(form.Button2->isEnabled());
  QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
  EXPECT_GT(SavedLines(answer).size(), lines.size());
  EXPECT_TRUE(proposals.last().startsWith(folder.path() + '/'));

  TObservedMessages messages;
  answer = folder.filePath("missing/run.csv");
  QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_TRUE(messages[0].Text.startsWith(QString::fromUtf8("Die Datei „"))) << messages[0].Text.toStdString();
  EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"run.csv"});
  StopBeforeTheServerGoes();
}

TEST_F(ResultExport, TheDetailsWindowAndAPointsTooltipTellTheRoundTripOfTheRun) {
  testsupport::LoopbackServer server(testsupport::ServerMode::Record);
  form.ClientSocket1.SetPort(server.port());
  form.Edit1->setText("127.0.0.1");
  form.Button1->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.History.Count() >= 3; }, testsupport::PatienceMs));

  Entry(RightClick(), "Mess&details …")->trigger();
  ASSERT_TRUE(form.Details->isVisible());
  EXPECT_FALSE(form.Details->isModal());
  EXPECT_EQ(form.Details->windowTitle(), "Messdetails");
  // Under any locale: a German date, a loopback round trip with the digits it has, and no rate
  // beside the chart's that the chart would contradict.
  EXPECT_TRUE(QRegularExpression("Start: \\d\\d\\.\\d\\d\\.\\d{4}, \\d\\d:\\d\\d:\\d\\d,")
                  .match(form.Details->Text())
                  .hasMatch());
  EXPECT_TRUE(QRegularExpression("ohne Last \\(kleinste der Verbindung\\): 0[.,]\\d{3} ms")
                  .match(form.Details->Text())
                  .hasMatch())
      << form.Details->Text().toStdString();
  EXPECT_FALSE(form.Details->Text().contains("Kernel (Mittel")) << form.Details->Text().toStdString();
  form.Details->CopyText();
  EXPECT_EQ(QApplication::clipboard()->text(), form.Details->Text());
  const QString before = form.Details->Text();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.Details->Text() != before; }, testsupport::PatienceMs));  // it follows

  const int last = form.Series1.Count() - 1;
  form.Chart1->SyncFromModel();
  const QPointF drawn = form.Chart1->chart()->mapToPosition(
      QPointF(form.Series1.XValues[last], form.Series1.YValues[last]), form.Chart1->LineSeries());
  const QPoint at = form.Chart1->mapFromScene(form.Chart1->chart()->mapToScene(drawn)) + QPoint(-2, 0);
  QHelpEvent hover(QEvent::ToolTip, at, form.Chart1->viewport()->mapToGlobal(at));
  QApplication::sendEvent(form.Chart1->viewport(), &hover);
  EXPECT_TRUE(QRegularExpression("^Sekunde \\d+: .* kiBytes/s\nUmlaufzeit .* ms\nerneut gesendet .* %$")
                  .match(QToolTip::text())
                  .hasMatch())
      << QToolTip::text().toStdString();
  EXPECT_TRUE(form.Chart1->accessibleDescription().contains("Umlaufzeit"));
  StopBeforeTheServerGoes();
}
