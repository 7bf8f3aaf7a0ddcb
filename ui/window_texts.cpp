#include "ui/window_texts.h"

#include "measure/measure_texts.h"
#include "measure/measurement_run.h"
#include "measure/number_format.h"

QString texts::ChartDescription(double latestSeconds, double latestRate, double average,
                                std::optional<double> latestRttMs, TDirection direction) {
  QString description = direction == TDirection::Receive ? DirectionName(direction) + QStringLiteral(": ") : QString();
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
QString ExpertLine(const TConnectionState& state, bool receiving) {
  QStringList parts;
  if (state.SndCwnd && state.SndMss)
    parts << QStringLiteral("Überlastfenster %1 Segmente zu %2 Bytes").arg(*state.SndCwnd).arg(*state.SndMss);
  if (state.SndWnd)
    parts << (receiving ? QStringLiteral("Empfangsfenster dieses Rechners %1 Bytes")
                        : QStringLiteral("Empfangsfenster des Servers %1 Bytes"))
                 .arg(*state.SndWnd);
  if (state.TotalRetrans) parts << QStringLiteral("%1 Segmente wiederholt").arg(*state.TotalRetrans);
  if (state.NotsentBytes) parts << QStringLiteral("%1 Bytes noch nicht gesendet").arg(*state.NotsentBytes);
  if (parts.isEmpty()) return {};
  return (receiving ? QStringLiteral("\nZuletzt laut Kernel des Servers: %1.\n")
                    : QStringLiteral("\nZuletzt laut Kernel: %1.\n"))
      .arg(parts.join(QStringLiteral(", ")));
}

// What held the rate back for more than half of the time, in a sentence. A download's sender is
// the server and its receiver this computer.
QString MainCauseSentence(TRateLimit cause, bool receiving) {
  switch (cause) {
    case TRateLimit::Network:
      return receiving ? QStringLiteral(
                             "Hauptursache: das Netz. Der Server hat so schnell gesendet, wie die Leitung und ihre "
                             "Warteschlange es zuließen.")
                       : QStringLiteral(
                             "Hauptursache: das Netz. Die Verbindung hat so schnell gesendet, wie die Leitung und ihre "
                             "Warteschlange es zuließen.");
    case TRateLimit::ReceiveWindow:
      return receiving ? QStringLiteral(
                             "Hauptursache: das Empfangsfenster dieses Rechners. Er nimmt die Daten langsamer an, als "
                             "die Leitung sie tragen könnte, etwa weil sein Empfangspuffer für diese Leitung zu klein "
                             "ist.")
                       : QStringLiteral(
                             "Hauptursache: das Empfangsfenster des Servers. Der Server nimmt die Daten langsamer an, "
                             "als die Leitung sie tragen könnte.");
    case TRateLimit::SendBuffer:
      return receiving
                 ? QStringLiteral("Hauptursache: der Sendepuffer des Servers. Er ist für diese Leitung zu klein.")
                 : QStringLiteral("Hauptursache: der Sendepuffer dieses Rechners. Er ist für diese Leitung zu klein.");
    case TRateLimit::Program:
      return receiving ? QStringLiteral(
                             "Hauptursache: der Server selbst. Er hatte oft keine Daten bereit, etwa weil er "
                             "ausgelastet ist.")
                       : QStringLiteral(
                             "Hauptursache: das Programm selbst. Es hatte oft keine Daten bereit, etwa weil der "
                             "Rechner ausgelastet ist.");
    case TRateLimit::Unknown: break;
  }
  return QStringLiteral("Keine Ursache hat die Rate mehr als die Hälfte der Zeit begrenzt.");
}
}  // namespace

QString DetailsText(const TMeasurementRun& run, const QLocale& locale) {
  const TRunHistory& history = run.History;
  const TRunSummary summary = run.Details.Summary();
  QString text = QStringLiteral("Messdetails\n\n");
  const bool receiving = history.HasRun() && history.Run().Direction == TDirection::Receive;
  if (history.HasRun()) {
    const TRunDescription& description = history.Run();
    text += QStringLiteral("Richtung: %1\n").arg(DirectionName(description.Direction));
    text += QStringLiteral("Server: %1, Port %2, Blockgröße %3 Bytes\n")
                .arg(description.Server)
                .arg(description.Port)
                .arg(description.BlockSize);
    text += QStringLiteral("Start: %1, Punkte: %2\n\n").arg(GermanDateTime(description.Start)).arg(history.Count());
  }
  text += QStringLiteral("Übertragungsrate\n");
  text += QStringLiteral("  Durchschnitt im Diagramm: %1 kiBytes/s\n\n").arg(FormatFixed2(run.Series1.Mean(), locale));

  text += receiving ? QStringLiteral("Umlaufzeit (Round Trip Time, wie der Server als Sender sie misst)\n")
                    : QStringLiteral("Umlaufzeit (Round Trip Time)\n");
  text += QStringLiteral("  ohne Last (kleinste der Verbindung): %1\n").arg(Milliseconds(summary.MinRttMs, locale));
  text += QStringLiteral("  unter Last, Median: %1\n").arg(Milliseconds(summary.RttMedianMs, locale));
  text += QStringLiteral("  unter Last, 95. Perzentil: %1\n").arg(Milliseconds(summary.RttP95Ms, locale));
  text +=
      QStringLiteral("  zusätzliche Verzögerung unter Last: %1\n").arg(Milliseconds(summary.AddedLatencyMs, locale));
  text += QueueSentence(summary.AddedLatencyMs, locale) + u'\n';

  text += QStringLiteral("Erneut gesendet: %1\n\n")
              .arg(OrUnknown(FormatFixed1(summary.RetransPercent, locale),
                             receiving ? QStringLiteral(" % der vom Server gesendeten Bytes")
                                       : QStringLiteral(" % der gesendeten Bytes")));

  text += QStringLiteral("Was die Rate begrenzt hat (Anteil der Messzeit)\n");
  if (const auto& limits = summary.Limits) {
    const QString percent = QStringLiteral(" %");
    text += QStringLiteral("  Netz (Überlastfenster: die Leitung oder ihre Warteschlange): %1\n")
                .arg(FormatPercent(limits->Network, locale) + percent);
    text += (receiving ? QStringLiteral("  Empfangsfenster dieses Rechners: %1\n")
                       : QStringLiteral("  Empfangsfenster des Servers: %1\n"))
                .arg(FormatPercent(limits->ReceiveWindow, locale) + percent);
    text += (receiving ? QStringLiteral("  Sendepuffer des Servers: %1\n")
                       : QStringLiteral("  Sendepuffer dieses Rechners: %1\n"))
                .arg(FormatPercent(limits->SendBuffer, locale) + percent);
    text += (receiving ? QStringLiteral("  Server selbst (keine Daten bereit): %1\n")
                       : QStringLiteral("  Programm selbst (keine Daten bereit): %1\n"))
                .arg(FormatPercent(limits->Program, locale) + percent);
    text += MainCauseSentence(limits->Main(), receiving) + u'\n';
  } else {
    text += QStringLiteral("  %1\n").arg(texts::Unknown);
  }
  text += ExpertLine(summary.Latest, receiving);
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
