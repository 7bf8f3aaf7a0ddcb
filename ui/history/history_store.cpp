#include "ui/history/history_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QVariant>

#include <atomic>
#include <cmath>

#include "ui/line_test/line_test_report.h"

namespace history {
namespace {

// Marks the file as this program's, so a foreign SQLite database at the path is told apart from
// an old one of ours ("KRVD").
constexpr int ApplicationId = 0x4B525644;

// The statements that bring the schema from version i to i + 1. A test's figures that the table
// shows have columns of their own; the whole result is kept as the JSON the command line prints,
// its points in a table beside it. Version 2 added the single measurements.
const QStringList Migrations[] = {
    {QStringLiteral("CREATE TABLE tests(id INTEGER PRIMARY KEY, start_ms INTEGER NOT NULL, server TEXT NOT NULL, "
                    "address TEXT NOT NULL, port INTEGER NOT NULL, download_mbit REAL, upload_mbit REAL, "
                    "idle_ms REAL, loaded_ms REAL, grade TEXT NOT NULL, rpm REAL, version TEXT NOT NULL, "
                    "result TEXT NOT NULL)"),
     QStringLiteral("CREATE INDEX tests_by_start ON tests(start_ms)"),
     QStringLiteral("CREATE TABLE points(test INTEGER NOT NULL, seq INTEGER NOT NULL, seconds REAL NOT NULL, "
                    "phase INTEGER NOT NULL, download_mbit REAL, upload_mbit REAL, latency_ms REAL, "
                    "PRIMARY KEY(test, seq)) WITHOUT ROWID")},
    {QStringLiteral("CREATE TABLE runs(id INTEGER PRIMARY KEY, start_ms INTEGER NOT NULL, server TEXT NOT NULL, "
                    "port INTEGER NOT NULL, block_size INTEGER NOT NULL, direction TEXT NOT NULL, "
                    "mean_kib_s REAL NOT NULL, points INTEGER NOT NULL, version TEXT NOT NULL, csv BLOB NOT NULL)"),
     QStringLiteral("CREATE INDEX runs_by_start ON runs(start_ms)")},
};
static_assert(std::size(Migrations) == THistoryStore::SchemaVersion);

// SQLite's result codes that mean the file is no database of any use (SQLITE_CORRUPT, SQLITE_NOTADB).
bool IsDamaged(const QSqlError& error) {
  const QString code = error.nativeErrorCode();
  return code == QLatin1String("11") || code == QLatin1String("26");
}

// The cause of a failed operation as a person understands it.
QString CauseOf(const QSqlError& error, const QString& path) {
  const int code = error.nativeErrorCode().toInt() & 0xff;  // the primary code of an extended one
  // A full disk shows as an input/output error where SQLite maps its shared memory.
  if ((code == 10 || code == 13) && QStorageInfo(QFileInfo(path).absolutePath()).bytesAvailable() < (1 << 20))
    return QStringLiteral("Der Datenträger ist voll.");
  switch (code) {
    case 13: return QStringLiteral("Der Datenträger ist voll.");
    case 3:
    case 8:
    case 14: return QStringLiteral("Die Datei oder ihr Ordner ist schreibgeschützt oder nicht zugänglich.");
    case 5:
    case 6: return QStringLiteral("Ein anderes Programm hält den Verlauf zu lange gesperrt.");
    case 10: return QStringLiteral("Beim Lesen oder Schreiben der Datei trat ein Fehler auf.");
    default: break;
  }
  const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
  return QStringLiteral("Grund: %1").arg(text);
}

QVariant Nullable(std::optional<double> value) {
  return value && std::isfinite(*value) ? QVariant(*value) : QVariant(QMetaType(QMetaType::Double));
}

QVariant Nullable(double value) { return Nullable(std::optional(value)); }

std::optional<double> OptionalDouble(const QVariant& value) {
  return value.isNull() ? std::nullopt : std::optional(value.toDouble());
}

double KnownOrNan(const QVariant& value) { return value.isNull() ? NAN : value.toDouble(); }

std::optional<double> Worse(std::optional<double> a, std::optional<double> b) {
  if (a && b) return std::max(*a, *b);
  return a ? a : b;
}

}  // namespace

QString THistoryStore::DefaultPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/Omvra-Soft/verlauf.sqlite");
}

THistoryStore::THistoryStore(QString path) : FPath(std::move(path)) {
  static std::atomic<int> connections{0};
  FConnection = QStringLiteral("korvaden-history-%1").arg(++connections);
  if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
    FError = QStringLiteral("Der Verlauf ist nicht verfügbar: Es fehlt Qts SQLite-Treiber (Paket libqt6sql6-sqlite).");
    return;
  }
  if (!QDir().mkpath(QFileInfo(FPath).absolutePath())) {
    FError = FOpenError = QStringLiteral("Der Ordner „%1“ für den Verlauf lässt sich nicht anlegen.")
                              .arg(QDir::toNativeSeparators(QFileInfo(FPath).absolutePath()));
    return;
  }
  FOpen = Prepare();
  FOpenError = FError;
}

