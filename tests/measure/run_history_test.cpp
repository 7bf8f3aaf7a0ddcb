// The saved file's rows of a run's details, in the words of the run's direction.

#include <gtest/gtest.h>

#include "measure/measure_texts.h"
#include "measure/run_history.h"

namespace {
// The labelled rows between the run's mean rate and the points' header.
QStringList DetailRows(TDirection direction) {
  TRunHistory history;
  history.Begin({QStringLiteral("host"), 2857, 1024, QDateTime(QDate(2026, 12, 9), QTime(14, 5, 31)), direction});
  TRunSummary summary;
  summary.RetransPercent = 1.5;
  summary.Limits = TLimitShares{0.1, 0.6, 0.2, 0.1};
  history.Add(1000, 10, {NAN, NAN, TRateLimit::ReceiveWindow});
  const QStringList lines = QString::fromUtf8(history.ToCsv(QLocale::c(), summary)).split(u'\n');
  return lines.mid(10, 7);
}
}  // namespace

TEST(RunHistory, AnUploadsFileNamesTheServersWindowAndThisComputersBufferAndProgram) {
  EXPECT_EQ(
      DetailRows(TDirection::Send),
      QStringList({"Erneut gesendet (% der gesendeten Bytes);1.5", "Begrenzt durch das Netz (% der Zeit);10",
                   "Begrenzt durch das Empfangsfenster des Servers (% der Zeit);60",
                   "Begrenzt durch den Sendepuffer (% der Zeit);20", "Begrenzt durch das Programm (% der Zeit);10",
                   "Hauptursache;Empfangsfenster des Servers", "Richtung;Senden (Upload)"}));
}

// The server sends a download: the share sent again is of its bytes, as Messdetails says.
TEST(RunHistory, ADownloadsFileNamesThisComputersWindowAndTheServersBytesBufferAndItself) {
  EXPECT_EQ(
      DetailRows(TDirection::Receive),
      QStringList({"Erneut gesendet (% der vom Server gesendeten Bytes);1.5", "Begrenzt durch das Netz (% der Zeit);10",
                   "Begrenzt durch das Empfangsfenster dieses Rechners (% der Zeit);60",
                   "Begrenzt durch den Sendepuffer des Servers (% der Zeit);20",
                   "Begrenzt durch den Server (% der Zeit);10", "Hauptursache;Empfangsfenster dieses Rechners",
                   "Richtung;Empfangen (Download)"}));
  EXPECT_EQ(WordsFor(TDirection::Receive).SentBytes, "vom Server gesendeten Bytes");
}
