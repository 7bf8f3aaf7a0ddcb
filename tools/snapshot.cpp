// Takes pictures of the program's windows for the documentation: the main window during a real
// measurement against korvaden-server, optionally in expert mode, the About box with the help
// beside it, the dialog that saves a measurement, or Messdetails beside the window at a run's end;
// --download receives instead of sending, in expert mode; with --round-trip the chart also draws
// each point's round trip. --line-test runs the line test (phases of the given seconds) against a
// server of its own, or against --server HOST (a lab link's far end), and takes its window at the end.
// --history shows the window "Verlauf" on four days of example tests with a contract's rates, on
// the chart's tab or, with --contract, on the contract's.
// Under a window manager the picture is taken from the screen, frames included; on the offscreen
// platform the window draws itself.
//
//   korvaden-snapshot FILE.png [seconds] [--expert] [--download] [--round-trip]
//                     [--about | --save | --details | --line-test [--server HOST] | --history [--contract]]

#include <QApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
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
#include "ui/history/history_store.h"
#include "ui/history_window.h"
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

// Four days of a line that keeps its download in the morning and loses it in the evening, ten tests
// a day against a server in the internet (a documentation address), and two against this computer.
void FillExampleHistory() {
  history::THistoryStore store;
  const QDate today = QDate::currentDate();
  for (int day = 3; day >= 0; --day) {
    for (int n = 0; n < 10; ++n) {
      const int hour = 8 + n * 14 / 10;
      linetest::TResult r;
      r.Server = QStringLiteral("messung.example.net");
      r.Address = QStringLiteral("203.0.113.7");
      r.Port = DefaultPort;
      r.Start = QDateTime(today.addDays(-day), QTime(hour, (n * 37 + day * 11) % 60));
      r.PhaseSeconds = 10;
      const double evening = hour >= 18 ? 0.55 + 0.05 * day : 1.0;
      const double download = (92 - 6 * ((n + day) % 4)) * evening;
      const double upload = 38 - 3 * ((n * 3 + day) % 5) * (hour >= 18 ? 2 : 1);
      r.Download.Measured = r.Upload.Measured = true;
      r.Download.Seconds = r.Upload.Seconds = 5;
      r.Download.Bytes = static_cast<std::uint64_t>(download * 1e6 / 8 * 5);
      r.Upload.Bytes = static_cast<std::uint64_t>(upload * 1e6 / 8 * 5);
      r.Idle.MedianMs = 14 + n % 3;
      r.Download.Latency.MedianMs = 40 + n * 2;
      r.Upload.Latency.MedianMs = 120 + 15 * (n % 4);
      r.Grade = QStringLiteral("C");
      r.Rpm = 500 + 20 * n;
      r.RpmClass = QStringLiteral("mäßig");
      store.StoreTest(r, QStringLiteral(KORVADEN_VERSION));
      if (day == 1 && n % 5 == 0) {
        r.Server = r.Address = QStringLiteral("127.0.0.1");
        r.Start = r.Start.addSecs(600);
        r.Download.Bytes *= 40;
        r.Upload.Bytes *= 90;
        r.Grade = QStringLiteral("A+");
        store.StoreTest(r, QStringLiteral(KORVADEN_VERSION));
      }
    }
  }
  TProgramSettings settings;
  const char* rates[6] = {"100", "80", "50", "40", "30", "15"};
  for (int i = 0; i < 6; ++i)
    settings.WriteContractRate(TProgramSettings::ContractRateNames[i], QString::fromLatin1(rates[i]));
}

bool TheHistory(TForm1& form, const QString& file, bool contract) {
  FillExampleHistory();
  form.OpenHistory();
  QWidget* window = form.HistoryWindow;
  if (!window || !QTest::qWaitForWindowExposed(window)) return false;
  window->resize(960, 720);
  if (contract) window->findChild<QTabWidget*>()->setCurrentIndex(1);
  QTest::qWait(700);
  return Picture({window}).save(file);
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
  // Settings and a history of its own: the user's are neither used nor changed.
  QTemporaryDir configuration;
  qputenv("XDG_CONFIG_HOME", configuration.filePath(QStringLiteral("config")).toUtf8());
  qputenv("XDG_DATA_HOME", configuration.filePath(QStringLiteral("data")).toUtf8());
  TApplication application(argc, argv);
  QStringList positional = application.arguments().mid(1);
  const bool expert = positional.removeAll(QStringLiteral("--expert")) > 0;
  const bool about = positional.removeAll(QStringLiteral("--about")) > 0;
  const bool saveDialog = positional.removeAll(QStringLiteral("--save")) > 0;
  const bool details = positional.removeAll(QStringLiteral("--details")) > 0;
  const bool download = positional.removeAll(QStringLiteral("--download")) > 0;
  const bool roundTrip = positional.removeAll(QStringLiteral("--round-trip")) > 0;
  const bool lineTest = positional.removeAll(QStringLiteral("--line-test")) > 0;
  const bool history = positional.removeAll(QStringLiteral("--history")) > 0;
  const bool contract = positional.removeAll(QStringLiteral("--contract")) > 0;
  QString server;
  if (const auto at = positional.indexOf(QStringLiteral("--server")); at >= 0 && at + 1 < positional.size()) {
    server = positional[at + 1];
    positional.remove(at, 2);
  }
  if (positional.isEmpty()) {
    std::fprintf(stderr,
                 "Aufruf: korvaden-snapshot DATEI.png [Sekunden] [--expert] [--download] [--round-trip] "
                 "[--about | --save | --details | --line-test [--server HOST] | --history [--contract]]\n");
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
                     : history  ? TheHistory(form, positional[0], contract)
                     : lineTest ? AfterALineTest(form, positional[0], seconds, server)
                                : DuringAMeasurement(form, positional[0], seconds, saveDialog, details);
  form.FormDestroy();
  return saved ? 0 : 1;
}
