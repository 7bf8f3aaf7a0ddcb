#pragma once
// Every German text the measurement shows: the controller's status texts and messages, the average
// in the status bar and the names of what limited a rate. Numbers in them come from
// measure/number_format.h.

#include <QLocale>
#include <QString>

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

// "Senden (Upload)" or "Empfangen (Download)".
QString DirectionName(TDirection direction);

// "Netz", "Empfangsfenster des Servers", "Sendepuffer", "Programm"; empty when unknown. A download's
// sender is the server, its receiver this computer: "Empfangsfenster dieses Rechners",
// "Sendepuffer des Servers", "Server".
QString LimitName(TRateLimit limit, TDirection direction = TDirection::Send);
