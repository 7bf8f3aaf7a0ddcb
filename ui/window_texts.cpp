#include "ui/window_texts.h"

#include "measure/measure_texts.h"
#include "measure/measurement_run.h"
#include "measure/number_format.h"

QString texts::ChartDescription(double latestSeconds, double latestRate, double average,
                                std::optional<double> latestRttMs, TDirection direction) {
  QString description = WordsFor(direction).ChartLead;
  description += QStringLiteral("Letzter Wert %1 kiBytes/s nach %2 s, Durchschnitt %3 kiBytes/s")
                     .arg(FormatFixed2(latestRate, QLocale()))
                     .arg(FormatWhole(latestSeconds))
                     .arg(FormatFixed2(average, QLocale()));
  if (const QString rtt = FormatMilliseconds(latestRttMs); !rtt.isEmpty())
    description += QStringLiteral(", Umlaufzeit %1 ms").arg(rtt);
  return description;
}

QString texts::SaveFailed(const QString& path, const QString& reason) {
  return QStringLiteral(
             "Die Datei „%1“ konnte nicht gespeichert werden (%2). Bitte wählen Sie einen anderen Ordner oder "
             "Namen.")
      .arg(path, reason);
}

namespace {
QString OrUnknown(const QString& value, const QString& unit) { return value.isEmpty() ? texts::Unknown : value + unit; }

QString Milliseconds(std::optional<double> ms, const QLocale& locale) {
  return OrUnknown(FormatMilliseconds(ms, locale), QStringLiteral(" ms"));
}

// What the added latency means for the rest of the line.
QString QueueSentence(std::optional<double> addedMs, const QLocale& locale) {
  if (!addedMs) return {};
  if (*addedMs < 5) return QStringLiteral("Die Last dieser Messung hat die Umlaufzeit kaum verlängert.\n");
  return QStringLiteral(
             "Diese Verbindung hat vor dem Engpass der Leitung eine Warteschlange aufgebaut, in der ihre Daten "
             "bis zu etwa %1 ms warten. Gemessen ist nur die Warteschlange dieser einen Verbindung; ein Router "
             "ohne faire Warteschlangen (Flow Queueing) lässt aber alle anderen Verbindungen der Leitung, etwa "
             "Videotelefonate, in derselben Schlange warten.\n")
      .arg(FormatWhole(*addedMs, locale));
}

// The kernel's own figures as last read, for whoever reads a ticket.
QString ExpertLine(const TConnectionState& state, const TDirectionWords& words) {
  QStringList parts;
  if (state.SndCwnd && state.SndMss)
    parts << QStringLiteral("Überlastfenster %1 Segmente zu %2 Bytes").arg(*state.SndCwnd).arg(*state.SndMss);
  if (state.SndWnd)
    parts << QStringLiteral("%1 %2 Bytes").arg(words.Limit(TRateLimit::ReceiveWindow)).arg(*state.SndWnd);
  if (state.TotalRetrans) parts << QStringLiteral("%1 Segmente wiederholt").arg(*state.TotalRetrans);
  if (state.NotsentBytes) parts << QStringLiteral("%1 Bytes noch nicht gesendet").arg(*state.NotsentBytes);
  if (parts.isEmpty()) return {};
  return QStringLiteral("\nZuletzt laut %1: %2.\n").arg(words.Kernel, parts.join(QStringLiteral(", ")));
}

// What held the rate back for more than half of the time, in a sentence.
QString MainCauseSentence(TRateLimit cause, const TDirectionWords& words) {
  switch (cause) {
    case TRateLimit::Network:
      return QStringLiteral(
                 "Hauptursache: das Netz. %1 hat so schnell gesendet, wie die Leitung und ihre Warteschlange es "
                 "zuließen.")
          .arg(words.Sender);
    case TRateLimit::ReceiveWindow:
      return QStringLiteral(
                 "Hauptursache: das %1. %2 nimmt die Daten langsamer an, als die Leitung sie tragen könnte%3.")
          .arg(words.Limit(TRateLimit::ReceiveWindow), words.Receiver, words.NarrowWindow);
    case TRateLimit::SendBuffer:
      return QStringLiteral("Hauptursache: der Sendepuffer %1. Er ist für diese Leitung zu klein.")
          .arg(words.SendBufferOwner);
    case TRateLimit::Program:
      return QStringLiteral("Hauptursache: %1 selbst. %2 hatte oft keine Daten bereit, etwa weil %3 ausgelastet ist.")
          .arg(words.Source, words.SourcePronoun, words.SourceMachine);
    case TRateLimit::Unknown: break;
  }
  return QStringLiteral("Keine Ursache hat die Rate mehr als die Hälfte der Zeit begrenzt.");
}
}  // namespace

