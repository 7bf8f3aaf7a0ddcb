// korvaden-lab-line-judge: the network lab's judge of one line test. korvaden-check ran in the
// client's namespace over korvaden-lab-link with both directions shaped (--direction both); this
// reads its JSON and the link's files and sets each figure beside what the link did:
//
//   korvaden-lab-line-judge JSON --delay-ms MS --down-rate-mbit MBIT --up-rate-mbit MBIT
//                           --down-queue-ms MS --up-queue-ms MS --rate-bound PERCENT
//                           --truth-down FILE --truth-up FILE --queue-log-down FILE --queue-log-up FILE
//
// The checks, each printed with its measured figure beside its target:
//   rate      each direction's mbit_s within --rate-bound percent of its payload rate: the shaped
//             rate × 1448/1500, for a full packet of MTU 1500 carries 20 bytes IP header and 32
//             bytes TCP header with timestamps around its 1448 bytes of payload. Beside it, what
//             the link delivered in order over the same window (see bytes); on a lossy link that
//             can exceed the payload rate, when the window begins with data held beyond a hole,
//             which counts once the hole is filled;
//   idle      the idle latency's median within 3 ms of the base round trip, twice the delay;
//   loaded    each load phase's latency median within 25 % of the base round trip plus what the
//             direction's queue held meanwhile: the median wait of the packets that began their
//             serialisation in the phase's counted window, from the queue log. A probe meets a
//             queue only in the direction being loaded, so its round trip is the base one plus
//             that wait. The full queue, which a sender that fills it until it drops reaches, is
//             printed beside it;
//   grade     the one that added_latency_ms falls in (A+ below 5 ms, A below 30, B below 60, C
//             below 200, D below 400, F from 400);
//   bytes     each phase's bytes never more than the link delivered in order in that direction
//             over the phase's counted window (download.window and upload.window, on the truth
//             file's clock). The program reads a download as it arrives, so there the window is
//             the counted one; an upload's bytes are those the server acknowledged, which reach
//             the program one delay after the server had them, so there it is the counted one
//             less the delay (the unshifted figure is printed too). The truth has a line every
//             50 ms and a pair around each filled hole, so the bound is taken from the last line
//             at or before the window's start, less the 10 ms by which the program may learn of a
//             delivery late (LearnedLateNs), to the first line at or after its end; the
//             interpolated figure over the window itself is printed beside it.
//             Without a window, over the whole run.
//
// It prints the details and then lines starting with "Ergebnis" for the lab's table. Exits 0
// when every check is met, 3 when one is not, 1 when the files cannot be read.

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr double PayloadShare = 1448.0 / 1500.0;
constexpr double IdleBoundMs = 3;
constexpr double LoadedBoundPercent = 25;
// How much later than the link's delivery the program may learn of it: a download's bytes when
// its loop comes round to read them, an upload's when the server's acknowledgement has left it,
// crossed the link's loop and been read from the program's counters, which it does every 10 ms.
// A hole filled just before the window's start can so still count in it.
constexpr std::int64_t LearnedLateNs = 10'000'000;

[[noreturn]] void Fail(const QString& message) {
  std::fprintf(stderr, "korvaden-lab-line-judge: %s\n", qPrintable(message));
  std::exit(1);
}

struct Options {
  QString json;
  std::map<QString, double> numbers{{"--delay-ms", NAN},      {"--down-rate-mbit", NAN}, {"--up-rate-mbit", NAN},
                                    {"--down-queue-ms", NAN}, {"--up-queue-ms", NAN},    {"--rate-bound", NAN}};
  std::map<QString, QString> files{
      {"--truth-down", {}}, {"--truth-up", {}}, {"--queue-log-down", {}}, {"--queue-log-up", {}}};

