#include "measure/measure_texts.h"

#include "measure/number_format.h"

QString texts::ConnectingStatus(const QString& server) { return "Verbinde mit " + server + " ..."; }

QString texts::ConnectFailed(const QString& server) {
  return "Konnte keine Verbindung zu " + server + " herstellen!" + QChar(13) + QStringLiteral("Läuft dort der Server?");
}

QString texts::BlockSizeTooSmall(const QString& blockSize) {
  return QStringLiteral("Die Blockgröße %1 ist ungültig: Ein Block muss mindestens 1 Byte lang sein.").arg(blockSize);
}

QString texts::BlockSizeTooLarge(const QString& blockSize) {
  return QStringLiteral("Die Blockgröße %1 ist ungültig: Erlaubt sind 1 bis 2147483647 Bytes.").arg(blockSize);
}

QString texts::PortOutOfRange(const QString& port) {
  return QStringLiteral("Die Port-Nr. %1 ist ungültig: Erlaubt sind 1 bis 65535.").arg(port);
}

QString texts::BlockBufferUnavailable(std::int32_t blockSize) {
  return QStringLiteral(
             "Für einen Block von %1 Bytes ist nicht genug Arbeitsspeicher frei. "
             "Bitte wählen Sie eine kleinere Blockgröße.")
      .arg(blockSize);
}

QString AverageText(double average, const QLocale& locale) {
  return QStringLiteral("Durchschnittliche Übertragungsrate: %1 kiBytes/s").arg(FormatFixed2(average, locale));
}

QString texts::ServerSendsNothing(const QString& server) {
  return QStringLiteral(
             "Der Server %1 sendet keine Daten. Er kennt den Download nicht oder lehnt ihn ab; "
             "Senden (Upload) lässt sich trotzdem messen.")
      .arg(server);
}

QString DirectionName(TDirection direction) {
  return direction == TDirection::Receive ? texts::ReceiveDirection : texts::SendDirection;
}

QString LimitName(TRateLimit limit, TDirection direction) {
  if (direction == TDirection::Receive) {
    switch (limit) {
      case TRateLimit::Network: break;
      case TRateLimit::ReceiveWindow: return QStringLiteral("Empfangsfenster dieses Rechners");
      case TRateLimit::SendBuffer: return QStringLiteral("Sendepuffer des Servers");
      case TRateLimit::Program: return QStringLiteral("Server");
      case TRateLimit::Unknown: return {};
    }
  }
  switch (limit) {
    case TRateLimit::Network: return QStringLiteral("Netz");
    case TRateLimit::ReceiveWindow: return QStringLiteral("Empfangsfenster des Servers");
    case TRateLimit::SendBuffer: return QStringLiteral("Sendepuffer");
    case TRateLimit::Program: return QStringLiteral("Programm");
    case TRateLimit::Unknown: break;
  }
  return {};
}
