// The program's side of the network lab, run inside one of the lab's network namespaces:
//
//   korvaden-lab-probe link SECONDS NAMESPACE ADDRESS [--truth FILE --delay MS [--queue-log FILE]
//                                        | --device NAME] [--receive-buffer BYTES] [--snapshot PNG]
//                                        [--download] [--round-trip]
//                                        korvaden-server on ADDRESS in the server's namespace and
//                                        the real main window here measuring against it; prints
//                                        every chart point beside the truth over the same interval,
//                                        then the run's details beside the link's queue and drops
//   korvaden-lab-probe silent ADDRESS [--download]
//                                        Start against an address that answers nothing; prints
//                                        how long the window waited for the connect-failed message
//   korvaden-lab-probe mute --download   A download from a server here on loopback that accepts
//                                        and never sends; prints how long the window waited for
//                                        its error message, which must come within 15 s
//
// --download makes the window's run a download (the direction in its settings, written before the
// window reads them): the server sends, the program reads, and the truth is what the program
// could read in order. Without it the run is an upload and the truth what the server could read.
//
// With --truth the truth comes from the lab's link (korvaden-lab-link, shaping the direction the
// run measures), which counts it every 50 ms on the monotonic clock that the program's tick
// counter also reads; --delay is that link's one-way delay. With --device (the kernel's shaper on
// a veth pair, which delivers at once and loses nothing) it is what crossed the client's device:
// in an upload the bytes it transmitted, in a download the bytes it received (what left the
// server's shaper), each less the headers of its packets, read every 20 ms. Otherwise it comes
// from the server's per-second lines, counted from its accept. A point is judged over the interval
// it stands for; where the program reports none, over the second before it.
//
// The details are judged against the link's queue log (korvaden-lab-link --queue-log): the least
// round trip against twice the one-way delay, the added latency against the 95th percentile of the
// packets' waits in the queue over the same seconds, the bytes sent again against the share of
// packets the link dropped. In a download they are the server's view, as its state records bring
// it. --receive-buffer gives the server a small receive buffer;
// --snapshot saves a picture of the window with its "Messdetails" beside it, taken at the run's end.
//
// --round-trip ticks "Umlaufzeit anzeigen" before the run, so the chart draws its round-trip line
// (and the picture has it). With a queue log, an upload's line is judged point by point: the
// round trip in the details of each of the first 20 points after the first two against twice the
// delay plus the median wait in the link's queue that the sender saw over the point's interval.
//
// Exits 0 when the run produced what it measures (points and truth, or the message); the figures
// are printed for the reader to judge, the last line of a link in one line for the lab's table.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "base/direction.h"
#include "measure/measure_texts.h"
#include "measure/measurement_controller.h"
#include "measure/measurement_counters.h"
#include "measure/number_format.h"
#include "measure/run_details.h"
#include "settings/program_settings.h"
#include "support/companion_process.h"
#include "support/side_by_side.h"
#include "ui/components/application.h"
#include "ui/components/message_service.h"
#include "ui/main_window.h"
#include "ui/measurement_details.h"

namespace {
using Clock = std::chrono::steady_clock;

double NowMs() { return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count(); }

// The interval the sampler says its last point stands for, in milliseconds since the run's start;
// none from a build whose points stand for the last window only (the lab compares builds).
template <class Sampler>
std::optional<std::pair<double, double>> IntervalOf(const Sampler& sampler) {
  if constexpr (requires { sampler.LastInterval(); }) {
    return std::pair<double, double>(sampler.LastInterval().FromMs, sampler.LastInterval().ToMs);
  } else {
    return std::nullopt;
  }
}

// The worker's run start on the steady clock, where the build publishes it; else the connect.
template <class Counters>
double RunStartMs(const Counters& counters, double connectedMs) {
  if constexpr (requires { counters.RunStartTick.load(); }) {
    const double now = std::floor(NowMs());
    const std::uint32_t since =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(now)) - counters.RunStartTick.load();
    return now - since;
  } else {
    return connectedMs;
  }
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The bytes the far end could read in order, against milliseconds on the steady clock; linear
// between the samples.
class TTruth {
 public:
  void Add(double ms, double bytes) {
    if (FSamples.empty() || ms > FSamples.back().ms) FSamples.push_back({ms, bytes});
  }
  bool Covers(double ms) const { return !FSamples.empty() && ms <= FSamples.back().ms; }
  double BytesAt(double ms) const {
    if (FSamples.empty()) return 0;
    const auto after = std::lower_bound(FSamples.begin(), FSamples.end(), ms,
                                        [](const Sample& sample, double at) { return sample.ms < at; });
    if (after == FSamples.begin()) return FSamples.front().bytes;
    if (after == FSamples.end()) return FSamples.back().bytes;
    const Sample& before = *(after - 1);
    return before.bytes + (after->bytes - before.bytes) * (ms - before.ms) / (after->ms - before.ms);
  }
  // kiB/s over [from, to].
  double Rate(double from, double to) const { return (BytesAt(to) - BytesAt(from)) / 1.024 / (to - from); }