  double Number(const char* flag) const { return numbers.at(flag); }
  const QString& File(const char* flag) const { return files.at(flag); }
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  if (argc < 2) Fail("Aufruf: korvaden-lab-line-judge JSON --delay-ms MS … (siehe Quelltext)");
  options.json = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; i += 2) {
    const QString flag = QString::fromLocal8Bit(argv[i]);
    if (i + 1 >= argc) Fail("Wert fehlt für " + flag);
    const QString value = QString::fromLocal8Bit(argv[i + 1]);
    if (auto number = options.numbers.find(flag); number != options.numbers.end()) {
      bool ok = false;
      number->second = value.toDouble(&ok);
      if (!ok || number->second < 0) Fail("Ungültiger Wert für " + flag + ": " + value);
    } else if (auto file = options.files.find(flag); file != options.files.end()) {
      file->second = value;
    } else {
      Fail("Unbekannte Option: " + flag);
    }
  }
  for (const auto& [flag, value] : options.numbers) {
    if (std::isnan(value)) Fail("Es fehlt " + flag);
  }
  for (const auto& [flag, value] : options.files) {
    if (value.isEmpty()) Fail("Es fehlt " + flag);
  }
  return options;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) Fail(path + " lässt sich nicht lesen");
  return file.readAll();
}

// A truth file's lines: when, and the bytes delivered in order up to then.
struct TruthLine {
  std::int64_t ns;
  double bytes;
};

std::vector<TruthLine> ReadTruth(const QString& path) {
  std::vector<TruthLine> lines;
  for (const QByteArray& line : ReadAll(path).split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() < 2) continue;
    lines.push_back({fields[0].toLongLong(), fields[1].toDouble()});
  }
  if (lines.empty()) Fail(path + " ist leer");
  return lines;
}

// Delivered by ns, between the lines around it.
double Interpolated(const std::vector<TruthLine>& truth, std::int64_t ns) {
  const auto after = std::lower_bound(truth.begin(), truth.end(), ns,
                                      [](const TruthLine& line, std::int64_t at) { return line.ns < at; });
  if (after == truth.begin()) return after->bytes;
  if (after == truth.end()) return truth.back().bytes;
  const auto before = std::prev(after);
  const double share = static_cast<double>(ns - before->ns) / static_cast<double>(after->ns - before->ns);
  return before->bytes + share * (after->bytes - before->bytes);
}

// The most the link can have delivered in [from, to]: from the last line at or before from to
// the first at or after to (the file's ends where it has none).
double MostDelivered(const std::vector<TruthLine>& truth, std::int64_t from, std::int64_t to) {
  double start = truth.front().bytes;
  double end = truth.back().bytes;
  for (const TruthLine& line : truth) {
    if (line.ns <= from) start = line.bytes;
    if (line.ns >= to) {
      end = line.bytes;
      break;
    }
  }
  return end - start;
}

// The waits of the packets that began their serialisation in [from, to], and the drops there.
struct QueueFill {
  double medianMs = 0;
  std::size_t packets = 0;
  std::size_t drops = 0;
};

QueueFill ReadQueue(const QString& path, std::int64_t from, std::int64_t to) {
  std::vector<double> waits;
  QueueFill fill;
  for (const QByteArray& line : ReadAll(path).split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() != 2) continue;
    const std::int64_t ns = fields[0].toLongLong();
    if (ns < from || ns > to) continue;
    if (fields[1] == "D") {
      ++fill.drops;
    } else {
      waits.push_back(fields[1].toDouble() / 1000);
    }
  }
  fill.packets = waits.size() + fill.drops;
  if (!waits.empty()) {
    const auto middle = waits.begin() + static_cast<std::ptrdiff_t>(waits.size() / 2);
    std::nth_element(waits.begin(), middle, waits.end());
    fill.medianMs = *middle;
  }
  return fill;
}

std::optional<double> Number(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  return value.toDouble();
}

QString Figure(std::optional<double> value, int decimals) {
  return value ? QString::number(*value, 'f', decimals) : QStringLiteral("fehlt");
}

QString Grade(double addedMs) {
  if (addedMs < 5) return "A+";
  if (addedMs < 30) return "A";
  if (addedMs < 60) return "B";
  if (addedMs < 200) return "C";
  if (addedMs < 400) return "D";
  return "F";
}

const char* Verdict(bool met) { return met ? "erfüllt" : "verfehlt"; }

