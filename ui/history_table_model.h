#pragma once
// The history's tests as the window's table shows them: one row per test, newest first as the
// store lists them, sorted by what a column means (rates as numbers, dates by time, grades from
// best to worst) and filtered by server. Texts are formatted only for the rows in view, so a
// history of ten thousand tests opens at once.

#include <QAbstractTableModel>
#include <QLocale>
#include <QSortFilterProxyModel>
#include <QString>

#include <vector>

#include "ui/history/history_store.h"

class THistoryTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum TColumn {
    DateColumn,
    ServerColumn,
    DownloadColumn,
    UploadColumn,
    IdleColumn,
    LoadedColumn,
    GradeColumn,
    RpmColumn
  };
  static constexpr int ColumnCount = RpmColumn + 1;
  static const QString Headers[ColumnCount];

  explicit THistoryTableModel(QObject* parent = nullptr, const QLocale& locale = QLocale());

  void SetRows(std::vector<history::TTestRow> rows);
  const std::vector<history::TTestRow>& Rows() const { return FRows; }
  const history::TTestRow& Row(int row) const { return FRows[static_cast<std::size_t>(row)]; }
  // A cell as the table shows it; empty for a figure the test did not measure.
  QString Text(int row, int column) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<history::TTestRow> FRows;
  QLocale FLocale;
};

// Sorts by the tests' own values and keeps the rows whose server or address contains the filter.
class THistorySortModel : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  explicit THistorySortModel(THistoryTableModel& model, QObject* parent = nullptr);

  void SetServerFilter(const QString& text);
  QString ServerFilter() const { return FFilter; }
  static bool Matches(const history::TTestRow& row, const QString& filter);

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  THistoryTableModel& FModel;
  QString FFilter;
};

// The tests as a table a spreadsheet opens: ';' between the columns of the window's table (the
// address beside the server), numbers with the locale's decimal separator, a header line first.
QByteArray HistoryCsv(const std::vector<history::TTestRow>& rows, const QLocale& locale = QLocale());
