// korvaden-server under the load of a server offered to others, on 127.0.0.1:
//   1. a thousand connections at once, 900 slow ones (a kilobyte a second) and 100 silent ones:
//      the server's processor time, its memory, every report on time, every byte counted;
//   2. a flood of 10,000 connects that close at once: all reported, memory back where it was;
//   3. a full descriptor table (the server limited to 64): no busy loop, and served again after.
//
//   korvaden-server-load-bench [seconds of the slow phase, default 10]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest/QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "support/companion_process.h"

namespace {
// Processor time (user and system) in seconds and resident memory in KiB of a process.
double CpuSeconds(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return -1;
  const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
  return (fields[12].toDouble() + fields[13].toDouble()) / static_cast<double>(sysconf(_SC_CLK_TCK));
}
long ResidentKiB(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  const auto match = QRegularExpression(R"(VmRSS:\s+(\d+) kB)").match(QString::fromLatin1(status.readAll()));
  return match.hasMatch() ? match.captured(1).toLong() : -1;
}

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// What the server said, by connection number.
struct TTranscript {
  std::map<int, std::vector<double>> reportTimes;  // the "seconds" of each interval line
  std::map<int, double> summaryBytes;
  int refusals = 0;
  int acceptFailures = 0;

  // Takes what the server printed so far; its lines must keep flowing, or it waits for us.
  void Read(QProcess& server) {
    server.waitForReadyRead(0);
    static const QRegularExpression interval(R"(\[Verbindung (\d+) von [^\]]+\] ([\d.]+) s: )");
    static const QRegularExpression summary(R"(\[Verbindung (\d+)\] beendet: (\d+) Bytes)");
    while (server.canReadLine()) {
      const QString line = QString::fromUtf8(server.readLine());
      if (const auto m = interval.match(line); m.hasMatch()) {
        reportTimes[m.captured(1).toInt()].push_back(m.captured(2).toDouble());
      } else if (const auto s = summary.match(line); s.hasMatch()) {
        summaryBytes[s.captured(1).toInt()] = s.captured(2).toDouble();
      } else if (line.contains(QStringLiteral("nicht angenommen"))) {
        ++acceptFailures;
      }
    }
  }
  void WaitFor(QProcess& server, const std::function<bool()>& done, int ms) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < ms) {
      server.waitForReadyRead(50);
      Read(server);
    }
  }
};

const char* Verdict(bool reached) { return reached ? "erreicht" : "VERFEHLT"; }

int SlowAndSilent(const QString& serverPath, int seconds) {
  QProcess server;
  const auto port = StartCompanionServer(server, serverPath);
  if (!port) return 1;
  const qint64 pid = server.processId();
  TTranscript said;
  const long memoryBefore = ResidentKiB(pid);
  std::vector<int> clients;
  for (int i = 0; i < 1000; ++i) {
    const int fd = Connect(*port);
    if (fd < 0) {
      std::printf("Verbindung %d kam nicht zustande\n", i + 1);
      return 1;
    }
    clients.push_back(fd);
    said.Read(server);
  }
  const double cpuBefore = CpuSeconds(pid);
  const std::vector<char> kilobyte(1000, 'k');
  std::vector<double> sent(clients.size(), 0);
  for (int second = 0; second < seconds; ++second) {
    for (std::size_t i = 100; i < clients.size(); ++i) {  // the first hundred stay silent
      if (send(clients[i], kilobyte.data(), kilobyte.size(), MSG_NOSIGNAL) > 0) sent[i] += kilobyte.size();
    }
    said.WaitFor(
        server, [] { return false; }, 1000);
  }
  const double cpu = CpuSeconds(pid) - cpuBefore;
  const long memoryDuring = ResidentKiB(pid);
  for (int fd : clients) close(fd);
  said.WaitFor(
      server, [&] { return said.summaryBytes.size() >= clients.size(); }, 10000);

  // On time: the n-th report of a connection comes n seconds after its accept.
  double latest = 0;
  int late = 0, reports = 0, wrongCounts = 0;
  for (const auto& [number, times] : said.reportTimes) {
    for (std::size_t n = 0; n < times.size(); ++n) {
      const double lateness = times[n] - static_cast<double>(n + 1);
      latest = std::max(latest, lateness);
      late += lateness > 0.1;
      ++reports;
    }
  }
  for (std::size_t i = 0; i < clients.size(); ++i) {
    const auto summary = said.summaryBytes.find(static_cast<int>(i + 1));
    wrongCounts += summary == said.summaryBytes.end() || summary->second != sent[i];
  }
  std::printf(
      "1000 Verbindungen, %d s: Prozessorzeit des Servers %.2f s (%.1f %% eines Kerns), Speicher %ld -> %ld KiB\n",
      seconds, cpu, cpu / seconds * 100, memoryBefore, memoryDuring);
  std::printf(
      "  %d Berichte, %d mehr als 0,1 s zu spät (spätester %+.3f s) %s; %zu Zusammenfassungen, %d mit falscher "
      "Byte-Zahl %s\n",
      reports, late, latest, Verdict(late == 0), said.summaryBytes.size(), wrongCounts, Verdict(wrongCounts == 0));
  server.terminate();
  server.waitForFinished(5000);
  return 0;
}

