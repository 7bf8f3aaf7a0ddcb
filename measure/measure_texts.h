#pragma once
// Every German text the measurement shows: the controller's status texts and messages, the average
// in the status bar and the names of what limited a rate. Numbers in them come from
// measure/number_format.h.

#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>

#include "base/direction.h"
#include "measure/run_details.h"

namespace texts {
inline const QString IdleStatus = QStringLiteral("Geben Sie die Adresse des Servers ein und klicken Sie auf Start ...");
inline const QString MeasuringStatus = QStringLiteral("Klicken Sie auf Stop, um die Messung zu beenden ...");
inline const QString ConnectionLost = QStringLiteral("Die Verbindung wurde unterbrochen!");
inline const QString ErrorCaption = QStringLiteral("Fehler");
QString ConnectingStatus(const QString& server);
QString ConnectFailed(const QString& server);
// blockSize and port as the field holds them, also where they lie beyond 32 bits.
QString BlockSizeTooSmall(const QString& blockSize);
QString BlockSizeTooLarge(const QString& blockSize);
QString BlockBufferUnavailable(std::int32_t blockSize);
QString PortOutOfRange(const QString& port);
// A download in which the server sent nothing: it closed at once or stayed silent.
QString ServerSendsNothing(const QString& server);
// The choices of the direction, as the expert panel offers them and the details name a run.
inline const QString SendDirection = QStringLiteral("Senden (Upload)");
inline const QString ReceiveDirection = QStringLiteral("Empfangen (Download)");
}  // namespace texts

// "Durchschnittliche Übertragungsrate: %.2f kiBytes/s" with the number as FormatFixed2 gives it.
QString AverageText(double average, const QLocale& locale = QLocale());

// The words in which a run's texts differ by its direction, chosen once per run: Messdetails, the saved file,
// the chart's description and the line test all take them from here. A download's sender is the server.
struct TDirectionWords {
  QString Name;                    // as the expert panel offers the direction
  std::array<QString, 5> Limits;   // what held the rate back, by TRateLimit; empty when unknown
  QString SendBufferOwner;         // whose send buffer
  QString Sender;                  // who sends as fast as the line lets
  QString Receiver, NarrowWindow;  // who takes the data too slowly, and maybe why
  // Whose data were not ready (nominative and accusative), its pronoun, and what may have been too busy.
  QString Source, SourceAccusative, SourcePronoun, SourceMachine;
  // The sender's view: whose sent bytes the share sent again counts, who measures the round trip, whose kernel.
  QString SentBytes, RoundTripSource, Kernel;
  QString ChartLead;  // what the chart's description says first
  // The least block size with which the run learns the sender's state (a download's travels in the blocks).
  std::int32_t BlockSizeForState = 0;

  const QString& Limit(TRateLimit limit) const { return Limits[static_cast<std::size_t>(limit)]; }
};

const TDirectionWords& WordsFor(TDirection direction);

// What held the rate back, in the direction's words ("Netz", "Sendepuffer des Servers"); empty when unknown.
inline QString LimitName(TRateLimit limit, TDirection direction = TDirection::Send) {
  return WordsFor(direction).Limit(limit);
}
