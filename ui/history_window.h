#pragma once
// The window "Verlauf": every stored line test in a table (newest first, sortable, filtered by
// server), a chart of download and upload over time with the contract's rates as dashed lines,
// and the contract itself with its per-day check. Opening a row shows that test's result window
// as it was; the tests can be deleted and exported as CSV. Not modal.

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

#include "ui/history/history_contract.h"
#include "ui/history/history_store.h"

class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTableView;
class QTableWidget;
class QValueAxis;
class THistorySortModel;
class THistoryTableModel;
class TLineTestWindow;

class THistoryWindow : public QDialog {
  Q_OBJECT

 public:
  // store: the program's history, which outlives the window's use of it.
  THistoryWindow(history::THistoryStore& store, QWidget* parent);
  // Opens the history at its usual place for itself, and tells what there is to know of it here.
  explicit THistoryWindow(QWidget* parent = nullptr);
  ~THistoryWindow() override;

  // Shows the window, or brings it to the front, with the history as it is now.
  void Open();
  // Reads the history afresh: the table, the chart and the contract's check.
  void Reload();

  // Shows the test of a row of the table (as sorted and filtered) in a result window of its own.
  void OpenRow(int row);
  // Deletes the selected tests once the user agreed.
  void DeleteSelected();
  // Writes the tests the table shows (all of them without a filter) to a CSV file.
  void Export();

  // Asks whether to go on; a message box unless replaced.
  std::function<bool(const QString& question)> Confirm;

  QTableView* Table() const { return FTable; }
  QLineEdit* Filter() const { return FFilter; }
  THistorySortModel* Shown() const { return FShown; }
  // The result window of the last row opened; null before.
  TLineTestWindow* ResultWindow() const { return FResultWindow; }
  QChart* Chart() const { return FChart; }
  QLineEdit* RateField(int index) const { return FRates[index]; }
  QPlainTextEdit* Summary() const { return FSummary; }
  // A chart point's tooltip: upload or download, the point's index along the line.
  QString PointToolTip(bool upload, int index) const;

 protected:
  // Each showing reads the history afresh.
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateContract(QWidget* box);
  void LoadContract();
  void RateEdited(int index);
  history::TContract Contract() const;
  // The rows the filter keeps, oldest first, as the chart draws them.
  std::vector<int> ChartRows() const;
  void DrawChart();
  void ShowContractLines(double from, double to);
  void EvaluateContract();
  void ShowNear(QLineSeries* line, bool upload, const QPointF& at);
  std::vector<history::TTestRow> ShownRows() const;
  void UpdateButtons();

  THistoryWindow(std::unique_ptr<history::THistoryStore> own, history::THistoryStore* store, QWidget* parent);
  std::unique_ptr<history::THistoryStore> FOwnStore;
  history::THistoryStore& FStore;
  THistoryTableModel* FModel;
  THistorySortModel* FShown;
  TLineTestWindow* FResultWindow = nullptr;

  QLabel* FProblem;
  QLabel* FFilterLabel;
  QLineEdit* FFilter;
  QSplitter* FSplitter;
  QTableView* FTable;
  QTabWidget* FTabs;
  QChart* FChart;
  QChartView* FChartView;
  QLineSeries* FDownload;
  QLineSeries* FUpload;
  QList<QLineSeries*> FContractLines;
  QDateTimeAxis* FTimeAxis;
  QValueAxis* FRateAxis;
  // The model's rows behind the points of each line, in the lines' order.
  std::vector<int> FDownloadTests;
  std::vector<int> FUploadTests;
  double FHighestRate = 10;
  QLineEdit* FRates[6] = {};
  QLabel* FContractHint;
  QTableWidget* FDays;
  QPlainTextEdit* FSummary;
  QPushButton* FOpenButton;
  QPushButton* FDeleteButton;
  QPushButton* FExportButton;
  QPushButton* FCloseButton;
};
