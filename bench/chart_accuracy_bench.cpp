// Compares the rate the chart shows with what korvaden-server received over the same steady span,
// and watches the program's memory over a long run.
//
//   korvaden-chart-bench [seconds]      (default 30; 600 for the ten-minute memory run)

#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <cstdio>
#include <vector>

#include "support/companion_process.h"
#include "ui/components/application.h"
#include "ui/main_window.h"

namespace {
long ResidentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  const auto match = QRegularExpression(R"(VmRSS:\s+(\d+) kB)").match(QString::fromLatin1(status.readAll()));
  return match.hasMatch() ? match.captured(1).toLong() : -1;
}

struct TServerSecond {
  double endSeconds;
  double bytes;
};
}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // A settings directory of its own: the user's settings are neither used nor changed.
  QTemporaryDir configuration;
  qputenv("XDG_CONFIG_HOME", configuration.path().toUtf8());
  TApplication application(argc, argv);
  const int seconds = argc > 1 ? std::max(15, std::atoi(argv[1])) : 30;

  QProcess server;
  const auto port = StartCompanionServer(server, QCoreApplication::applicationDirPath() + "/korvaden-server");
  if (!port) return 1;
  std::vector<TServerSecond> received;
  const QRegularExpression perSecond(R"(\] ([\d.]+) s: (\d+) Bytes)");
  QObject::connect(&server, &QProcess::readyReadStandardOutput, [&] {
    while (server.canReadLine()) {
      const auto match = perSecond.match(QString::fromUtf8(server.readLine()));
      if (match.hasMatch()) received.push_back({match.captured(1).toDouble(), match.captured(2).toDouble()});
    }
  });

  TForm1 form;
  form.show();
  std::vector<QPointF> shown;
  auto sampling = form.Series1.OnAfterAdd;
  form.Series1.OnAfterAdd = [&](TRateSeries* sender, int index) {
    shown.emplace_back(sender->XValues[index], sender->YValues[index]);
    sampling(sender, index);
  };
  form.ClientSocket1.SetPort(*port);
  form.Edit1->setText(QStringLiteral("127.0.0.1"));
  form.Button1->click();

  long memoryAtOneMinute = -1;
  const long memoryAtStart = ResidentKiB();
  for (int second = 1; second <= seconds; ++second) {
    QTest::qWait(1000);
    if (second == std::min(60, seconds / 2)) memoryAtOneMinute = ResidentKiB();
  }
  const long memoryAtEnd = ResidentKiB();
  const int held = form.Series1.Count();
  const std::size_t history = form.History.Count();
  const std::size_t historyBytes = form.History.Bytes();
  form.Button2->click();
  QTest::qWait(300);
  form.FormDestroy();
  server.terminate();
  server.waitForFinished(5000);

  // The steady span leaves out the start-up seconds and the last ones.
  const double from = 5, to = seconds - 2;
  double chartSum = 0;
  int chartPoints = 0;
  for (const QPointF& point : shown) {
    if (point.x() >= from && point.x() <= to) {
      chartSum += point.y();
      ++chartPoints;
    }
  }
  double serverBytes = 0;
  int serverSeconds = 0;
  for (const TServerSecond& interval : received) {
    if (interval.endSeconds - 1 >= from && interval.endSeconds <= to) {
      serverBytes += interval.bytes;
      ++serverSeconds;
    }
  }
  if (chartPoints == 0 || serverSeconds == 0) return 1;
  const double chartRate = chartSum / chartPoints;
  const double serverRate = serverBytes / serverSeconds / 1024.0;
  const double deviation = (chartRate - serverRate) / serverRate * 100.0;
  std::printf("Lauf %d s: %zu Punkte (ein Punkt je Tick erwartet: %d), %d gehalten\n", seconds, shown.size(), seconds,
              held);
  std::printf("Diagramm %.1f kiB/s, Server %.1f kiB/s, Abweichung %+.2f %% (Ziel: höchstens 2 %%) %s\n", chartRate,
              serverRate, deviation, std::abs(deviation) <= 2.0 ? "erreicht" : "VERFEHLT");
  std::printf("Verlauf des ganzen Laufs: %zu Punkte in %zu Bytes (12 je Punkt und Vorrat; ein Tag: %d Bytes)\n",
              history, historyBytes, 86400 * 12);
  std::printf("Speicher (RSS): Start %ld KiB, nach %d s %ld KiB, Ende %ld KiB, Zuwachs seitdem %+ld KiB\n",
              memoryAtStart, std::min(60, seconds / 2), memoryAtOneMinute, memoryAtEnd,
              memoryAtEnd - memoryAtOneMinute);
  return 0;
}
