// The verdict: what a person wants to know after a line test, in their words. Its thresholds are
// the usual rules of thumb: a video call in HD needs about 3 Mbit/s down and 1.5 up, streaming in
// HD about 5 and in 4K about 25 Mbit/s; games want a round trip below 30 ms, calls below 150.

#include "measure/measure_texts.h"
#include "measure/number_format.h"
#include "ui/line_test/line_test_result.h"

namespace linetest {
namespace {

QString Mbit(std::optional<double> value) { return FormatFixed1(value) + QStringLiteral(" Mbit/s"); }
QString Ms(double value) { return FormatMilliseconds(value) + QStringLiteral(" ms"); }

QString JoinAnd(const QStringList& items) {
  if (items.size() < 2) return items.join(QString());
  return items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" und ") + items.last();
}

QString RatesSentence(const TResult& r) {
  const auto down = r.Download.Mbit();
  const auto up = r.Upload.Mbit();
  QStringList parts;
  if (down) parts << QStringLiteral("im Download %1").arg(Mbit(down));
  if (up) parts << QStringLiteral("im Upload %1").arg(Mbit(up));
  if (parts.isEmpty()) return {};
  QString sentence = QStringLiteral("Die Leitung liefert %1.").arg(JoinAnd(parts));
  QStringList enough;
  if (down && *down >= 25)
    enough << QStringLiteral("Streaming in 4K");
  else if (down && *down >= 5)
    enough << QStringLiteral("Streaming in HD");
  if (down && up && *down >= 3 && *up >= 1.5) enough << QStringLiteral("Videotelefonate in HD");
  if (!enough.isEmpty()) {
    sentence += QStringLiteral(" Das reicht für %1.").arg(JoinAnd(enough));
  } else if (down && up) {
    sentence += QStringLiteral(
        " Das ist knapp: Ein Videotelefonat in HD braucht etwa 3 Mbit/s im Download und 1,5 Mbit/s im Upload.");
  }
  return sentence;
}

QString IdleSentence(const TResult& r) {
  if (!r.Idle.MedianMs) return {};
  const double idle = *r.Idle.MedianMs;
  QString sentence = QStringLiteral("Ohne Last antwortet der Server nach %1").arg(Ms(idle));
  if (idle < 30) return sentence + QStringLiteral(", schnell genug auch für Spiele.");
  if (idle < 150) return sentence + QStringLiteral(": gut für Videotelefonate, für schnelle Spiele etwas viel.");
  return sentence + QStringLiteral(": Das ist schon ohne Last viel für Videotelefonate und Spiele.");
}

QString LoadSentence(const TResult& r) {
  if (!r.AddedLatencyMs) return {};
  const double added = *r.AddedLatencyMs;
  const QString grade = QStringLiteral("Note %1").arg(r.Grade);
  if (added < 30) {
    return QStringLiteral(
               "Auch unter Last bleibt die Verzögerung gering (im Mittel %1 mehr, %2): Videotelefonate und Spiele "
               "laufen weiter flüssig, während andere Geräte Daten übertragen.")
        .arg(Ms(added), grade);
  }
  // Name the direction whose queue grows most, with its figure.
  const bool upWorse = r.AddedUploadMs && (!r.AddedDownloadMs || *r.AddedUploadMs >= *r.AddedDownloadMs);
  const double worst = upWorse ? *r.AddedUploadMs : *r.AddedDownloadMs;
  const QString direction = upWorse ? QStringLiteral("Upload") : QStringLiteral("Download");
  const auto rate = upWorse ? r.Upload.Mbit() : r.Download.Mbit();
  QString sentence = QStringLiteral("Unter Last wächst die Verzögerung, am stärksten beim %1: um %2 (%3).")
                         .arg(direction, Ms(worst), grade);
  if (added < 60) {
    return sentence + QStringLiteral(
                          " Videotelefonate bleiben meist flüssig; bei schnellen Spielen kann es ruckeln, solange "
                          "jemand lädt.");
  }
  sentence += QStringLiteral(
      " Vor dem Engpass der Leitung staut sich eine Warteschlange („Bufferbloat“): Solange ein Gerät hoch- oder "
      "herunterlädt, stocken Videotelefonate und Spiele reagieren träge.");
  sentence += QStringLiteral(
      " Abhilfe schafft ein Router mit fairer Warteschlange (etwa „Smart Queue Management“, fq_codel oder cake), "
      "deren Rate etwas unter der Leitungsrate eingestellt ist");
  if (rate) sentence += QStringLiteral(", für den %1 etwa %2").arg(direction, Mbit(*rate * 0.9));
  return sentence + QStringLiteral(".");
}

QString LocalLimitSentence(const TResult& r) {
  const QString notTheLine =
      QStringLiteral(" begrenzt, nicht durch die Leitung: Diese Grenze liegt nicht beim Anbieter.");
  QStringList sentences;
  if (r.Download.Cause == TRateLimit::ReceiveWindow)
    sentences << "Der Download war durch das " + LimitName(TRateLimit::ReceiveWindow, TDirection::Receive) + notTheLine;
  if (r.Upload.Cause == TRateLimit::SendBuffer)
    sentences << "Der Upload war durch den Sendepuffer " + WordsFor(TDirection::Send).SendBufferOwner + notTheLine;
  return sentences.join(QLatin1Char(' '));
}

QString LossSentence(const TResult& r) {
  QStringList lossy;
  if (r.Download.RetransPercent && *r.Download.RetransPercent >= 2) lossy << QStringLiteral("im Download");
  if (r.Upload.RetransPercent && *r.Upload.RetransPercent >= 2) lossy << QStringLiteral("im Upload");
  if (lossy.isEmpty()) return {};
  return QStringLiteral(
             "%1 musste viel neu gesendet werden: Die Leitung verliert Daten (oft ein gestörtes WLAN oder eine "
             "schlechte Leitung).")
      .arg(JoinAnd(lossy).replace(0, 1, QStringLiteral("I")));
}

QString LocalServerSentence(const TResult& r) {
  const bool loopback = r.Address.startsWith(QStringLiteral("127.")) || r.Address == QStringLiteral("::1") ||
                        r.Address.startsWith(QStringLiteral("::ffff:127."));
  if (!loopback) return {};
  return QStringLiteral("Gemessen wurde gegen diesen Rechner selbst: Über die Internetleitung sagt das nichts.");
}

}  // namespace

QString VerdictFor(const TResult& r) {
  QStringList sentences;
  for (const QString& sentence : {LocalServerSentence(r), RatesSentence(r), IdleSentence(r), LoadSentence(r),
                                  LocalLimitSentence(r), LossSentence(r)})
    if (!sentence.isEmpty()) sentences << sentence;
  return sentences.join(QLatin1Char(' '));
}

}  // namespace linetest
