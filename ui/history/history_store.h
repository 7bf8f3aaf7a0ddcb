#pragma once
// The history ("Verlauf"): every finished line test, and on request every single measurement, in
// one SQLite file per user that the window and korvaden-check share. Written in WAL mode with a
// busy timeout, so a timer run and the window both land; a damaged or foreign file is moved
// aside and a new one begun; a file from a newer version is only read. Qt Core and Qt SQL only.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "measure/run_history.h"
#include "ui/line_test/line_test_result.h"

class QSqlError;

namespace history {

// One line test as the history's table lists it.
struct TTestRow {
  std::int64_t Id = 0;
  QDateTime Start;
  QString Server;
  QString Address;
  std::optional<double> DownloadMbit;
  std::optional<double> UploadMbit;
  std::optional<double> IdleMs;    // latency without load, median
  std::optional<double> LoadedMs;  // latency under load: the worse median of download and upload
  QString Grade;
  std::optional<double> Rpm;
};

// One single measurement (Start/Stop), kept only when the user asks for it.
struct TRunRecord {
  TRunDescription Run;
  double MeanKiBs = 0;
  int Points = 0;
  QByteArray Csv;  // the run as "Messwerte speichern" writes it: its details and every point
};

class THistoryStore {
 public:
  // The schema this program writes; a file with a higher version is opened read-only.
  static constexpr int SchemaVersion = 2;

  // $XDG_DATA_HOME/Omvra-Soft/verlauf.sqlite, by default ~/.local/share/Omvra-Soft/verlauf.sqlite.
  static QString DefaultPath();

  // Opens (or creates) the history at path, bringing an older schema up to date.
  explicit THistoryStore(QString path = DefaultPath());
  ~THistoryStore();
  THistoryStore(const THistoryStore&) = delete;
  THistoryStore& operator=(const THistoryStore&) = delete;

  QString Path() const { return FPath; }
  // False when the history cannot be used at all; Error() says why, in German.
  bool IsOpen() const { return FOpen; }
  bool ReadOnly() const { return FReadOnly; }
  // What the user must be told once after opening: a damaged file moved aside, or a newer
  // version's file that is only read. Empty otherwise.
  QString Notice() const { return FNotice; }
  // Why the last operation failed, in German; empty after success.
  QString Error() const { return FError; }
  // Why the history could not be opened; empty when it is open.
  QString OpenError() const { return FOpenError; }

  // Stores a finished test with its points; its id, or none (Error() says why).
  std::optional<std::int64_t> StoreTest(const linetest::TResult& result, const QString& programVersion);
  bool StoreRun(const TRunRecord& run, const QString& programVersion);

  // Newest first; with a filter only the tests whose server or address contains it.
  std::vector<TTestRow> Tests(const QString& serverFilter = {});
  // A stored test with its points, as it was shown when it finished.
  std::optional<linetest::TResult> LoadTest(std::int64_t id);
  bool DeleteTests(const QList<std::int64_t>& ids);
  int RunCount();

 private:
  enum class TFound { Ours, Foreign, Damaged, Unreadable };
  // What lies at the path, and the version of its schema.
  TFound Examine(int& version);
  bool OpenFile(bool readOnly);
  bool Prepare();
  void MoveAside(const QString& why);
  bool Migrate();
  bool Fail(const QString& what, const QSqlError& error);
  // Clears the last error, or explains why nothing can be written.
  bool Writable(const QString& what);

  QString FPath;
  QString FConnection;
  bool FOpen = false;
  bool FReadOnly = false;
  QString FNotice;
  QString FError;
  QString FOpenError;  // why the history could not be opened
};

}  // namespace history