QString DetailsText(const TMeasurementRun& run, const QLocale& locale) {
  const TRunHistory& history = run.History;
  const TRunSummary summary = run.Details.Summary();
  const TDirectionWords& words = WordsFor(history.Run().Direction);
  QString text = QStringLiteral("Messdetails\n\n");
  if (history.HasRun()) {
    const TRunDescription& description = history.Run();
    text += QStringLiteral("Richtung: %1\n").arg(words.Name);
    text += QStringLiteral("Server: %1, Port %2, Blockgröße %3 Bytes\n")
                .arg(description.Server)
                .arg(description.Port)
                .arg(description.BlockSize);
    text += QStringLiteral("Start: %1, Punkte: %2\n\n").arg(GermanDateTime(description.Start)).arg(history.Count());
    if (description.BlockSize < words.BlockSizeForState)
      text += QStringLiteral(
                  "Der Server legt den Zustand seiner Verbindung nur in Blöcke von mindestens %1 Bytes; bei Blöcken "
                  "von %2 Bytes sind Umlaufzeit, erneut gesendete Bytes und Begrenzungen deshalb nicht bekannt.\n\n")
                  .arg(words.BlockSizeForState)
                  .arg(description.BlockSize);
  }
  text += QStringLiteral("Übertragungsrate\n");
  text += QStringLiteral("  Durchschnitt im Diagramm: %1 kiBytes/s\n\n").arg(FormatFixed2(run.Series1.Mean(), locale));

  text += QStringLiteral("Umlaufzeit (Round Trip Time%1)\n").arg(words.RoundTripSource);
  text += QStringLiteral("  ohne Last (kleinste der Verbindung): %1\n").arg(Milliseconds(summary.MinRttMs, locale));
  text += QStringLiteral("  unter Last, Median: %1\n").arg(Milliseconds(summary.RttMedianMs, locale));
  text += QStringLiteral("  unter Last, 95. Perzentil: %1\n").arg(Milliseconds(summary.RttP95Ms, locale));
  text +=
      QStringLiteral("  zusätzliche Verzögerung unter Last: %1\n").arg(Milliseconds(summary.AddedLatencyMs, locale));
  text += QueueSentence(summary.AddedLatencyMs, locale) + u'\n';

  text +=
      QStringLiteral("Erneut gesendet: %1\n\n")
          .arg(OrUnknown(FormatFixed1(summary.RetransPercent, locale), QStringLiteral(" % der ") + words.SentBytes));

  text += QStringLiteral("Was die Rate begrenzt hat (Anteil der Messzeit)\n");
  if (const auto& limits = summary.Limits) {
    const auto row = [&](const QString& name, double share) {
      text += QStringLiteral("  %1: %2 %\n").arg(name, FormatPercent(share, locale));
    };
    row(QStringLiteral("Netz (Überlastfenster: die Leitung oder ihre Warteschlange)"), limits->Network);
    row(words.Limit(TRateLimit::ReceiveWindow), limits->ReceiveWindow);
    row(QStringLiteral("Sendepuffer ") + words.SendBufferOwner, limits->SendBuffer);
    row(words.Limit(TRateLimit::Program) + QStringLiteral(" selbst (keine Daten bereit)"), limits->Program);
    text += MainCauseSentence(limits->Main(), words) + u'\n';
  } else {
    text += QStringLiteral("  %1\n").arg(texts::Unknown);
  }
  text += ExpertLine(summary.Latest, words);
  return text;
}

QString PointToolTipText(double seconds, double rate, const TPointDetails* details, const QLocale& locale) {
  QString text =
      QStringLiteral("Sekunde %1: %2 kiBytes/s").arg(FormatWhole(seconds, locale), FormatFixed2(rate, locale));
  if (!details) return text;
  if (const QString rtt = FormatMilliseconds(details->RttMs, locale); !rtt.isEmpty())
    text += QStringLiteral("\nUmlaufzeit %1 ms").arg(rtt);
  if (const QString again = FormatFixed1(details->RetransPercent, locale); !again.isEmpty())
    text += QStringLiteral("\nerneut gesendet %1 %").arg(again);
  return text;
}
