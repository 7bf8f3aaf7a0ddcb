// Throughput of the real send and receive paths (client socket and worker, no window) against
// korvaden-server on 127.0.0.1, next to iperf3 (and iperf3 -R for the download) with the same
// block length when it is installed.
//
//   korvaden-throughput-bench [seconds per run] [rounds] [block size]
//
// With a block size only the upload at that size runs, next to iperf3: no receiving server alone
// and no download.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest/QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "measure/korvaden_thread.h"
#include "measure/measurement_counters.h"
#include "measure/state_samples.h"
#include "net/client_socket.h"
#include "support/companion_process.h"

namespace {
constexpr double MiB = 1024.0 * 1024.0;

// Reads server output until the summary of a connection arrives; returns bytes and seconds.
std::optional<std::pair<double, double>> WaitForSummary(QProcess& server) {
  const QRegularExpression summary(R"(beendet: (\d+) Bytes in ([\d.]+) s)");
  for (int i = 0; i < 100; ++i) {
    while (server.canReadLine()) {
      const auto match = summary.match(QString::fromUtf8(server.readLine()));
      if (match.hasMatch()) return std::make_pair(match.captured(1).toDouble(), match.captured(2).toDouble());
    }
    server.waitForReadyRead(100);
  }
  return std::nullopt;
}

// MiB/s of one run of the worker against korvaden-server: sending, what the server received by its
// summary; receiving, what the worker read by its own published total.
std::optional<double> MeasureKorvaden(const QString& serverPath, int blockSize, int seconds,
                                      TDirection direction = TDirection::Send) {
  QProcess server;
  const auto port = StartCompanionServer(server, serverPath);
  if (!port) return std::nullopt;
  TClientSocket socket;
  socket.SetHost("127.0.0.1");
  socket.SetPort(*port);
  socket.SetActive(true);
  if (!QTest::qWaitFor([&] { return socket.Active(); }, 5000)) return std::nullopt;

  Counters.BlockSize = blockSize;
  TStateSamples samples;
  auto* worker = new TKorvadenThread(socket, samples, direction);
  worker->FreeOnTerminate = true;
  worker->Start();
  QTest::qWait(seconds * 1000);
  worker->Terminate();
  worker->WaitFor();
  const std::pair<double, double> read{static_cast<double>(Counters.TotalBytes.load()),
                                       Counters.TotalMs.load() / 1000.0};
  socket.SetActive(false);
  const auto moved = direction == TDirection::Send ? WaitForSummary(server) : read;
  server.terminate();
  server.waitForFinished(5000);
  if (!moved || moved->second <= 0) return std::nullopt;
  return moved->first / moved->second / MiB;
}

// MiB/s that korvaden-server received from a plain blocking sender writing blockSize bytes at a
// time: the receiving side alone, to compare with iperf3's server.
std::optional<double> MeasureServerReceiving(const QString& serverPath, int blockSize, int seconds) {
  QProcess server;
  const auto port = StartCompanionServer(server, serverPath);
  if (!port) return std::nullopt;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(*port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return std::nullopt;
  const std::vector<char> block(static_cast<std::size_t>(blockSize), 'k');
  QElapsedTimer sending;
  sending.start();
  while (sending.elapsed() < seconds * 1000) ::send(fd, block.data(), block.size(), MSG_NOSIGNAL);
  ::close(fd);
  const auto received = WaitForSummary(server);
  server.terminate();
  server.waitForFinished(5000);
  if (!received) return std::nullopt;
  return received->first / received->second / MiB;
}

// MiB/s that iperf3's server received, with the same block length on 127.0.0.1; reverse: what its
// client received from the server (-R).
std::optional<double> MeasureIperf(int blockSize, int seconds, bool reverse = false) {
  const QString iperf = QStandardPaths::findExecutable("iperf3");
  if (iperf.isEmpty()) return std::nullopt;
  const QString port = QString::number(5201 + blockSize % 997);
  QProcess server;
  server.start(iperf, {"-s", "-1", "-B", "127.0.0.1", "-p", port});
  if (!server.waitForStarted(5000)) return std::nullopt;
  QTest::qWait(300);
  QProcess client;
  QStringList arguments{"-c", "127.0.0.1", "-p", port, "-l", QString::number(blockSize), "-t", QString::number(seconds),
                        "-J"};
  if (reverse) arguments << "-R";
  client.start(iperf, arguments);
  client.waitForFinished((seconds + 20) * 1000);
  server.waitForFinished(5000);
  const auto result = QJsonDocument::fromJson(client.readAllStandardOutput()).object();
  const double bitsPerSecond = result["end"].toObject()["sum_received"].toObject()["bits_per_second"].toDouble();
  if (bitsPerSecond <= 0) return std::nullopt;
  return bitsPerSecond / 8.0 / MiB;
}
}  // namespace

// The median of the rounds that produced a figure.
std::optional<double> Median(std::vector<double> rates) {
  if (rates.empty()) return std::nullopt;
  std::sort(rates.begin(), rates.end());
  return rates[rates.size() / 2];
}

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const QString serverPath = QCoreApplication::applicationDirPath() + "/korvaden-server";
  const int onlyBlockSize = argc > 3 ? std::max(1, std::atoi(argv[3])) : 0;
  std::vector<std::pair<int, double>> targets = {{1024, 1.0}, {131072, 1.0}};
  if (onlyBlockSize > 0) targets = {{onlyBlockSize, 1.0}};
  int failures = 0;
  for (const auto& [blockSize, target] : targets) {
    // Alternate the two programs, so a noisy moment on a shared machine hits both alike.
    std::vector<double> ourRates, theirRates, receivingRates;
    for (int round = 0; round < rounds; ++round) {
      if (const auto ours = MeasureKorvaden(serverPath, blockSize, seconds)) ourRates.push_back(*ours);
      if (const auto theirs = MeasureIperf(blockSize, seconds)) theirRates.push_back(*theirs);
      if (onlyBlockSize > 0) continue;
      if (const auto receiving = MeasureServerReceiving(serverPath, blockSize, seconds)) {
        receivingRates.push_back(*receiving);
      }
    }
    const auto ours = Median(ourRates);
    const auto theirs = Median(theirRates);
    const auto receiving = Median(receivingRates);
    if (receiving && theirs) {
      std::printf(
          "Blockgröße %6d: korvaden-server empfängt %9.1f MiB/s, iperf3 %9.1f MiB/s, Verhältnis %.3f "
          "(Ziel >= 1,00) %s\n",
          blockSize, *receiving, *theirs, *receiving / *theirs, *receiving >= *theirs ? "erreicht" : "VERFEHLT");
    }
    if (!ours) {
      std::printf("Blockgröße %6d: Messung mit korvaden-server fehlgeschlagen\n", blockSize);
      ++failures;
      continue;
    }
    if (!theirs) {
      std::printf("Blockgröße %6d: korvaden %9.1f MiB/s (iperf3 nicht verfügbar)\n", blockSize, *ours);
      continue;
    }
    const double ratio = *ours / *theirs;
    std::printf(
        "Blockgröße %6d: korvaden %9.1f MiB/s, iperf3 %9.1f MiB/s (Median aus %d Runden), "
        "Verhältnis %.3f (Ziel >= %.2f) %s\n",
        blockSize, *ours, *theirs, rounds, ratio, target, ratio >= target ? "erreicht" : "VERFEHLT");
  }
  if (onlyBlockSize > 0) return failures == 0 ? 0 : 1;
  // The download: the worker reading against iperf3 -R, at the default block and a large one.
  for (const int blockSize : {1024, 131072}) {
    std::vector<double> ourRates, theirRates;
    for (int round = 0; round < rounds; ++round) {
      if (const auto ours = MeasureKorvaden(serverPath, blockSize, seconds, TDirection::Receive))
        ourRates.push_back(*ours);
      if (const auto theirs = MeasureIperf(blockSize, seconds, true)) theirRates.push_back(*theirs);
    }
    const auto ours = Median(ourRates);
    const auto theirs = Median(theirRates);
    if (!ours) {
      std::printf("Download, Blockgröße %6d: Messung mit korvaden-server fehlgeschlagen\n", blockSize);
      ++failures;
    } else if (!theirs) {
      std::printf("Download, Blockgröße %6d: korvaden %9.1f MiB/s (iperf3 nicht verfügbar)\n", blockSize, *ours);
    } else {
      std::printf(
          "Download, Blockgröße %6d: korvaden %9.1f MiB/s, iperf3 -R %9.1f MiB/s (Median aus %d Runden), "
          "Verhältnis %.3f (Ziel >= 0,90) %s\n",
          blockSize, *ours, *theirs, rounds, *ours / *theirs, *ours / *theirs >= 0.9 ? "erreicht" : "VERFEHLT");
    }
  }
  return failures == 0 ? 0 : 1;
}