class Judge {
 public:
  explicit Judge(Options options) : o_(std::move(options)) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(ReadAll(o_.json), &error);
    if (!document.isObject()) Fail(o_.json + " ist kein JSON-Objekt: " + error.errorString());
    r_ = document.object();
    truthDown_ = ReadTruth(o_.File("--truth-down"));
    truthUp_ = ReadTruth(o_.File("--truth-up"));
  }

  int Run() {
    const double baseMs = 2 * o_.Number("--delay-ms");
    std::printf("Leitungstest gegen %s (%s, Port %s), Urteil: %s\n", qPrintable(r_["server"].toString()),
                qPrintable(r_["address"].toString()), qPrintable(Figure(Number(r_["port"]), 0)),
                qPrintable(r_["verdict"].toString("fehlt")));
    const auto delayNs = static_cast<std::int64_t>(o_.Number("--delay-ms") * 1e6);
    const QString down = Rate("download", "Download", o_.Number("--down-rate-mbit"), truthDown_, 0);
    const QString up = Rate("upload", "Upload", o_.Number("--up-rate-mbit"), truthUp_, delayNs);
    table_ << "Ergebnis: " + down + ", " + up;

    const auto idle = Number(r_["idle_latency_ms"].toObject()["median"]);
    const bool idleMet = idle && std::abs(*idle - baseMs) <= IdleBoundMs;
    Count(idleMet);
    std::printf(
        "  Latenz ohne Last: Median %s ms (90 %%: %s ms) gegen die Umlaufzeit der Leitung %.1f ms: %s "
        "(erlaubt ±%.0f ms): %s\n",
        qPrintable(Figure(idle, 1)), qPrintable(Figure(Number(r_["idle_latency_ms"].toObject()["p90"]), 1)), baseMs,
        qPrintable(idle ? QString::asprintf("%+.1f ms", *idle - baseMs) : "–"), IdleBoundMs, Verdict(idleMet));
    const QString downLoaded = Loaded("download", "Download", o_.Number("--down-queue-ms"), "--queue-log-down", baseMs);
    const QString upLoaded = Loaded("upload", "Upload", o_.Number("--up-queue-ms"), "--queue-log-up", baseMs);
    table_ << QString::asprintf("Ergebnis Latenz: ohne Last %s gegen %.1f ms (±%.0f ms: %s), ",
                                qPrintable(Figure(idle, 1)), baseMs, IdleBoundMs, Verdict(idleMet)) +
                  upLoaded + ", " + downLoaded;

    table_ << "Ergebnis Note: " + GradeCheck(baseMs);
    const QString downBytes = Bytes("download", "Download", truthDown_, 0);
    const QString upBytes = Bytes("upload", "Upload", truthUp_, delayNs);
    table_ << "Ergebnis Bytes: " + downBytes + ", " + upBytes;

    const QJsonObject both = r_["both"].toObject();
    std::printf("  Beides zugleich (nicht beurteilt): Download %s Mbit/s, Upload %s Mbit/s, Latenz Median %s ms\n",
                qPrintable(Figure(Number(both["download_mbit_s"]), 2)),
                qPrintable(Figure(Number(both["upload_mbit_s"]), 2)),
                qPrintable(Figure(Number(both["latency_ms"].toObject()["median"]), 1)));
    table_[0] += QString::asprintf("; %d von %d Prüfungen erfüllt", met_, checks_);
    for (const QString& line : table_) std::printf("%s\n", qPrintable(line));
    return met_ == checks_ ? 0 : 3;
  }

 private:
  void Count(bool met) {
    ++checks_;
    met_ += met ? 1 : 0;
  }

  // The phase's counted window on the truth's clock; none when the JSON has none.
  std::optional<std::pair<std::int64_t, std::int64_t>> Window(const char* phase) const {
    const QJsonObject window = r_[phase].toObject()["window"].toObject();
    const auto start = Number(window["start_monotonic_ns"]);
    const auto end = Number(window["end_monotonic_ns"]);
    if (!start || !end || *start <= 0 || *end <= *start) return std::nullopt;
    return std::pair{static_cast<std::int64_t>(*start), static_cast<std::int64_t>(*end)};
  }

  // lagNs as for the bytes: what the link delivered over the window the program's count stands for.
  QString Rate(const char* phase, const char* name, double shapedMbit, const std::vector<TruthLine>& truth,
               std::int64_t lagNs) {
    const QJsonObject result = r_[phase].toObject();
    const auto mbit = Number(result["mbit_s"]);
    const double payload = shapedMbit * PayloadShare;
    const double bound = o_.Number("--rate-bound");
    const double off = mbit ? (*mbit - payload) / payload * 100 : NAN;
    const bool met = mbit && std::abs(off) <= bound;
    Count(met);
    QString delivered = QStringLiteral("–");
    if (const auto window = Window(phase)) {
      const double seconds = static_cast<double>(window->second - window->first) / 1e9;
      const double bytes = Interpolated(truth, window->second - lagNs) - Interpolated(truth, window->first - lagNs);
      delivered = QString::asprintf("%.2f", bytes * 8 / seconds / 1e6);
    }
    std::printf(
        "  %s: %s Mbit/s über %s s mit %s Verbindungen, erneut gesendet %s %%, begrenzt durch %s; gegen die "
        "Nutzlastrate %.2f Mbit/s (%g Mbit/s × 1448/1500): %s (erlaubt ±%g %%): %s; die Leitung lieferte im "
        "Zählfenster%s %s Mbit/s\n",
        name, qPrintable(Figure(mbit, 2)), qPrintable(Figure(Number(result["seconds"]), 2)),
        qPrintable(Figure(Number(result["connections"]), 0)),
        qPrintable(Figure(Number(result["retransmitted_percent"]), 2)), qPrintable(result["cause"].toString("–")),
        payload, shapedMbit, qPrintable(mbit ? QString::asprintf("%+.1f %%", off) : "–"), bound, Verdict(met),
        lagNs > 0 ? " (um die Laufzeit früher)" : "", qPrintable(delivered));
    return QString::asprintf("%s %s gegen %.2f Mbit/s (%s, ±%g %%: %s; Leitung %s)", name, qPrintable(Figure(mbit, 2)),
                             payload, qPrintable(mbit ? QString::asprintf("%+.1f %%", off) : "–"), bound, Verdict(met),
                             qPrintable(delivered));
  }

  QString Loaded(const char* phase, const char* name, double queueMs, const char* queueLog, double baseMs) {
    const QJsonObject latency = r_[phase].toObject()["latency_ms"].toObject();
    const auto median = Number(latency["median"]);
    const auto window = Window(phase);
    // Without a window the queue's fill is not known; the full queue stands in for it.
    const QueueFill fill =
        window ? ReadQueue(o_.File(queueLog), window->first, window->second) : QueueFill{queueMs, 0, 0};
    const double expected = baseMs + fill.medianMs;
    const double off = median ? (*median - expected) / expected * 100 : NAN;
    const bool met = median && std::abs(off) <= LoadedBoundPercent;
    Count(met);
    const QString source = window
                               ? QString::asprintf("Median der Wartezeiten im Zählfenster, %zu Pakete, %zu verworfen",
                                                   fill.packets, fill.drops)
                               : QStringLiteral("ohne Zählfenster die volle Warteschlange");
    std::printf(
        "  %s unter Last: Median %s ms (90 %%: %s ms) gegen %.1f ms Umlaufzeit + %.1f ms Warteschlange "
        "(%s; voll %.0f ms, das wären %.1f ms) = %.1f ms: %s (erlaubt ±%.0f %%): %s\n",
        name, qPrintable(Figure(median, 1)), qPrintable(Figure(Number(latency["p90"]), 1)), baseMs, fill.medianMs,
        qPrintable(source), queueMs, baseMs + queueMs, expected,
        qPrintable(median ? QString::asprintf("%+.1f %%", off) : "–"), LoadedBoundPercent, Verdict(met));
    fills_.push_back(fill.medianMs);
    return QString::asprintf("%s unter Last %s gegen %.1f ms (%.0f + Warteschlange %.1f, voll %.0f; ±%.0f %%: %s)",
                             name, qPrintable(Figure(median, 1)), expected, baseMs, fill.medianMs, queueMs,
                             LoadedBoundPercent, Verdict(met));
  }

  QString GradeCheck(double baseMs) {
    const auto added = Number(r_["added_latency_ms"]);
    const QString grade = r_["grade"].toString();
    const bool met = added && grade == Grade(*added);
    Count(met);
    // What the link itself added: the mean of the two queues' fills, as added_latency_ms is the
    // mean of the two phases'.
    double linkAdded = 0;
    for (const double fill : fills_) linkAdded += fill / static_cast<double>(fills_.size());
    std::printf(
        "  Note %s bei zusätzlicher Latenz %s ms (Download %s, Upload %s), nach den Schwellen %s: %s; RPM %s "
        "(%s); die Warteschlangen der Leitung hielten im Mittel %.1f ms über %.0f ms Umlaufzeit, Note %s\n",
        qPrintable(grade.isEmpty() ? "fehlt" : grade), qPrintable(Figure(added, 1)),
        qPrintable(Figure(Number(r_["download"].toObject()["latency_ms"].toObject()["median"]), 1)),
        qPrintable(Figure(Number(r_["upload"].toObject()["latency_ms"].toObject()["median"]), 1)),
        qPrintable(added ? Grade(*added) : "–"), Verdict(met), qPrintable(Figure(Number(r_["rpm"]), 0)),
        qPrintable(r_["rpm_class"].toString("–")), linkAdded, baseMs, qPrintable(Grade(linkAdded)));
    return QString::asprintf("%s bei +%s ms (nach den Schwellen %s: %s; die Leitung +%.1f ms, %s)",
                             qPrintable(grade.isEmpty() ? "fehlt" : grade), qPrintable(Figure(added, 1)),
                             qPrintable(added ? Grade(*added) : "–"), Verdict(met), linkAdded,
                             qPrintable(Grade(linkAdded)));
  }

  QString Bytes(const char* phase, const char* name, const std::vector<TruthLine>& truth, std::int64_t lagNs) {
    const auto claimed = Number(r_[phase].toObject()["bytes"]);
    const auto window = Window(phase);
    const std::int64_t from = window ? window->first - lagNs : truth.front().ns;
    const std::int64_t to = window ? window->second - lagNs : truth.back().ns;
    const double most = MostDelivered(truth, window ? from - LearnedLateNs : from, to);
    const double interpolated = Interpolated(truth, to) - Interpolated(truth, from);
    const bool met = claimed && *claimed <= most;
    Count(met);
    QString where = QStringLiteral("im ganzen Lauf (die Antwort nennt kein Zählfenster)");
    if (window && lagNs > 0) {
      where = QString::asprintf("im Zählfenster um die Laufzeit %.0f ms früher (ohne Verschiebung %.0f)",
                                static_cast<double>(lagNs) / 1e6,
                                Interpolated(truth, window->second) - Interpolated(truth, window->first));
    } else if (window) {
      where = QStringLiteral("im Zählfenster");
    }
    std::printf("  %s: %s Bytes gezählt, die Leitung lieferte in Reihenfolge %.0f Bytes %s, höchstens %.0f%s: %s\n",
                name, qPrintable(Figure(claimed, 0)), interpolated, qPrintable(where), most,
                window ? " (ab 10 ms vor dem Fenster: so spät kann das Programm von einer Zustellung erfahren)" : "",
                Verdict(met));
    return QString::asprintf("%s %s gegen geliefert %.0f (höchstens %.0f%s: %s)", name, qPrintable(Figure(claimed, 0)),
                             interpolated, most,
                             !window     ? ", ganzer Lauf"
                             : lagNs > 0 ? ", um die Laufzeit früher"
                                         : "",
                             Verdict(met));
  }

  Options o_;
  QJsonObject r_;
  std::vector<TruthLine> truthDown_;
  std::vector<TruthLine> truthUp_;
  std::vector<double> fills_;
  QStringList table_;
  int checks_ = 0;
  int met_ = 0;
};

}  // namespace

int main(int argc, char** argv) { return Judge(ParseOptions(argc, argv)).Run(); }