THistoryStore::~THistoryStore() {
  if (QSqlDatabase::contains(FConnection)) {
    QSqlDatabase::database(FConnection, false).close();
    QSqlDatabase::removeDatabase(FConnection);
  }
}

bool THistoryStore::OpenFile(bool readOnly) {
  if (QSqlDatabase::contains(FConnection)) {
    QSqlDatabase::database(FConnection, false).close();
    QSqlDatabase::removeDatabase(FConnection);
  }
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnection);
  db.setDatabaseName(FPath);
  // A timer run and the window may write at the same moment: the later one waits its turn.
  db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY")
                                : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
  FReadOnly = readOnly;
  if (db.open()) return true;
  return Fail(QStringLiteral("Der Verlauf lässt sich nicht öffnen"), db.lastError());
}

THistoryStore::TFound THistoryStore::Examine(int& version) {
  QSqlQuery query(QSqlDatabase::database(FConnection, false));
  int applicationId = 0;
  const bool read = query.exec(QStringLiteral("PRAGMA application_id")) && query.next() &&
                    (applicationId = query.value(0).toInt(), query.exec(QStringLiteral("PRAGMA user_version"))) &&
                    query.next() && (version = query.value(0).toInt(), true) &&
                    query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) && query.next();
  if (!read) {
    if (IsDamaged(query.lastError())) return TFound::Damaged;
    Fail(QStringLiteral("Der Verlauf lässt sich nicht lesen"), query.lastError());
    return TFound::Unreadable;
  }
  // An empty database is as good as a new one; one with tables of its own is someone else's.
  const bool empty = query.value(0).toInt() == 0;
  return applicationId == ApplicationId || (applicationId == 0 && empty) ? TFound::Ours : TFound::Foreign;
}

bool THistoryStore::Prepare() {
  if (!OpenFile(false)) return false;
  int version = 0;
  switch (Examine(version)) {
    case TFound::Unreadable: return false;
    case TFound::Damaged: MoveAside(QStringLiteral("war beschädigt")); return FError.isEmpty() && Prepare();
    case TFound::Foreign:
      MoveAside(QStringLiteral("stammt nicht von diesem Programm"));
      return FError.isEmpty() && Prepare();
    case TFound::Ours: break;
  }
  if (version > SchemaVersion) {
    // A newer program's history: read what can be read, never rewrite it.
    FNotice = QStringLiteral(
                  "Der Verlauf „%1“ stammt von einer neueren Version dieses Programms. Er wird nur angezeigt "
                  "und nicht verändert; neue Tests werden nicht darin gespeichert.")
                  .arg(QDir::toNativeSeparators(FPath));
    return OpenFile(true);
  }
  {
    QSqlQuery query(QSqlDatabase::database(FConnection, false));
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
      return Fail(QStringLiteral("Der Verlauf lässt sich nicht öffnen"), query.lastError());
  }
  return Migrate();
}

bool THistoryStore::Migrate() {
  QSqlDatabase db = QSqlDatabase::database(FConnection, false);
  QSqlQuery query(db);
  // Immediate, so that two programs starting at once do not both bring the schema up to date.
  if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
    return Fail(QStringLiteral("Der Verlauf lässt sich nicht öffnen"), query.lastError());
  query.exec(QStringLiteral("PRAGMA user_version"));
  int version = query.next() ? query.value(0).toInt() : 0;
  bool ok = true;
  for (; ok && version < SchemaVersion; ++version) {
    for (const QString& statement : Migrations[version]) ok = ok && query.exec(statement);
  }
  ok = ok && query.exec(QStringLiteral("PRAGMA application_id=%1").arg(ApplicationId)) &&
       query.exec(QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion)) && query.exec(QStringLiteral("COMMIT"));
  if (ok) return true;
  const QSqlError error = query.lastError();
  query.exec(QStringLiteral("ROLLBACK"));
  return Fail(QStringLiteral("Der Verlauf lässt sich nicht einrichten"), error);
}

