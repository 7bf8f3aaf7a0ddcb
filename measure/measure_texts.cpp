#include "measure/measure_texts.h"

#include "base/stream_protocol.h"
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

const TDirectionWords& WordsFor(TDirection direction) {
  static const std::array<TDirectionWords, 2> words = [] {
    std::array<TDirectionWords, 2> both;  // by TDirection: an upload's words, then a download's
    const auto word = [&](QString TDirectionWords::*field, const QString& upload, const QString& download) {
      both[0].*field = upload;
      both[1].*field = download;
    };
    word(&TDirectionWords::Name, texts::SendDirection, texts::ReceiveDirection);
    both[0].Limits = {QString(), "Netz", "Empfangsfenster des Servers", "Sendepuffer", "Programm"};
    both[1].Limits = {QString(), "Netz", "Empfangsfenster dieses Rechners", "Sendepuffer des Servers", "Server"};
    word(&TDirectionWords::SendBufferOwner, "dieses Rechners", "des Servers");
    word(&TDirectionWords::Sender, "Die Verbindung", "Der Server");
    word(&TDirectionWords::Receiver, "Der Server", "Er");
    word(&TDirectionWords::NarrowWindow, {}, ", etwa weil sein Empfangspuffer für diese Leitung zu klein ist");
    word(&TDirectionWords::Source, "das Programm", "der Server");
    word(&TDirectionWords::SourceAccusative, "das Programm", "den Server");
    word(&TDirectionWords::SourcePronoun, "Es", "Er");
    word(&TDirectionWords::SourceMachine, "der Rechner", "er");
    word(&TDirectionWords::SentBytes, "gesendeten Bytes", "vom Server gesendeten Bytes");
    word(&TDirectionWords::RoundTripSource, {}, ", wie der Server als Sender sie misst");
    word(&TDirectionWords::Kernel, "Kernel", "Kernel des Servers");
    word(&TDirectionWords::ChartLead, {}, texts::ReceiveDirection + ": ");
    both[1].BlockSizeForState = static_cast<std::int32_t>(StateRecordEnd);
    return both;
  }();
  return words[direction == TDirection::Receive ? 1 : 0];
}
