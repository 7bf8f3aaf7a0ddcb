// The program's side of the network lab, run inside one of the lab's network namespaces:
//
//   korvaden-lab-probe link SECONDS NAMESPACE ADDRESS
//                                        korvaden-server on ADDRESS in the server's namespace and
//                                        the real main window here measuring against it; prints
//                                        every chart point beside what the server received in the
//                                        same second
//   korvaden-lab-probe silent ADDRESS    Start against an address that answers nothing; prints
//                                        how long the window waited for the connect-failed message
//
// Exits 0 when the run produced what it measures (points and server seconds, or the message);
// the figures are printed for the reader to judge.

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "application.h"
#include "companion_process.h"
#include "main_window.h"
#include "measurement_controller.h"
#include "message_service.h"

namespace {
double Deviation(double shown, double truth) { return truth > 0 ? (shown - truth) / truth * 100.0 : 0.0; }

int MeasureLink(TForm1& form, int seconds, const QString& serverNamespace, const QString& address) {
  QProcess server;
  const auto port = StartCompanionServer(server, QCoreApplication::applicationDirPath() + "/korvaden-server", address,
                                         {"ip", "netns", "exec", serverNamespace});
  if (!port) {
    std::puts("korvaden-server startete nicht");
    return 1;
  }
  // The rate in kiB/s at which the server received in its second ending at that many seconds
  // after its accept, over the interval's real length (a report a little late makes it longer).
  std::map<long, double> received;
  double previousEnd = 0;
  const QRegularExpression perSecond(R"(\] ([\d.]+) s: (\d+) Bytes)");
  QObject::connect(&server, &QProcess::readyReadStandardOutput, [&] {
    while (server.canReadLine()) {
      const auto match = perSecond.match(QString::fromUtf8(server.readLine()));
      if (!match.hasMatch()) continue;
      const double end = match.captured(1).toDouble();
      if (end > previousEnd) received[std::lround(end)] = match.captured(2).toDouble() / 1024.0 / (end - previousEnd);
      previousEnd = end;
    }
  });
  std::vector<QPointF> shown;
  auto sampling = form.Series1.OnAfterAdd;
  form.Series1.OnAfterAdd = [&](TRateSeries* sender, int index) {
    shown.emplace_back(sender->XValues[index], sender->YValues[index]);
    sampling(sender, index);
  };
  form.ClientSocket1.SetPort(*port);
  form.Edit1->setText(address);
  form.Button1->click();
  QTest::qWait(seconds * 1000 + 300);
  const double average = form.Series1.YValues.Total() / std::max(1, form.Series1.Count());
  const double firstHeld = form.Series1.Count() > 0 ? form.Series1.XValues[0] : 0;
  form.Button2->click();
  QTest::qWait(1500);  // the server's last full second
  server.terminate();
  server.waitForFinished(5000);

  // A point's window (the half second before it) lies in the server's second that ends nearest it.
  std::puts("  Sekunde   Diagramm kiB/s   Server kiB/s   Abweichung");
  double worst = 0, serverSum = 0;
  int serverSeconds = 0, compared = 0, within3 = 0;
  for (const QPointF& point : shown) {
    const auto second = received.find(std::lround(point.x()));
    if (second == received.end()) {
      std::printf("  %7.2f   %14.1f   %12s\n", point.x(), point.y(), "–");
      continue;
    }
    const double truth = second->second;
    const double deviation = Deviation(point.y(), truth);
    worst = std::max(worst, std::abs(deviation));
    ++compared;
    within3 += std::abs(deviation) <= 3.0;
    if (point.x() >= firstHeld) {
      serverSum += truth;
      ++serverSeconds;
    }
    std::printf("  %7.2f   %14.1f   %12.1f   %+9.2f %%\n", point.x(), point.y(), truth, deviation);
  }
  if (compared == 0 || serverSeconds == 0) {
    std::puts("keine vergleichbaren Punkte");
    return 1;
  }
  std::printf("größte Abweichung eines Punkts: %.2f %%, %d von %d Punkten innerhalb 3 %%; gleitender Durchschnitt "
              "%.1f kiB/s gegen %.1f kiB/s: %+.2f %%\n",
              worst, within3, compared, average, serverSum / serverSeconds, Deviation(average, serverSum / serverSeconds));
  return 0;
}

int ConnectToSilentServer(TForm1& form, const QString& address) {
  std::vector<TShownMessage> messages;
  TMessageService::SetObserver([&](const TShownMessage& message) { messages.push_back(message); });
  QElapsedTimer waited;
  waited.start();
  form.Edit1->setText(address);
  form.Button1->click();
  const bool ended = QTest::qWaitFor([&] { return !messages.empty(); }, 60000);
  const double seconds = waited.elapsed() / 1000.0;
  TMessageService::SetObserver(nullptr);
  if (!ended) {
    std::puts("nach 60 s noch keine Meldung");
    return 1;
  }
  std::printf("Meldung nach %.1f s: %s\n", seconds, qPrintable(messages.front().text.replace(QChar(13), ' ')));
  return messages.front().text == texts::ConnectFailed(address).replace(QChar(13), ' ') ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // A settings directory of its own: the user's settings are neither used nor changed.
  QTemporaryDir configuration;
  qputenv("XDG_CONFIG_HOME", configuration.path().toUtf8());
  TApplication application(argc, argv);
  const QStringList arguments = QCoreApplication::arguments();
  const bool link = arguments.size() == 5 && arguments[1] == "link";
  if (!link && !(arguments.size() == 3 && arguments[1] == "silent")) {
    std::fputs("Aufruf: korvaden-lab-probe link SEKUNDEN NAMENSRAUM ADRESSE | silent ADRESSE\n", stderr);
    return 2;
  }
  TForm1 form;
  form.show();
  const int result = link ? MeasureLink(form, std::max(3, arguments[2].toInt()), arguments[3], arguments[4])
                          : ConnectToSilentServer(form, arguments[2]);
  form.FormDestroy();
  return result;
}