void THistoryStore::MoveAside(const QString& why) {
  QSqlDatabase::database(FConnection, false).close();
  QSqlDatabase::removeDatabase(FConnection);
  const QFileInfo file(FPath);
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
  QString aside = file.absolutePath() + QStringLiteral("/verlauf.beschädigt-%1.sqlite").arg(stamp);
  for (int n = 2; QFileInfo::exists(aside); ++n)
    aside = file.absolutePath() + QStringLiteral("/verlauf.beschädigt-%1-%2.sqlite").arg(stamp).arg(n);
  if (!QFile::rename(FPath, aside)) {
    FError = QStringLiteral("Die Datei „%1“ %2 und lässt sich nicht beiseitelegen; der Verlauf ist nicht verfügbar.")
                 .arg(QDir::toNativeSeparators(FPath), why);
    return;
  }
  // Its journal belongs to it: left behind, SQLite would play it into the new file.
  for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
    if (QFileInfo::exists(FPath + suffix)) QFile::rename(FPath + suffix, aside + suffix);
  }
  FNotice = QStringLiteral("Die Verlaufsdatei %1. Sie liegt jetzt unter „%2“; ein neuer Verlauf wurde begonnen.")
                .arg(why, QDir::toNativeSeparators(aside));
}

bool THistoryStore::Fail(const QString& what, const QSqlError& error) {
  FError = QStringLiteral("%1 („%2“). %3").arg(what, QDir::toNativeSeparators(FPath), CauseOf(error, FPath));
  return false;
}

bool THistoryStore::Writable(const QString& what) {
  if (!FOpen) {
    FError = what + QStringLiteral(": ") + FOpenError;
  } else if (FReadOnly) {
    FError = what + QStringLiteral(": ") + FNotice;
  } else {
    FError.clear();
  }
  return FError.isEmpty();
}

