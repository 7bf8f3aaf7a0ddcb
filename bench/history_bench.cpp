// The history at the size of years of timer runs: 10,000 line tests with their points, each stored
// as the program stores one. Prints the file's size, the time to store one test, to list them all
// and to open the history window on them, the main window's start-up with and without that
// history, and whether the file survives a program killed while storing (integrity_check after
// each of 20 kills).
//
//   korvaden-history-bench [TESTS, default 10000] [KILLS, default 20]

#include <signal.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ui/history/history_store.h"
#include "ui/history_window.h"
#include "ui/main_window.h"

namespace {

// A test as a timer run leaves it: four phases of a ten-second test, two points a second.
linetest::TResult Test(int n) {
  linetest::TResult r;
  r.Server = QStringLiteral("messung%1.example").arg(n % 3);
  r.Address = QStringLiteral("198.18.0.%1").arg(2 + n % 3);
  r.Port = 2857;
  r.Start = QDateTime::currentDateTime().addSecs(-3 * 3600LL * (10000 - n));
  r.PhaseSeconds = 10;
  r.Idle = {12.0 + n % 5, 15.0, 50};
  r.Download.Measured = r.Upload.Measured = true;
  r.Download.Bytes = 2'500'000ULL * 5 * (8 + n % 4);
  r.Upload.Bytes = 500'000ULL * 5 * (8 + n % 3);
  r.Download.Seconds = r.Upload.Seconds = 5;
  r.Download.Connections = 4;
  r.Upload.Connections = 2;
  r.Download.Latency = {40.0, 55.0, 50};
  r.Upload.Latency = {180.0, 240.0, 50};
  r.Both = {true, 90.0, 18.0, {190.0, 250.0, 50}};
  r.AddedDownloadMs = 28;
  r.AddedUploadMs = 168;
  r.AddedLatencyMs = 98;
  r.Grade = QStringLiteral("C");
  r.Rpm = 420;
  r.RpmClass = QStringLiteral("mäßig");
  r.Verdict = QStringLiteral(
      "Beim Upload wächst die Latenz um 168 ms: Der Router puffert zu viel. "
      "Eine Warteschlangenverwaltung wie fq_codel oder cake hilft.");
  for (int i = 0; i < 70; ++i) {
    const auto phase = linetest::AllPhases[i < 10 ? 0 : i < 30 ? 1 : i < 50 ? 2 : 3];
    const bool down = phase == linetest::TPhase::Download || phase == linetest::TPhase::Both;
    const bool up = phase == linetest::TPhase::Upload || phase == linetest::TPhase::Both;
    r.Points.push_back({i * 0.5, phase, down ? 95.0 + i % 7 : NAN, up ? 19.0 + i % 3 : NAN, 12.0 + i % 11 * 15});
  }
  return r;
}

double Percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[static_cast<std::size_t>(share * (values.size() - 1))];
}

// A child: stores `count` tests, or until it is killed when count is 0.
int StoreTests(const QString& path, int count) {
  history::THistoryStore store(path);
  for (int n = 0; count == 0 || n < count; ++n) {
    if (!store.StoreTest(Test(n), QStringLiteral("bench"))) {
      std::fprintf(stderr, "%s\n", qPrintable(store.Error()));
      return 1;
    }
  }
  return 0;
}

QString IntegrityCheck(const QString& path) {
  QString answer;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
    db.setDatabaseName(path);
    db.open();
    QSqlQuery query(QStringLiteral("PRAGMA integrity_check"), db);
    answer = query.next() ? query.value(0).toString() : query.lastError().text();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("check"));
  return answer;
}

double OneStartUpMs() {
  QElapsedTimer clock;
  clock.start();
  TForm1 form;
  form.show();
  form.grab();
  QApplication::processEvents();
  const double ms = clock.nsecsElapsed() / 1e6;
  form.FormDestroy();
  return ms;
}