 private:
  struct Sample {
    double ms;
    double bytes;
  };
  std::vector<Sample> FSamples;
};

// The link's truth file: "MONOTONIC_NS IN_ORDER_BYTES ..." per line.
void ReadTruthFile(const QString& path, TTruth& truth) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return;
  while (!file.atEnd()) {
    const QList<QByteArray> fields = file.readLine().simplified().split(' ');
    if (fields.size() >= 2) truth.Add(fields[0].toDouble() / 1e6, fields[1].toDouble());
  }
}

// The TCP payload that crossed the client's device, sent in an upload, received in a download:
// every packet is one segment of ours (or, with segmentation offload, several with one set of
// headers) with 14 bytes Ethernet, 20 IP and 32 TCP header (with timestamps); nothing else goes that
// way but the handshake and the download's request.
class TDeviceTruth {
 public:
  TDeviceTruth(const QString& device, bool received)
      : FFolder("/sys/class/net/" + device.toStdString() + "/statistics/"),
        FBytes(received ? "rx_bytes" : "tx_bytes"),
        FPackets(received ? "rx_packets" : "tx_packets"),
        FThread([this] { Sample(); }) {}
  ~TDeviceTruth() {
    FStop = true;
    FThread.join();
  }
  void CopyTo(TTruth& truth) {
    std::lock_guard lock(FLock);
    for (const auto& [ms, bytes] : FSamples) truth.Add(ms, bytes);
  }

