#include "ui/history_table_model.h"

#include <QStringList>

#include "measure/number_format.h"

namespace {
// The table's dates: German digits, whatever the locale; to the minute, as a person reads a list.
QString TableDate(const QDateTime& moment) {
  return QLocale::c().toString(moment.toLocalTime(), QStringLiteral("dd.MM.yyyy HH:mm"));
}

// The grades from best to worst; a test without one after all graded ones.
int GradeRank(const QString& grade) {
  static const QStringList Order = {QStringLiteral("A+"), QStringLiteral("A"), QStringLiteral("B"),
                                    QStringLiteral("C"),  QStringLiteral("D"), QStringLiteral("F")};
  const qsizetype rank = Order.indexOf(grade);
  return rank < 0 ? static_cast<int>(Order.size()) : static_cast<int>(rank);
}

std::optional<double> Figure(const history::TTestRow& row, int column) {
  switch (column) {
    case THistoryTableModel::DownloadColumn: return row.DownloadMbit;
    case THistoryTableModel::UploadColumn: return row.UploadMbit;
    case THistoryTableModel::IdleColumn: return row.IdleMs;
    case THistoryTableModel::LoadedColumn: return row.LoadedMs;
    case THistoryTableModel::RpmColumn: return row.Rpm;
    default: return std::nullopt;
  }
}

// A figure unknown sorts below every known one.
int CompareFigures(std::optional<double> a, std::optional<double> b) {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

QString CsvField(QString text) {
  if (!text.contains(u';') && !text.contains(u'"') && !text.contains(u'\n')) return text;
  return u'"' + text.replace(u'"', QStringLiteral("\"\"")) + u'"';
}
}  // namespace

const QString THistoryTableModel::Headers[ColumnCount] = {QStringLiteral("Datum und Uhrzeit"),
                                                          QStringLiteral("Server"),
                                                          QStringLiteral("Download (Mbit/s)"),
                                                          QStringLiteral("Upload (Mbit/s)"),
                                                          QStringLiteral("Latenz ohne Last (ms)"),
                                                          QStringLiteral("Latenz unter Last (ms)"),
                                                          QStringLiteral("Note"),
                                                          QStringLiteral("RPM")};

THistoryTableModel::THistoryTableModel(QObject* parent, const QLocale& locale)
    : QAbstractTableModel(parent), FLocale(locale) {}

void THistoryTableModel::SetRows(std::vector<history::TTestRow> rows) {
  beginResetModel();
  FRows = std::move(rows);
  endResetModel();
}

QString THistoryTableModel::Text(int row, int column) const {
  const history::TTestRow& test = Row(row);
  switch (column) {
    case DateColumn: return TableDate(test.Start);
    case ServerColumn: return test.Server;
    case DownloadColumn:
    case UploadColumn: return FormatFixed1(Figure(test, column), FLocale);
    case IdleColumn:
    case LoadedColumn: return FormatMilliseconds(Figure(test, column), FLocale);
    case GradeColumn: return test.Grade;
    case RpmColumn: return test.Rpm ? FormatWhole(*test.Rpm, FLocale) : QString();
    default: return {};
  }
}

int THistoryTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int THistoryTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant THistoryTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: return Text(index.row(), index.column());
    case Qt::TextAlignmentRole:
      return index.column() == DateColumn || index.column() == ServerColumn
                 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                 : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::ToolTipRole:
      if (index.column() == ServerColumn && !Row(index.row()).Address.isEmpty())
        return QStringLiteral("%1 (%2)").arg(Row(index.row()).Server, Row(index.row()).Address);
      return {};
    default: return {};
  }
}

QVariant THistoryTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return Headers[section];
  return {};
}

THistorySortModel::THistorySortModel(THistoryTableModel& model, QObject* parent)
    : QSortFilterProxyModel(parent), FModel(model) {
  setSourceModel(&model);
}

void THistorySortModel::SetServerFilter(const QString& text) {
  FFilter = text.trimmed();
  invalidateRowsFilter();
}

bool THistorySortModel::Matches(const history::TTestRow& row, const QString& filter) {
  return filter.isEmpty() || row.Server.contains(filter, Qt::CaseInsensitive) ||
         row.Address.contains(filter, Qt::CaseInsensitive);
}

bool THistorySortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const history::TTestRow& a = FModel.Row(left.row());
  const history::TTestRow& b = FModel.Row(right.row());
  switch (left.column()) {
    case THistoryTableModel::DateColumn: return a.Start < b.Start;
    case THistoryTableModel::ServerColumn: return QString::localeAwareCompare(a.Server, b.Server) < 0;
    case THistoryTableModel::GradeColumn: return GradeRank(a.Grade) < GradeRank(b.Grade);
    default: return CompareFigures(Figure(a, left.column()), Figure(b, left.column())) < 0;
  }
}

bool THistorySortModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
  return Matches(FModel.Row(sourceRow), FFilter);
}

QByteArray HistoryCsv(const std::vector<history::TTestRow>& rows, const QLocale& locale) {
  QStringList header;
  for (int column = 0; column < THistoryTableModel::ColumnCount; ++column) {
    header << THistoryTableModel::Headers[column];
    if (column == THistoryTableModel::ServerColumn) header << QStringLiteral("Adresse");
  }
  QString text = header.join(u';') + u'\n';
  const auto fixed2 = [&](std::optional<double> value) { return value ? FormatFixed2(*value, locale) : QString(); };
  for (const history::TTestRow& row : rows) {
    const QStringList fields = {QLocale::c().toString(row.Start.toLocalTime(), QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                                CsvField(row.Server),
                                CsvField(row.Address),
                                fixed2(row.DownloadMbit),
                                fixed2(row.UploadMbit),
                                FormatMilliseconds(row.IdleMs, locale),
                                FormatMilliseconds(row.LoadedMs, locale),
                                CsvField(row.Grade),
                                row.Rpm ? FormatWhole(*row.Rpm, locale) : QString()};
    text += fields.join(u';') + u'\n';
  }
  return text.toUtf8();
}