std::optional<std::int64_t> THistoryStore::StoreTest(const linetest::TResult& result, const QString& programVersion) {
  const QString what = QStringLiteral("Der Test konnte nicht im Verlauf gespeichert werden");
  if (!Writable(what)) return std::nullopt;
  QSqlDatabase db = QSqlDatabase::database(FConnection, false);
  QSqlQuery query(db);
  if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
    Fail(what, query.lastError());
    return std::nullopt;
  }
  query.prepare(QStringLiteral(
      "INSERT INTO tests(start_ms, server, address, port, download_mbit, upload_mbit, idle_ms, loaded_ms, grade, "
      "rpm, version, result) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
  query.addBindValue(result.Start.toMSecsSinceEpoch());
  query.addBindValue(result.Server);
  query.addBindValue(result.Address);
  query.addBindValue(result.Port);
  query.addBindValue(Nullable(result.Download.Mbit()));
  query.addBindValue(Nullable(result.Upload.Mbit()));
  query.addBindValue(Nullable(result.Idle.MedianMs));
  query.addBindValue(Nullable(Worse(result.Download.Latency.MedianMs, result.Upload.Latency.MedianMs)));
  query.addBindValue(result.Grade);
  query.addBindValue(Nullable(result.Rpm));
  query.addBindValue(programVersion);
  query.addBindValue(QString::fromUtf8(linetest::ReportJson(result, false)));
  bool ok = query.exec();
  const std::int64_t id = query.lastInsertId().toLongLong();
  QSqlQuery points(db);
  ok = ok && points.prepare(
                 QStringLiteral("INSERT INTO points(test, seq, seconds, phase, download_mbit, upload_mbit, latency_ms) "
                                "VALUES (?, ?, ?, ?, ?, ?, ?)"));
  for (std::size_t i = 0; ok && i < result.Points.size(); ++i) {
    const linetest::TPoint& p = result.Points[i];
    points.addBindValue(static_cast<qlonglong>(id));
    points.addBindValue(static_cast<qlonglong>(i));
    points.addBindValue(p.Seconds);
    points.addBindValue(static_cast<int>(p.Phase));
    points.addBindValue(Nullable(p.DownloadMbit));
    points.addBindValue(Nullable(p.UploadMbit));
    points.addBindValue(Nullable(p.LatencyMs));
    ok = points.exec();
  }
  const QSqlError error = !points.lastError().isValid() ? query.lastError() : points.lastError();
  if (ok && query.exec(QStringLiteral("COMMIT"))) return id;
  Fail(what, ok ? query.lastError() : error);
  query.exec(QStringLiteral("ROLLBACK"));
  return std::nullopt;
}

bool THistoryStore::StoreRun(const TRunRecord& run, const QString& programVersion) {
  const QString what = QStringLiteral("Die Messung konnte nicht im Verlauf gespeichert werden");
  if (!Writable(what)) return false;
  QSqlQuery query(QSqlDatabase::database(FConnection, false));
  query.prepare(QStringLiteral(
      "INSERT INTO runs(start_ms, server, port, block_size, direction, mean_kib_s, points, version, csv) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
  query.addBindValue(run.Run.Start.toMSecsSinceEpoch());
  query.addBindValue(run.Run.Server);
  query.addBindValue(run.Run.Port);
  query.addBindValue(run.Run.BlockSize);
  query.addBindValue(run.Run.Direction == TDirection::Receive ? QStringLiteral("download") : QStringLiteral("upload"));
  query.addBindValue(run.MeanKiBs);
  query.addBindValue(run.Points);
  query.addBindValue(programVersion);
  query.addBindValue(run.Csv);
  return query.exec() || Fail(what, query.lastError());
}

std::vector<TTestRow> THistoryStore::Tests(const QString& serverFilter) {
  FError.clear();
  std::vector<TTestRow> rows;
  if (!FOpen) {
    FError = FOpenError;
    return rows;
  }
  QSqlQuery query(QSqlDatabase::database(FConnection, false));
  query.setForwardOnly(true);
  query.prepare(
      QStringLiteral("SELECT id, start_ms, server, address, download_mbit, upload_mbit, idle_ms, loaded_ms, grade, rpm "
                     "FROM tests WHERE instr(lower(server || char(10) || address), lower(ifnull(?, ''))) "
                     "ORDER BY start_ms DESC, id DESC"));
  query.addBindValue(serverFilter);  // an empty filter is found in every row
  if (!query.exec()) {
    Fail(QStringLiteral("Der Verlauf lässt sich nicht lesen"), query.lastError());
    return rows;
  }
  while (query.next()) {
    rows.push_back({query.value(0).toLongLong(), QDateTime::fromMSecsSinceEpoch(query.value(1).toLongLong()),
                    query.value(2).toString(), query.value(3).toString(), OptionalDouble(query.value(4)),
                    OptionalDouble(query.value(5)), OptionalDouble(query.value(6)), OptionalDouble(query.value(7)),
                    query.value(8).toString(), OptionalDouble(query.value(9))});
  }
  return rows;
}

std::optional<linetest::TResult> THistoryStore::LoadTest(std::int64_t id) {
  FError.clear();
  if (!FOpen) {
    FError = FOpenError;
    return std::nullopt;
  }
  QSqlDatabase db = QSqlDatabase::database(FConnection, false);
  QSqlQuery query(db);
  query.prepare(QStringLiteral("SELECT result FROM tests WHERE id = ?"));
  query.addBindValue(static_cast<qlonglong>(id));
  if (!query.exec() || !query.next()) {
    if (query.lastError().isValid()) Fail(QStringLiteral("Der Verlauf lässt sich nicht lesen"), query.lastError());
    return std::nullopt;
  }
  std::optional<linetest::TResult> result = linetest::ResultFromJson(query.value(0).toString().toUtf8());
  if (!result) return std::nullopt;
  query.prepare(QStringLiteral(
      "SELECT seconds, phase, download_mbit, upload_mbit, latency_ms FROM points WHERE test = ? ORDER BY seq"));
  query.addBindValue(static_cast<qlonglong>(id));
  if (!query.exec()) {
    Fail(QStringLiteral("Der Verlauf lässt sich nicht lesen"), query.lastError());
    return std::nullopt;
  }
  while (query.next()) {
    const int phase = query.value(1).toInt();
    result->Points.push_back({query.value(0).toDouble(),
                              phase >= 0 && phase < static_cast<int>(std::size(linetest::AllPhases))
                                  ? linetest::AllPhases[phase]
                                  : linetest::TPhase::Idle,
                              KnownOrNan(query.value(2)), KnownOrNan(query.value(3)), KnownOrNan(query.value(4))});
  }
  return result;
}

bool THistoryStore::DeleteTests(const QList<std::int64_t>& ids) {
  const QString what = QStringLiteral("Die Tests konnten nicht aus dem Verlauf gelöscht werden");
  if (!Writable(what)) return false;
  QSqlQuery query(QSqlDatabase::database(FConnection, false));
  if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) return Fail(what, query.lastError());
  bool ok = true;
  for (const std::int64_t id : ids) {
    for (const QString& statement :
         {QStringLiteral("DELETE FROM points WHERE test = ?"), QStringLiteral("DELETE FROM tests WHERE id = ?")}) {
      ok = ok && query.prepare(statement);
      query.addBindValue(static_cast<qlonglong>(id));
      ok = ok && query.exec();
    }
  }
  if (ok && query.exec(QStringLiteral("COMMIT"))) return true;
  Fail(what, query.lastError());
  query.exec(QStringLiteral("ROLLBACK"));
  return false;
}

int THistoryStore::RunCount() {
  if (!FOpen) return 0;
  QSqlQuery query(QSqlDatabase::database(FConnection, false));
  return query.exec(QStringLiteral("SELECT count(*) FROM runs")) && query.next() ? query.value(0).toInt() : 0;
}

}  // namespace history
