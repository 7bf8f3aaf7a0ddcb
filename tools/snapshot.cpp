// Takes pictures of the program's windows for the documentation: the main window during a real
// measurement against korvaden-server, optionally in expert mode, the About box with the help
// beside it, the dialog that saves a measurement, or Messdetails beside the window at a run's end;
// --download receives instead of sending, in expert mode; with --round-trip the chart also draws
// each point's round trip. --line-test runs the line test (phases of the given seconds) against a
// server of its own, or against --server HOST (a lab link's far end), and takes its window at the end.
// Under a window manager the picture is taken from the screen, frames included; on the offscreen
// platform the window draws itself.
//
//   korvaden-snapshot FILE.png [seconds] [--expert] [--download] [--round-trip]
//                     [--about | --save | --details | --line-test [--server HOST]]

#include <QApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>

#include <cstdio>

#include "base/tcp_port.h"
#include "settings/program_settings.h"
#include "support/companion_process.h"
#include "support/side_by_side.h"
#include "ui/about_box.h"
#include "ui/components/application.h"
#include "ui/components/help_viewer.h"
#include "ui/line_test_window.h"
#include "ui/main_window.h"
#include "ui/measurement_details.h"
#include "ui/result_export.h"

namespace {
QPixmap Picture(const std::vector<QWidget*>& windows) {
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return windows.front()->grab();
  QRect area;
  for (const QWidget* window : windows) area |= window->frameGeometry();
  return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}

// The About box is modal: the picture is taken while it runs, then it is closed.
bool AboutWithHelp(TForm1& form, const QString& file) {
  bool saved = false;
  QTimer::singleShot(700, &form, [&] { form.AboutBox->Button1->click(); });
  QTimer::singleShot(2000, &form, [&] {
    THelpViewer* help = THelpViewer::Find(form.HelpFile);
    saved = help && Picture({&form, form.AboutBox, help}).save(file);
    if (help) help->close();
    form.AboutBox->done(0);
  });
  form.BitBtn1->click();
  return saved;
}

// The save dialog is modal: the picture is taken while it runs, then it is cancelled.
bool SaveDialog(TForm1& form, const QString& file) {
  bool saved = false;
  QTimer::singleShot(1500, &form, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    saved = dialog && Picture({&form, dialog}).save(file);
    if (dialog) dialog->close();
  });
  form.Export->SaveMeasurement();
  return saved;
}

// Messdetails open where the program puts them, beside the window; offscreen both draw themselves.
bool WithDetails(TForm1& form, const QString& file) {
  form.Details->Open();
  QTest::qWait(700);
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) return Picture({&form, form.Details}).save(file);
  return SideBySide(form.grab(), form.Details->grab()).save(file);
}

// The line test's window once its test has finished, beside the main window that started it.
bool AfterALineTest(TForm1& form, const QString& file, int seconds, QString server) {
  QProcess companion;
  int port = DefaultPort;
  if (server.isEmpty()) {
    const auto local = StartCompanionServer(companion, QCoreApplication::applicationDirPath() + "/korvaden-server");
    if (!local) return false;
    port = *local;
    server = QStringLiteral("127.0.0.1");
  }
  form.Edit1->setText(server);
  bool finished = false;
  QObject::connect(form.LineTest, &TLineTestWindow::RunningChanged, [&](bool running) { finished = !running; });
  form.LineTest->PhaseSeconds = seconds;
  form.LineTest->StartTest(server, port);
  if (!QTest::qWaitFor([&] { return finished; }, 300000)) return false;
  QTest::qWait(700);
  const bool saved = Picture({form.LineTest}).save(file);
  companion.terminate();
  companion.waitForFinished(5000);
  return finished && saved;
}

bool DuringAMeasurement(TForm1& form, const QString& file, int seconds, bool saveDialog, bool details) {
  QProcess server;
  const auto port = StartCompanionServer(server, QCoreApplication::applicationDirPath() + "/korvaden-server");
  if (!port) return false;
  if (form.ProPanel->isVisible()) {
    form.Edit3->setText(QString::number(*port));
  } else {
    form.ClientSocket1.SetPort(*port);
  }
  form.Edit1->setText(QStringLiteral("127.0.0.1"));
  form.Button1->click();
  QTest::qWait(seconds * 1000 + 300);
  const bool saved = saveDialog ? SaveDialog(form, file)
                     : details  ? WithDetails(form, file)
                                : Picture({&form}).save(file);
  form.Button2->click();
  QTest::qWait(200);
  server.terminate();
  server.waitForFinished(5000);
  return saved;
}
}  // namespace

int main(int argc, char** argv) {
  // A settings directory of its own: the user's settings are neither used nor changed.
  QTemporaryDir configuration;
  qputenv("XDG_CONFIG_HOME", configuration.path().toUtf8());
  TApplication application(argc, argv);
  QStringList positional = application.arguments().mid(1);
  const bool expert = positional.removeAll(QStringLiteral("--expert")) > 0;
  const bool about = positional.removeAll(QStringLiteral("--about")) > 0;
  const bool saveDialog = positional.removeAll(QStringLiteral("--save")) > 0;
  const bool details = positional.removeAll(QStringLiteral("--details")) > 0;
  const bool download = positional.removeAll(QStringLiteral("--download")) > 0;
  const bool roundTrip = positional.removeAll(QStringLiteral("--round-trip")) > 0;
  const bool lineTest = positional.removeAll(QStringLiteral("--line-test")) > 0;
  QString server;
  if (const auto at = positional.indexOf(QStringLiteral("--server")); at >= 0 && at + 1 < positional.size()) {
    server = positional[at + 1];
    positional.remove(at, 2);
  }
  if (positional.isEmpty()) {
    std::fprintf(stderr,
                 "Aufruf: korvaden-snapshot DATEI.png [Sekunden] [--expert] [--download] [--round-trip] "
                 "[--about | --save | --details | --line-test [--server HOST]]\n");
    return 2;
  }
  const int seconds = positional.size() > 1 ? std::max(2, positional[1].toInt()) : 12;
  if (expert || download) TProgramSettings().EnableExpertMode();
  if (download) TProgramSettings().WriteDirection(TDirection::Receive);

  TForm1 form;
  form.RoundTripAction->setChecked(roundTrip);
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) return 1;
  QTest::qWait(500);  // the window manager has framed it
  const bool saved = about      ? AboutWithHelp(form, positional[0])
                     : lineTest ? AfterALineTest(form, positional[0], seconds, server)
                                : DuringAMeasurement(form, positional[0], seconds, saveDialog, details);
  form.FormDestroy();
  return saved ? 0 : 1;
}