int Flood(const QString& serverPath) {
  QProcess server;
  const auto port = StartCompanionServer(server, serverPath);
  if (!port) return 1;
  const qint64 pid = server.processId();
  TTranscript said;
  auto burst = [&](int count) {
    for (int done = 0; done < count;) {
      std::vector<int> batch;
      for (int i = 0; i < 200 && done < count; ++i, ++done) {
        const int fd = Connect(*port);
        if (fd >= 0) batch.push_back(fd);
      }
      for (int fd : batch) close(fd);
      said.Read(server);
    }
    said.WaitFor(
        server, [&] { return static_cast<int>(said.summaryBytes.size()) >= count; }, 20000);
  };
  burst(1000);  // warm-up: the server's buffers and maps at their working size
  const long memoryBefore = ResidentKiB(pid);
  const double cpuBefore = CpuSeconds(pid);
  QElapsedTimer took;
  took.start();
  said.summaryBytes.clear();
  burst(10000);
  std::printf("Flut: 10000 Verbindungen in %.1f s, %zu gemeldet %s, Prozessorzeit %.2f s, Speicher %ld -> %ld KiB %s\n",
              took.elapsed() / 1000.0, said.summaryBytes.size(), Verdict(said.summaryBytes.size() == 10000),
              CpuSeconds(pid) - cpuBefore, memoryBefore, ResidentKiB(pid),
              Verdict(ResidentKiB(pid) <= memoryBefore + 256));
  server.terminate();
  server.waitForFinished(5000);
  return 0;
}

int FullDescriptorTable(const QString& serverPath) {
  QProcess server;
  server.setChildProcessModifier([] {
    const rlimit few{64, 64};
    setrlimit(RLIMIT_NOFILE, &few);
  });
  const auto port = StartCompanionServer(server, serverPath);
  if (!port) return 1;
  const qint64 pid = server.processId();
  TTranscript said;
  std::vector<int> clients;
  for (int i = 0; i < 100; ++i) {
    const int fd = Connect(*port);  // the kernel completes them; the server cannot accept them all
    if (fd >= 0) clients.push_back(fd);
    said.Read(server);
  }
  said.WaitFor(
      server, [] { return false; }, 500);
  const double cpuBefore = CpuSeconds(pid);
  said.WaitFor(
      server, [] { return false; }, 3000);
  const double cpu = CpuSeconds(pid) - cpuBefore;
  for (int fd : clients) close(fd);
  said.WaitFor(
      server, [&] { return said.summaryBytes.size() >= clients.size(); }, 10000);
  const int late = Connect(*port);
  const std::vector<char> data(5000, 'k');
  send(late, data.data(), data.size(), MSG_NOSIGNAL);
  close(late);
  const int lateNumber = static_cast<int>(clients.size()) + 1;
  said.WaitFor(
      server, [&] { return said.summaryBytes.count(lateNumber) > 0; }, 5000);
  std::printf(
      "Volle Deskriptortabelle (64): %zu von 100 angenommen, %d Meldungen, Prozessorzeit in 3 s %.3f s %s; "
      "danach bedient %s\n",
      said.summaryBytes.size() - said.summaryBytes.count(lateNumber), said.acceptFailures, cpu, Verdict(cpu < 0.3),
      Verdict(said.summaryBytes.count(lateNumber) && said.summaryBytes[lateNumber] == 5000));
  server.terminate();
  server.waitForFinished(5000);
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;  // our side holds a thousand connections too
  setrlimit(RLIMIT_NOFILE, &limit);
  const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 10;
  const QString serverPath = QCoreApplication::applicationDirPath() + "/korvaden-server";
  return SlowAndSilent(serverPath, seconds) | Flood(serverPath) | FullDescriptorTable(serverPath);
}