 private:
  double Read(const char* name) const {
    double value = 0;
    std::ifstream(FFolder + name) >> value;
    return value;
  }
  void Sample() {
    while (!FStop) {
      const double payload = Read(FBytes) - Read(FPackets) * (14 + 20 + 32);
      {
        std::lock_guard lock(FLock);
        FSamples.emplace_back(NowMs(), payload);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  const std::string FFolder;
  const char* const FBytes;
  const char* const FPackets;
  std::atomic<bool> FStop{false};
  std::mutex FLock;
  std::vector<std::pair<double, double>> FSamples;
  std::thread FThread;
};

// A point with the interval it stands for and the moment it appeared, on the steady clock.
struct TShownPoint {
  double x;
  double rate;
  double fromMs;
  double toMs;
  double shownMs;
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The first 20 points (or all of a shorter run): how many lie within 3, 5 and 10 %, the median
// and the worst after the first, and the first.
QString Judge(std::vector<double> errors) {
  const double first = errors.front();
  errors.resize(std::min<std::size_t>(errors.size(), 20));
  std::vector<double> sizes;
  for (double error : errors) sizes.push_back(std::abs(error));
  const auto within = [&](double bound) {
    return std::count_if(sizes.begin(), sizes.end(), [&](double size) { return size <= bound; });
  };
  const double worst = sizes.size() > 1 ? *std::max_element(sizes.begin() + 1, sizes.end()) : 0;
  return QString::asprintf(
      "%2zu Punkte, innerhalb 3 %%: %2ld, 5 %%: %2ld, 10 %%: %2ld, Median %5.1f %%, "
      "schlimmster danach %5.1f %%, erster Punkt %+6.1f %%",
      sizes.size(), static_cast<long>(within(3)), static_cast<long>(within(5)), static_cast<long>(within(10)),
      Median(sizes), worst, first);
}

struct TLinkTruth {
  QString file;
  double delayMs = 0;
  QString device;
  QString queueLog;
  QString receiveBuffer;
  QString snapshot;
  bool download = false;
  bool roundTrip = false;
};

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  const auto rank = values.begin() + static_cast<std::ptrdiff_t>(std::ceil(share * values.size()) - 1);
  std::nth_element(values.begin(), std::max(values.begin(), rank), values.end());
  return *std::max(values.begin(), rank);
}

// The link's queue over [fromMs, toMs]: the median and 95th percentile of the packets' waits, and
// the share of the packets it read that it dropped. The sender learns a packet's wait when its
// acknowledgement comes back, a round trip after it left the queue: the waits are those the sender
// could see from waitsFromMs on, each taken at that time.
struct TQueueTruth {
  double waitMedianMs = 0;
  double waitP95Ms = 0;
  std::size_t waits = 0;
  double droppedPercent = 0;
  std::size_t packets = 0;
};

TQueueTruth ReadQueueLog(const QString& path, double fromMs, double toMs, double waitsFromMs, double waitsToMs,
                         double roundTripMs) {
  TQueueTruth truth;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return truth;
  std::vector<double> waits;
  std::size_t dropped = 0;
  while (!file.atEnd()) {
    const QList<QByteArray> fields = file.readLine().simplified().split(' ');
    if (fields.size() < 2) continue;
    const double ms = fields[0].toDouble() / 1e6;
    if (ms < fromMs || ms > toMs) continue;
    ++truth.packets;
    if (fields[1] == "D") {
      ++dropped;
    } else if (ms + roundTripMs >= waitsFromMs && ms + roundTripMs <= waitsToMs) {
      waits.push_back(fields[1].toDouble() / 1000);
    }
  }
  truth.waitMedianMs = Median(waits);
  truth.waitP95Ms = Percentile(waits, 0.95);
  truth.waits = waits.size();
  truth.droppedPercent = truth.packets ? 100.0 * dropped / truth.packets : 0;
  return truth;
}

QString Verdict(bool met) { return met ? QStringLiteral("erfüllt") : QStringLiteral("verfehlt"); }

// The run's details beside what the link knows; the last line goes into the lab's table.
void ReportDetails(const TRunSummary& summary, double chartMean, const TLinkTruth& source, double runStartMs,
                   double endMs) {
  const auto ms = [](std::optional<double> value) { return value ? QString::number(*value, 'f', 1) : QString("–"); };
  std::printf(
      "Messdetails: Umlaufzeit ohne Last %s ms, unter Last Median %s ms, 95. Perzentil %s ms, "
      "zusätzliche Verzögerung %s ms\n",
      qPrintable(ms(summary.MinRttMs)), qPrintable(ms(summary.RttMedianMs)), qPrintable(ms(summary.RttP95Ms)),
      qPrintable(ms(summary.AddedLatencyMs)));
  QString line;
  if (const auto& limits = summary.Limits) {
    // In a download the window, buffer and program are the program's, the server's and the server.
    const TDirection direction = source.download ? TDirection::Receive : TDirection::Send;
    const QString cause =
        limits->Main() == TRateLimit::Unknown ? QString("keine") : LimitName(limits->Main(), direction);
    const auto label = [&](TRateLimit limit, const char* uploadLabel) {
      return source.download ? LimitName(limit, direction) : QString(uploadLabel);
    };
    std::printf("  begrenzt durch Netz %.0f %%, %s %.0f %%, %s %.0f %%, %s %.0f %%; Hauptursache: %s\n",
                limits->Network * 100, qPrintable(label(TRateLimit::ReceiveWindow, "Empfangsfenster")),
                limits->ReceiveWindow * 100, qPrintable(label(TRateLimit::SendBuffer, "Sendepuffer")),
                limits->SendBuffer * 100, qPrintable(label(TRateLimit::Program, "Programm")), limits->Program * 100,
                qPrintable(cause));
    line += QString::asprintf("Hauptursache %s (Netz %.0f %%, Empfangsfenster %.0f %%)", qPrintable(cause),
                              limits->Network * 100, limits->ReceiveWindow * 100);
  }
  std::printf("  Durchschnitt im Diagramm %.1f kiB/s\n", chartMean);
  if (source.delayMs > 0 && summary.MinRttMs) {
    const double expected = 2 * source.delayMs;
    const double error = (*summary.MinRttMs - expected) / expected * 100;
    std::printf("  Umlaufzeit ohne Last %.1f ms gegen zweimal die Laufzeit %.1f ms: %+.1f %% (Ziel 5 %%: %s)\n",
                *summary.MinRttMs, expected, error, qPrintable(Verdict(std::abs(error) <= 5)));
    line += QString::asprintf(", Minimum %+.1f %%", error);
  }
  if (!source.queueLog.isEmpty()) {
    // In a download the sender's view reaches the program in its state records, one delay later.
    const double seenUntilMs = source.download ? endMs - source.delayMs : endMs;
    const TQueueTruth queue =
        ReadQueueLog(source.queueLog, runStartMs, endMs, runStartMs + 2000, seenUntilMs, 2 * source.delayMs);
    if (summary.AddedLatencyMs) {
      const double allowed = std::max(20.0, 0.2 * queue.waitP95Ms);
      const double off = *summary.AddedLatencyMs - queue.waitP95Ms;
      std::printf(
          "  zusätzliche Verzögerung %.1f ms gegen die Warteschlange der Leitung (95. Perzentil derselben "
          "Sekunden) %.1f ms: %+.1f ms (erlaubt %.1f ms: %s)\n",
          *summary.AddedLatencyMs, queue.waitP95Ms, off, allowed, qPrintable(Verdict(std::abs(off) <= allowed)));
      line += QString::asprintf(", zusätzlich %.0f gegen %.0f ms", *summary.AddedLatencyMs, queue.waitP95Ms);
    }
    if (summary.RetransPercent) {
      const double relative =
          queue.droppedPercent > 0 ? (*summary.RetransPercent - queue.droppedPercent) / queue.droppedPercent * 100 : 0;
      const bool met = queue.droppedPercent > 0 ? std::abs(relative) <= 25 : *summary.RetransPercent < 0.05;
      std::printf("  erneut gesendet %.2f %% gegen verworfen %.2f %% von %zu Paketen: %+.0f %% (Ziel 25 %%: %s)\n",
                  *summary.RetransPercent, queue.droppedPercent, queue.packets, relative, qPrintable(Verdict(met)));
      line += QString::asprintf(", erneut %.2f gegen %.2f %%", *summary.RetransPercent, queue.droppedPercent);
    }
  }
  std::printf("Ergebnis Messdetails: %s\n", qPrintable(line));
}

// The chart's round-trip line point by point against the link's queue, in an upload: of the first
// 20 points after the first two (the start-up's), how many have a round trip within 10 % or 10 ms,
// whichever is more, of what the link made of it. A packet's round trip is its wait in the queue,
// its serialisation (under a millisecond here) and twice the delay, and the sender learns it when
// the acknowledgement comes back: a packet that began its serialisation at t is acknowledged at
// about t + 2 × delay, for the delay comes after the queue and nothing queues on the way back. So
// the waits behind a point are those of the packets that left the queue one base round trip
// before its interval, which is how ReadQueueLog takes them; a point's round trip is the median of
// the smoothed round trips read in its interval, and it is judged against the median of those waits.
void JudgeRoundTripLine(const TForm1& form, const std::vector<TShownPoint>& shown, const TLinkTruth& source,
                        double runStartMs) {
  constexpr std::size_t judged = 20, skipped = 2, needed = 18;
  const double baseMs = 2 * source.delayMs;
  std::printf("Umlaufzeit-Linie gegen zweimal die Laufzeit (%.0f ms) plus den Median der Warteschlange:\n", baseMs);
  std::puts("  Sekunde   Intervall s     Linie ms   Warteschlange ms (Pakete)   erwartet ms   Abweichung");
  std::size_t within = 0;
  std::vector<double> offs;
  for (std::size_t i = skipped; i < std::min(shown.size(), skipped + judged); ++i) {
    const TShownPoint& point = shown[i];
    const TPointDetails* details = form.History.DetailsAt(static_cast<std::uint32_t>(std::llround(point.x * 1000)));
    const TQueueTruth queue =
        ReadQueueLog(source.queueLog, point.fromMs - baseMs, point.toMs, point.fromMs, point.toMs, baseMs);
    const double expected = baseMs + queue.waitMedianMs;
    if (!details || std::isnan(details->RttMs) || queue.waits == 0) {
      std::printf("  %7.2f   %5.2f–%5.2f   %10s   %16.1f (%5zu)   %11.1f   –\n", point.x,
                  (point.fromMs - runStartMs) / 1000, (point.toMs - runStartMs) / 1000, "–", queue.waitMedianMs,
                  queue.waits, expected);
      continue;
    }
    const double off = details->RttMs - expected;
    const bool met = std::abs(off) <= std::max(10.0, 0.1 * expected);
    within += met;
    offs.push_back(std::abs(off));
    std::printf("  %7.2f   %5.2f–%5.2f   %10.1f   %16.1f (%5zu)   %11.1f   %+7.1f ms (%+5.1f %%)%s\n", point.x,
                (point.fromMs - runStartMs) / 1000, (point.toMs - runStartMs) / 1000,
                static_cast<double>(details->RttMs), queue.waitMedianMs, queue.waits, expected, off,
                off / expected * 100, met ? "" : "  außerhalb");
  }
  std::printf(
      "Ergebnis Umlaufzeit-Linie: %zu von %zu Punkten innerhalb 10 %% (oder 10 ms) von zweimal der Laufzeit "
      "plus der Warteschlange, Median der Abweichung %.1f ms, schlimmste %.1f ms (Ziel %zu: %s)\n",
      within, judged, Median(offs), offs.empty() ? 0.0 : *std::max_element(offs.begin(), offs.end()), needed,
      qPrintable(Verdict(within >= needed)));
}

// The window with its details beside it, as they stand; offscreen each draws itself.
bool SaveSnapshot(TForm1& form, const QString& path) {
  form.Details->Open();
  QTest::qWait(300);
  return SideBySide(form.grab(), form.Details->grab()).save(path);
}

int MeasureLink(TForm1& form, int seconds, const QString& serverNamespace, const QString& address,
                const TLinkTruth& source) {
  const QString& truthFile = source.file;
  const double delayMs = source.delayMs;
  std::optional<TDeviceTruth> device;
  if (!source.device.isEmpty()) device.emplace(source.device, source.download);
  QProcess server;
  QStringList serverOptions;
  if (!source.receiveBuffer.isEmpty()) serverOptions << "--receive-buffer" << source.receiveBuffer;
  const auto port = StartCompanionServer(server, QCoreApplication::applicationDirPath() + "/korvaden-server", address,
                                         {"ip", "netns", "exec", serverNamespace}, serverOptions);
  if (!port) {
    std::puts("korvaden-server startete nicht");
    return 1;
  }
  double connectedMs = 0;
  const auto connect = form.ClientSocket1.OnConnect;
  form.ClientSocket1.OnConnect = [&](QObject* sender, TCustomWinSocket* socket) {
    connectedMs = NowMs();
    connect(sender, socket);
  };
  // The server's per-second lines, counted from its accept: the truth on a link without a file.
  TTruth truth;
  double serverBytes = 0;
  const QRegularExpression perSecond(R"(\] ([\d.]+) s: (\d+) Bytes)");
  QObject::connect(&server, &QProcess::readyReadStandardOutput, [&] {
    while (server.canReadLine()) {
      const auto match = perSecond.match(QString::fromUtf8(server.readLine()));
      if (!match.hasMatch() || !truthFile.isEmpty() || device) continue;
      if (serverBytes == 0) truth.Add(connectedMs, 0);
      serverBytes += match.captured(2).toDouble();
      truth.Add(connectedMs + match.captured(1).toDouble() * 1000, serverBytes);
    }
  });
  std::vector<TShownPoint> shown;
  auto sampling = form.Series1.OnAfterAdd;
  double runStartMs = 0;
  form.Series1.OnAfterAdd = [&](TRateSeries* sender, int index) {
    if (runStartMs == 0) runStartMs = RunStartMs(Counters, connectedMs);
    const auto interval = IntervalOf(form.Sampler);
    const double x = sender->XValues[index];
    // Without an interval of its own a point is judged over the second before it.
    const double from = interval ? runStartMs + interval->first : runStartMs + x * 1000 - 1000;
    const double to = interval ? runStartMs + interval->second : runStartMs + x * 1000;
    shown.push_back({x, sender->YValues[index], from, to, NowMs()});
    sampling(sender, index);
  };
  form.ClientSocket1.SetPort(*port);
  // In expert mode, which a download needs, Start takes the port from its field.
  form.Edit3->setText(QString::number(*port));
  form.Edit1->setText(address);
  form.Button1->click();
  if (!QTest::qWaitFor([&] { return connectedMs > 0; }, 30000)) {
    std::puts("keine Verbindung zum Server");
    return 1;
  }
  const double cpuBefore = CpuSeconds();
  const double wallBefore = NowMs();
  QTest::qWait(seconds * 1000 + 300);
  const double cpuShare = (CpuSeconds() - cpuBefore) / ((NowMs() - wallBefore) / 1000) * 100;
  const double average = form.Series1.YValues.Total() / std::max(1, form.Series1.Count());
  const TRunSummary details = form.Controller.Run.Details.Summary();
  const double endMs = NowMs();
  if (!source.snapshot.isEmpty() && !SaveSnapshot(form, source.snapshot)) std::puts("Bild nicht gespeichert");
  form.Button2->click();
  QTest::qWait(1500);  // the server's last full second, the link's last truth line
  server.terminate();
  server.waitForFinished(5000);
  if (!truthFile.isEmpty()) ReadTruthFile(truthFile, truth);
  if (device) device->CopyTo(truth);

  // What the far end read in the point's own interval, and what it had read one delay earlier: the
  // acknowledgement of a byte reaches the program one delay after the byte reached the server, so
  // this is the most any sender can know by then. Both are judged, and so is the point against the
  // second it appears in (from the previous point's appearance, the first from the connect): the
  // phase is how long before its appearance the point's interval ended. In a download the program
  // is the far end and reads what arrives at once: there is no delay to shift by.
  const double lagMs = source.download ? 0 : delayMs;
  std::puts(
      "  Sekunde   Intervall s     Phase ms   Diagramm kiB/s   Wahrheit kiB/s   Abweichung   um die Laufzeit "
      "verschoben   in seiner Sekunde");
  std::vector<double> errors, lagged, inSecond, phases;
  double previousShownMs = runStartMs;
  for (const TShownPoint& point : shown) {
    const double from = point.fromMs, to = point.toMs;
    const double secondFrom = previousShownMs;
    previousShownMs = point.shownMs;
    if (to <= from || !truth.Covers(to) || !truth.Covers(point.shownMs)) {
      std::printf("  %7.2f   %5.2f–%5.2f   %8s   %14.1f   %14s\n", point.x, (from - connectedMs) / 1000,
                  (to - connectedMs) / 1000, "–", point.rate, "–");
      continue;
    }
    const auto off = [&](double expected) { return expected > 0 ? (point.rate - expected) / expected * 100 : 0; };
    const double expected = truth.Rate(from, to);
    const double expectedEarlier = truth.Rate(from - lagMs, to - lagMs);
    const double expectedInSecond = truth.Rate(secondFrom - lagMs, point.shownMs - lagMs);
    errors.push_back(off(expected));
    lagged.push_back(off(expectedEarlier));
    inSecond.push_back(off(expectedInSecond));
    phases.push_back(point.shownMs - to);
    std::printf("  %7.2f   %5.2f–%5.2f   %8.1f   %14.1f   %14.1f   %+9.2f %%   %14.1f  %+9.2f %%   %+9.2f %%\n",
                point.x, (from - connectedMs) / 1000, (to - connectedMs) / 1000, phases.back(), point.rate, expected,
                errors.back(), expectedEarlier, lagged.back(), inSecond.back());
  }
  if (errors.empty()) {
    std::puts("keine vergleichbaren Punkte");
    return 1;
  }
  std::printf("gleitender Durchschnitt %.1f kiB/s\n", average);
  std::printf("Ergebnis: %s, CPU des Programms %.1f %%\n", qPrintable(Judge(errors)), cpuShare);
  if (lagMs > 0) std::printf("Ergebnis um %.0f ms verschoben: %s\n", lagMs, qPrintable(Judge(lagged)));
  std::printf("Ergebnis in ihrer Sekunde: %s\n", qPrintable(Judge(inSecond)));
  std::printf("Ergebnis Phase: Intervallende vor dem Erscheinen Median %.1f ms, höchstens %.1f ms\n", Median(phases),
              *std::max_element(phases.begin(), phases.end()));
  ReportDetails(details, average, source, runStartMs, endMs);
  if (source.roundTrip && !source.queueLog.isEmpty()) {
    // In a download the round trips are the server's, as its state records bring them late.
    if (source.download)
      std::puts("Umlaufzeit-Linie: im Download nicht beurteilt (die Umlaufzeiten sind die des Servers)");
    else
      JudgeRoundTripLine(form, shown, source, runStartMs);
  }
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
  std::printf("Meldung nach %.1f s: %s\n", seconds, qPrintable(messages.front().Text.replace(QChar(13), ' ')));
  return messages.front().Text == texts::ConnectFailed(address).replace(QChar(13), ' ') ? 0 : 1;
}

// A download from a server that never sends: a listening socket on loopback that accepts nothing.
// The kernel completes the connect and keeps the request; the window must give up with an error
// message, and soon.
int DownloadFromMuteServer(TForm1& form) {
  constexpr double allowedSeconds = 15;
  const int mute = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (mute < 0 || bind(mute, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(mute, 4) != 0 ||
      getsockname(mute, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::puts("kein stummer Server auf 127.0.0.1");
    if (mute >= 0) close(mute);
    return 1;
  }
  const int port = ntohs(address.sin_port);
  std::vector<TShownMessage> messages;
  TMessageService::SetObserver([&](const TShownMessage& message) { messages.push_back(message); });
  QElapsedTimer waited;
  waited.start();
  form.ClientSocket1.SetPort(port);
  form.Edit3->setText(QString::number(port));
  form.Edit1->setText(QStringLiteral("127.0.0.1"));
  form.Button1->click();
  const bool ended = QTest::qWaitFor([&] { return !messages.empty(); }, 60000);
  const double seconds = waited.elapsed() / 1000.0;
  TMessageService::SetObserver(nullptr);
  close(mute);
  if (!ended) {
    std::puts("nach 60 s noch keine Meldung");
    return 1;
  }
  const TShownMessage& message = messages.front();
  // The connect succeeds here: a connect-failed message would be the wrong one.
  const bool met = message.Caption == texts::ErrorCaption && seconds <= allowedSeconds &&
                   message.Text != texts::ConnectFailed(QStringLiteral("127.0.0.1"));
  std::printf("Meldung nach %.1f s (erlaubt %.0f s) mit Titel \"%s\": %s\n", seconds, allowedSeconds,
              qPrintable(message.Caption), qPrintable(QString(message.Text).replace(QChar(13), ' ')));
  return met ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // A settings directory of its own: the user's settings are neither used nor changed.
  QTemporaryDir configuration;
  qputenv("XDG_CONFIG_HOME", configuration.path().toUtf8());
  TApplication application(argc, argv);
  QStringList arguments = QCoreApplication::arguments();
  TLinkTruth source;
  for (const auto& [option, field] :
       {std::pair{"--truth", &source.file}, std::pair{"--device", &source.device},
        std::pair{"--queue-log", &source.queueLog}, std::pair{"--receive-buffer", &source.receiveBuffer},
        std::pair{"--snapshot", &source.snapshot}}) {
    if (const qsizetype at = arguments.indexOf(option); at > 0 && at + 1 < arguments.size()) {
      *field = arguments[at + 1];
      arguments.remove(at, 2);
    }
  }
  if (const qsizetype at = arguments.indexOf("--download"); at > 0) {
    source.download = true;
    arguments.remove(at);
  }
  if (const qsizetype at = arguments.indexOf("--round-trip"); at > 0) {
    source.roundTrip = true;
    arguments.remove(at);
  }
  if (const qsizetype at = arguments.indexOf("--delay"); at > 0 && at + 1 < arguments.size()) {
    source.delayMs = arguments[at + 1].toDouble();
    arguments.remove(at, 2);
  }
  const bool link = arguments.size() == 5 && arguments[1] == "link";
  const bool silent = arguments.size() == 3 && arguments[1] == "silent";
  const bool mute = arguments.size() == 2 && arguments[1] == "mute" && source.download;
  if (!link && !silent && !mute) {
    std::fputs(
        "Aufruf: korvaden-lab-probe link SEKUNDEN NAMENSRAUM ADRESSE [--truth DATEI --delay MS [--queue-log DATEI]"
        " | --device NAME] [--receive-buffer BYTES] [--snapshot BILD.png] [--download] [--round-trip]"
        " | silent ADRESSE [--download] | mute --download\n",
        stderr);
    return 2;
  }
  if (source.download) {
    // The window reads its settings when it is made; the direction is an expert's choice.
    TProgramSettings settings;
    settings.EnableExpertMode();
    settings.WriteDirection(TDirection::Receive);
  }
  TForm1 form;
  form.show();
  // As a user would tick it in the chart's menu before starting.
  if (source.roundTrip) form.RoundTripAction->setChecked(true);
  const int result = link     ? MeasureLink(form, std::max(3, arguments[2].toInt()), arguments[3], arguments[4], source)
                     : silent ? ConnectToSilentServer(form, arguments[2])
                              : DownloadFromMuteServer(form);
  form.FormDestroy();
  return result;
}