// Milliseconds from creating the main window to its first frame; the best of three, so the first
// start's loading of fonts and plugins does not count against either side.
double StartUpMs() {
  double best = 1e9;
  for (int i = 0; i < 3; ++i) best = std::min(best, OneStartUpMs());
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && QByteArray(argv[1]) == "--store") {
    QCoreApplication application(argc, argv);
    return StoreTests(QString::fromLocal8Bit(argv[3]), std::atoi(argv[2]));
  }
  // The bench's own settings and history, never the user's.
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
  qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const int tests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
  const int kills = argc > 2 ? std::max(0, std::atoi(argv[2])) : 20;

  const double startUpEmpty = StartUpMs();
  const QString path = history::THistoryStore::DefaultPath();
  std::vector<double> storeMs;
  {
    history::THistoryStore store(path);
    for (int n = 0; n < tests; ++n) {
      const linetest::TResult test = Test(n);
      QElapsedTimer clock;
      clock.start();
      if (!store.StoreTest(test, QStringLiteral("bench"))) {
        std::printf("Speichern scheiterte: %s\n", qPrintable(store.Error()));
        return 1;
      }
      storeMs.push_back(clock.nsecsElapsed() / 1e6);
    }
  }
  const auto fileMb = [&] { return (QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size()) / 1e6; };
  std::printf("Verlauf mit %d Tests zu je 70 Punkten: %.1f MB (Ziel unter 100 MB)\n", tests, fileMb());
  std::printf("Einen Test speichern: Median %.2f ms, 99 %% %.2f ms, höchstens %.2f ms (Ziel unter 20 ms)\n",
              Percentile(storeMs, 0.5), Percentile(storeMs, 0.99), Percentile(storeMs, 1));

  QElapsedTimer clock;
  clock.start();
  std::size_t listed = 0;
  {
    history::THistoryStore store(path);
    listed = store.Tests().size();
  }
  std::printf("Öffnen und alle %zu Tests lesen: %.1f ms\n", listed, clock.nsecsElapsed() / 1e6);

  clock.restart();
  {
    THistoryWindow window(nullptr);
    window.Open();
    window.grab();
    QApplication::processEvents();
    std::printf("Fenster „Verlauf“ geöffnet und gezeichnet: %.1f ms (Ziel unter 500 ms)\n", clock.nsecsElapsed() / 1e6);
  }
  std::printf("Start des Hauptfensters: ohne Verlauf %.1f ms, mit diesem Verlauf %.1f ms\n", startUpEmpty, StartUpMs());

  // Two programs at once, as the window and a timer run: every test of both lands.
  const std::size_t before = history::THistoryStore(path).Tests().size();
  QProcess first, second;
  for (QProcess* writer : {&first, &second})
    writer->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--store"), QStringLiteral("300"), path});
  bool bothFine = true;
  for (QProcess* writer : {&first, &second}) {
    writer->waitForFinished(120000);
    bothFine = bothFine && writer->exitCode() == 0;
    if (writer->exitCode() != 0) std::printf("%s", writer->readAllStandardError().constData());
  }
  std::printf("Zwei Programme speichern zugleich je 300 Tests: %zu gelandet%s\n",
              history::THistoryStore(path).Tests().size() - before, bothFine ? "" : " (einer scheiterte)");

  int intact = 0;
  for (int round = 0; round < kills; ++round) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--store"), QStringLiteral("0"), path});
    child.waitForStarted();
    QThread::msleep(200 + QRandomGenerator::global()->bounded(400));
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    child.waitForFinished();
    const QString answer = IntegrityCheck(path);
    history::THistoryStore store(path);
    const bool ok = answer == QLatin1String("ok") && store.IsOpen() && store.Notice().isEmpty();
    intact += ok;
    if (!ok)
      std::printf("Nach Abbruch %d: integrity_check sagt „%s“; %s\n", round + 1, qPrintable(answer),
                  qPrintable(store.Notice() + store.Error()));
  }
  std::printf("Beim Speichern mit SIGKILL beendet: %d von %d Mal integrity_check „ok“ (%zu Tests danach)\n", intact,
              kills, history::THistoryStore(path).Tests().size());
  return intact == kills ? 0 : 1;
}
