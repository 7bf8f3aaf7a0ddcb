#include "ui/history_window.h"

#include <QCursor>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QToolTip>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

#include "measure/number_format.h"
#include "settings/program_settings.h"
#include "ui/components/message_service.h"
#include "ui/history_table_model.h"
#include "ui/line_test_window.h"
#include "ui/result_export.h"

namespace {
const QString Title = QStringLiteral("Verlauf");
const QColor DownloadColour(Qt::red);
const QColor UploadColour(0, 128, 0);
constexpr QSize DesignSize{900, 740};
// The contract's fields in the settings' order: download maximum, normal, minimum, then upload.
const QString RateNames[3] = {QStringLiteral("maximal"), QStringLiteral("normal"), QStringLiteral("minimal")};
const Qt::PenStyle RateStyles[3] = {Qt::DashLine, Qt::DashDotLine, Qt::DashDotDotLine};
// The days the contract's check looks back on, today included.
constexpr int CheckedDays = 14;
// How many points either side of the pointer's time a tooltip looks at for the nearest one.
constexpr int NearPoints = 40;
// Up to so many tests each has a dot on its line.
constexpr int MarkedPoints = 400;

QString RateText(std::optional<double> mbit) {
  return mbit ? PlainNumbers().toString(*mbit, 'f', QLocale::FloatingPointShortest) : QString();
}

// "3 von 5 (60 %)": a share of the day's counted tests; "–" where nothing was counted or no rate set.
QString Share(int reached, int tests, bool rateSet) {
  if (!rateSet || tests == 0) return QStringLiteral("–");
  return QStringLiteral("%1 von %2 (%3 %)").arg(reached).arg(tests).arg(FormatPercent(double(reached) / tests));
}

QString Undercut(int below, int tests, bool rateSet) {
  if (!rateSet || tests == 0) return QStringLiteral("–");
  return below > 0 ? QStringLiteral("ja (%1)").arg(below) : QStringLiteral("nein");
}

bool AskInBox(QWidget* parent, const QString& question) {
  QMessageBox box(QMessageBox::Question, Title, question, QMessageBox::NoButton, parent);
  QPushButton* yes = box.addButton(QStringLiteral("&Löschen"), QMessageBox::AcceptRole);
  QPushButton* no = box.addButton(QStringLiteral("&Abbrechen"), QMessageBox::RejectRole);
  box.setDefaultButton(no);
  box.exec();
  return box.clickedButton() == yes;
}
}  // namespace

THistoryWindow::THistoryWindow(history::THistoryStore& store, QWidget* parent)
    : THistoryWindow(nullptr, &store, parent) {}

THistoryWindow::THistoryWindow(QWidget* parent)
    : THistoryWindow(std::make_unique<history::THistoryStore>(), nullptr, parent) {}

THistoryWindow::~THistoryWindow() = default;

THistoryWindow::THistoryWindow(std::unique_ptr<history::THistoryStore> own, history::THistoryStore* store,
                               QWidget* parent)
    : QDialog(parent),
      FOwnStore(std::move(own)),
      FStore(store ? *store : *FOwnStore),
      FModel(new THistoryTableModel(this)),
      FShown(new THistorySortModel(*FModel, this)),
      FProblem(new QLabel(this)),
      FFilterLabel(new QLabel(QStringLiteral("&Server filtern:"), this)),
      FFilter(new QLineEdit(this)),
      FSplitter(new QSplitter(Qt::Vertical, this)),
      FTable(new QTableView),
      FTabs(new QTabWidget),
      FChart(new QChart),
      FDownload(new QLineSeries),
      FUpload(new QLineSeries),
      FTimeAxis(new QDateTimeAxis),
      FRateAxis(new QValueAxis),
      FContractHint(new QLabel),
      FDays(new QTableWidget),
      FSummary(new QPlainTextEdit) {
  setObjectName(QStringLiteral("HistoryWindow"));
  setWindowTitle(Title);
  setAccessibleName(Title);
  setModal(false);
  resize(DesignSize);
  Confirm = [this](const QString& question) { return AskInBox(this, question); };

  FProblem->setWordWrap(true);
  FProblem->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  FProblem->setAccessibleName(QStringLiteral("Hinweis zum Verlauf"));
  FProblem->hide();
  FFilterLabel->setBuddy(FFilter);
  FFilter->setAccessibleName(QStringLiteral("Server filtern"));
  FFilter->setClearButtonEnabled(true);
  FFilter->setPlaceholderText(QStringLiteral("Name oder Adresse"));

  FTable->setModel(FShown);
  FTable->setAccessibleName(QStringLiteral("Tests im Verlauf, neueste zuerst"));
  FTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  FTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FTable->setTabKeyNavigation(false);
  FTable->setWordWrap(false);
  FTable->verticalHeader()->hide();
  // Rows of one height and columns sized once: nothing measures ten thousand rows.
  FTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  FTable->verticalHeader()->setDefaultSectionSize(FTable->fontMetrics().height() + 6);
  QHeaderView* header = FTable->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(true);
  const QFontMetrics metrics = FTable->fontMetrics();
  for (int column = 0; column < THistoryTableModel::ColumnCount; ++column) {
    const QString sample = column == THistoryTableModel::DateColumn     ? QStringLiteral("00.00.0000 00:00")
                           : column == THistoryTableModel::ServerColumn ? QStringLiteral("server.example.net")
                                                                        : QStringLiteral("0000,0");
    header->resizeSection(column, std::max(metrics.horizontalAdvance(THistoryTableModel::Headers[column]),
                                           metrics.horizontalAdvance(sample)) +
                                      16);
  }
  FTable->setSortingEnabled(true);
  FTable->sortByColumn(THistoryTableModel::DateColumn, Qt::DescendingOrder);

  FDownload->setName(QStringLiteral("Download"));
  FDownload->setColor(DownloadColour);
  FUpload->setName(QStringLiteral("Upload"));
  FUpload->setColor(UploadColour);
  FTimeAxis->setTitleText(QStringLiteral("Datum"));
  FRateAxis->setTitleText(QStringLiteral("Mbit/s"));
  FRateAxis->setLabelFormat(QStringLiteral("%d"));
  FChart->addAxis(FTimeAxis, Qt::AlignBottom);
  FChart->addAxis(FRateAxis, Qt::AlignLeft);
  for (QLineSeries* line : {FDownload, FUpload}) {
    line->setMarkerSize(6);
    FChart->addSeries(line);
    line->attachAxis(FTimeAxis);
    line->attachAxis(FRateAxis);
  }
  connect(FDownload, &QLineSeries::hovered, this,
          [this](const QPointF& at, bool entered) { entered ? ShowNear(FDownload, false, at) : QToolTip::hideText(); });
  connect(FUpload, &QLineSeries::hovered, this,
          [this](const QPointF& at, bool entered) { entered ? ShowNear(FUpload, true, at) : QToolTip::hideText(); });
  FChart->legend()->setAlignment(Qt::AlignRight);  // room for the contract's lines by name
  FChart->setMargins(QMargins(2, 2, 2, 2));
  FChartView = new QChartView(FChart);
  FChartView->setRenderHint(QPainter::Antialiasing);
  FChartView->setAccessibleName(QStringLiteral("Download und Upload über die Zeit"));
  FChartView->setFocusPolicy(Qt::NoFocus);
  FChartView->setMinimumHeight(160);
  // Below the table, the chart and the contract take turns, each with the room it needs.
  auto* contract = new QWidget;
  CreateContract(contract);
  FTabs->addTab(FChartView, QStringLiteral("Dia&gramm"));
  FTabs->addTab(contract, QStringLiteral("&Vertrag"));
  FTabs->setAccessibleName(QStringLiteral("Diagramm und Vertrag"));
  FSplitter->addWidget(FTable);
  FSplitter->addWidget(FTabs);
  FSplitter->setStretchFactor(0, 1);
  FSplitter->setStretchFactor(1, 1);
  FSplitter->setChildrenCollapsible(false);
  FSplitter->setSizes({DesignSize.height() * 2 / 5, DesignSize.height() * 3 / 5});

  auto* buttons = new QDialogButtonBox(this);
  FOpenButton = buttons->addButton(QStringLiteral("Ö&ffnen"), QDialogButtonBox::ActionRole);
  FDeleteButton = buttons->addButton(QStringLiteral("&Löschen"), QDialogButtonBox::ActionRole);
  FExportButton = buttons->addButton(QStringLiteral("&Exportieren …"), QDialogButtonBox::ActionRole);
  FCloseButton = buttons->addButton(QStringLiteral("S&chließen"), QDialogButtonBox::RejectRole);
  // Enter in the table opens its row: no button may take it as the dialog's default.
  for (QPushButton* button : {FOpenButton, FDeleteButton, FExportButton, FCloseButton}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  FOpenButton->setToolTip(QStringLiteral("Zeigt den ausgewählten Test, wie er abgeschlossen wurde (Eingabetaste)"));
  FDeleteButton->setToolTip(QStringLiteral("Löscht die ausgewählten Tests aus dem Verlauf (Entf)"));
  FExportButton->setToolTip(QStringLiteral("Speichert die angezeigten Tests als CSV-Tabelle"));
  connect(FOpenButton, &QPushButton::clicked, this, [this] {
    if (FTable->currentIndex().isValid()) OpenRow(FTable->currentIndex().row());
  });
  connect(FDeleteButton, &QPushButton::clicked, this, &THistoryWindow::DeleteSelected);
  connect(FExportButton, &QPushButton::clicked, this, &THistoryWindow::Export);
  connect(FCloseButton, &QPushButton::clicked, this, &QDialog::close);

  FTable->installEventFilter(this);  // Del deletes the selected rows
  connect(FTable, &QTableView::activated, this, [this](const QModelIndex& index) { OpenRow(index.row()); });
  connect(FTable->selectionModel(), &QItemSelectionModel::selectionChanged, this, &THistoryWindow::UpdateButtons);
  connect(FFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
    FShown->SetServerFilter(text);
    DrawChart();
    UpdateButtons();
  });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FProblem);
  auto* filter = new QHBoxLayout;
  filter->addWidget(FFilterLabel);
  filter->addWidget(FFilter, 1);
  layout->addLayout(filter);
  layout->addWidget(FSplitter, 1);
  layout->addWidget(buttons);

  setTabOrder(FFilter, FTable);
  setTabOrder(FTable, FTabs);
  QWidget* previous = FTabs;
  for (QWidget* next :
       std::initializer_list<QWidget*>{FRates[0], FRates[1], FRates[2], FRates[3], FRates[4], FRates[5], FDays,
                                       FSummary, FOpenButton, FDeleteButton, FExportButton, FCloseButton}) {
    setTabOrder(previous, next);
    previous = next;
  }
  LoadContract();
}

bool THistoryWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FTable && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Delete)) {
    DeleteSelected();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void THistoryWindow::CreateContract(QWidget* box) {
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Zugesagte Raten in Mbit/s, jede nach Wunsch:"), box), 0, 0, 1, 5);
  static const QString Heads[3] = {QStringLiteral("Maximal"), QStringLiteral("Normalerweise verfügbar"),
                                   QStringLiteral("Minimal")};
  for (int column = 0; column < 3; ++column) {
    grid->addWidget(new QLabel(Heads[column], box), 1, column + 1);
  }
  const QString directions[2] = {QStringLiteral("Download"), QStringLiteral("Upload")};
  for (int direction = 0; direction < 2; ++direction) {
    auto* label = new QLabel(QStringLiteral("&%1:").arg(directions[direction]), box);
    grid->addWidget(label, direction + 2, 0);
    for (int kind = 0; kind < 3; ++kind) {
      const int index = direction * 3 + kind;
      auto* field = new QLineEdit(box);
      field->setObjectName(TProgramSettings::ContractRateNames[index]);
      field->setAccessibleName(QStringLiteral("%1 %2 (Mbit/s)").arg(directions[direction], Heads[kind].toLower()));
      field->setMaximumWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("00000,00")) + 16);
      field->setAlignment(Qt::AlignRight);
      connect(field, &QLineEdit::editingFinished, this, [this, index] { RateEdited(index); });
      FRates[index] = field;
      grid->addWidget(field, direction + 2, kind + 1);
    }
    label->setBuddy(FRates[direction * 3]);
  }
  grid->setColumnStretch(4, 1);

  FContractHint->setText(QStringLiteral(
      "Mit den Raten Ihres Vertrags zeigt das Fenster hier, wie die Tests der letzten 14 Tage dazu stehen."));
  FContractHint->setWordWrap(true);
  FDays->setObjectName(QStringLiteral("ContractDays"));
  FDays->setAccessibleName(QStringLiteral("Prüfung je Tag"));
  FDays->setColumnCount(8);
  FDays->setHorizontalHeaderLabels({QStringLiteral("Tag"), QStringLiteral("Tests"),
                                    QStringLiteral("Download\n≥ 90 % des Max."), QStringLiteral("Download\n≥ normal"),
                                    QStringLiteral("Download\nunter Min."), QStringLiteral("Upload\n≥ 90 % des Max."),
                                    QStringLiteral("Upload\n≥ normal"), QStringLiteral("Upload\nunter Min.")});
  FDays->verticalHeader()->hide();
  FDays->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FDays->setSelectionBehavior(QAbstractItemView::SelectRows);
  FDays->setTabKeyNavigation(false);
  FDays->setMinimumHeight(90);
  FDays->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  FDays->verticalHeader()->setDefaultSectionSize(FDays->fontMetrics().height() + 6);
  FDays->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  FSummary->setObjectName(QStringLiteral("ContractSummary"));
  FSummary->setAccessibleName(QStringLiteral("Zusammenfassung der Vertragsprüfung"));
  FSummary->setReadOnly(true);
  FSummary->setTabChangesFocus(true);
  FSummary->setMinimumHeight(FSummary->fontMetrics().lineSpacing() * 4);

  auto* layout = new QVBoxLayout(box);
  layout->addLayout(grid);
  layout->addWidget(FContractHint);
  layout->addWidget(FDays, 1);
  layout->addWidget(FSummary, 1);
}

void THistoryWindow::Open() {
  if (isVisible()) {
    Reload();
  } else {
    show();  // reads the history
    FTable->setFocus();
  }
  raise();
  activateWindow();
}

void THistoryWindow::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) Reload();
  QDialog::showEvent(event);
}

void THistoryWindow::Reload() {
  const bool open = FStore.IsOpen();
  std::vector<history::TTestRow> rows;
  QString problem;
  if (!open) {
    problem = FStore.OpenError().isEmpty() ? QStringLiteral("Der Verlauf „%1“ ist nicht verfügbar.").arg(FStore.Path())
                                           : FStore.OpenError();
  } else {
    rows = FStore.Tests();
    if (!FStore.Error().isEmpty()) problem = FStore.Error();
    // A history only read says so for as long as the window shows it; one this window opened
    // itself tells here what the main window would have told once.
    else if (FStore.ReadOnly() || FOwnStore)
      problem = FStore.Notice();
  }
  FProblem->setText(problem);
  FProblem->setVisible(!problem.isEmpty());
  for (QWidget* part :
       {static_cast<QWidget*>(FSplitter), static_cast<QWidget*>(FFilter), static_cast<QWidget*>(FFilterLabel)})
    part->setVisible(open);
  FModel->SetRows(std::move(rows));
  DrawChart();
  EvaluateContract();
  UpdateButtons();
}

void THistoryWindow::UpdateButtons() {
  const bool selected = FTable->selectionModel()->hasSelection();
  FOpenButton->setEnabled(selected);
  FDeleteButton->setEnabled(selected && FStore.IsOpen() && !FStore.ReadOnly());
  FExportButton->setEnabled(FShown->rowCount() > 0);
}

void THistoryWindow::LoadContract() {
  try {
    TProgramSettings settings;
    for (int index = 0; index < 6; ++index)
      FRates[index]->setText(
          RateText(history::ParseRate(settings.ContractRate(TProgramSettings::ContractRateNames[index]))));
  } catch (...) {
    // Settings that cannot be read leave the contract empty; the history itself is unaffected.
  }
}

void THistoryWindow::RateEdited(int index) {
  const std::optional<double> rate = history::ParseRate(FRates[index]->text());
  FRates[index]->setText(RateText(rate));
  try {
    TProgramSettings().WriteContractRate(TProgramSettings::ContractRateNames[index], history::RateSetting(rate));
  } catch (...) {
    // Not kept for the next start, but in force for this one.
  }
  DrawChart();
  EvaluateContract();
}

history::TContract THistoryWindow::Contract() const {
  history::TContract contract;
  history::TContractRates* sides[2] = {&contract.Download, &contract.Upload};
  for (int direction = 0; direction < 2; ++direction) {
    sides[direction]->Max = history::ParseRate(FRates[direction * 3]->text());
    sides[direction]->Normal = history::ParseRate(FRates[direction * 3 + 1]->text());
    sides[direction]->Min = history::ParseRate(FRates[direction * 3 + 2]->text());
  }
  return contract;
}

std::vector<int> THistoryWindow::ChartRows() const {
  std::vector<int> rows;
  const QString filter = FShown->ServerFilter();
  const auto& all = FModel->Rows();
  for (int row = static_cast<int>(all.size()) - 1; row >= 0; --row) {
    if (THistorySortModel::Matches(all[static_cast<std::size_t>(row)], filter)) rows.push_back(row);
  }
  std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) { return FModel->Row(a).Start < FModel->Row(b).Start; });
  // Tests against this computer or the local network say nothing of the line and would dwarf it:
  // the chart draws them only when there is nothing else.
  const auto local = [&](int row) { return history::IsLocalAddress(FModel->Row(row).Address); };
  if (!std::all_of(rows.begin(), rows.end(), local))
    rows.erase(std::remove_if(rows.begin(), rows.end(), local), rows.end());
  return rows;
}

void THistoryWindow::DrawChart() {
  QList<QPointF> download, upload;
  FDownloadTests.clear();
  FUploadTests.clear();
  FHighestRate = 10;  // an empty chart, or one of slow lines, still has an axis of whole numbers
  const std::vector<int> rows = ChartRows();
  for (const int row : rows) {
    const history::TTestRow& test = FModel->Row(row);
    const double at = static_cast<double>(test.Start.toMSecsSinceEpoch());
    if (test.DownloadMbit && std::isfinite(*test.DownloadMbit)) {
      download << QPointF(at, *test.DownloadMbit);
      FDownloadTests.push_back(row);
      FHighestRate = std::max(FHighestRate, *test.DownloadMbit);
    }
    if (test.UploadMbit && std::isfinite(*test.UploadMbit)) {
      upload << QPointF(at, *test.UploadMbit);
      FUploadTests.push_back(row);
      FHighestRate = std::max(FHighestRate, *test.UploadMbit);
    }
  }
  FDownload->replace(download);
  FUpload->replace(upload);
  // Each test a dot, as long as the dots stay apart; beyond that the lines alone.
  for (QLineSeries* line : {FDownload, FUpload}) line->setPointsVisible(line->count() <= MarkedPoints);

  QDateTime from = rows.empty() ? QDateTime::currentDateTime().addDays(-1) : FModel->Row(rows.front()).Start;
  QDateTime to = rows.empty() ? QDateTime::currentDateTime() : FModel->Row(rows.back()).Start;
  if (from.secsTo(to) < 3600) {  // a single test, or a few close together, in the middle of two hours
    from = from.addSecs(-3600);
    to = to.addSecs(3600);
  }
  const qint64 days = from.daysTo(to);
  if (days >= 2) {  // whole days, a tick at each midnight up to a week, so no date shows twice
    from = from.date().startOfDay();
    to = to.date().addDays(1).startOfDay();
  }
  FTimeAxis->setRange(from, to);
  FTimeAxis->setFormat(days >= 2 ? QStringLiteral("dd.MM.") : QStringLiteral("dd.MM. HH:mm"));
  FTimeAxis->setTickCount(days >= 2 ? static_cast<int>(std::min<qint64>(from.daysTo(to), 7)) + 1 : 5);
  ShowContractLines(static_cast<double>(from.toMSecsSinceEpoch()), static_cast<double>(to.toMSecsSinceEpoch()));
  FRateAxis->setRange(0, FHighestRate * 1.1);
  FRateAxis->applyNiceNumbers();
  FChartView->setAccessibleDescription(
      QStringLiteral("%1 Tests von %2 bis %3").arg(rows.size()).arg(GermanDateTime(from), GermanDateTime(to)));
}

void THistoryWindow::ShowContractLines(double from, double to) {
  for (QLineSeries* line : FContractLines) {
    FChart->removeSeries(line);
    delete line;
  }
  FContractLines.clear();
  const history::TContract contract = Contract();
  const std::pair<const history::TContractRates*, QString> sides[2] = {{&contract.Download, QStringLiteral("Download")},
                                                                       {&contract.Upload, QStringLiteral("Upload")}};
  for (int direction = 0; direction < 2; ++direction) {
    const auto& [rates, name] = sides[direction];
    const std::optional<double> values[3] = {rates->Max, rates->Normal, rates->Min};
    for (int kind = 0; kind < 3; ++kind) {
      if (!values[kind]) continue;
      auto* line = new QLineSeries;
      line->setName(QStringLiteral("Vertrag %1 %2").arg(name, RateNames[kind]));
      line->setPen(QPen(direction == 0 ? DownloadColour : UploadColour, 1.5, RateStyles[kind]));
      line->append(from, *values[kind]);
      line->append(to, *values[kind]);
      FChart->addSeries(line);
      line->attachAxis(FTimeAxis);
      line->attachAxis(FRateAxis);
      FContractLines << line;
      FHighestRate = std::max(FHighestRate, *values[kind]);
    }
  }
}

QString THistoryWindow::PointToolTip(bool upload, int index) const {
  const std::vector<int>& tests = upload ? FUploadTests : FDownloadTests;
  if (index < 0 || index >= static_cast<int>(tests.size())) return {};
  const history::TTestRow& test = FModel->Row(tests[static_cast<std::size_t>(index)]);
  const QString server = test.Address.isEmpty() || test.Address == test.Server
                             ? test.Server
                             : QStringLiteral("%1 (%2)").arg(test.Server, test.Address);
  return QStringLiteral("Test vom %1\nServer: %2\n%3: %4 Mbit/s")
      .arg(GermanDateTime(test.Start), server, upload ? QStringLiteral("Upload") : QStringLiteral("Download"),
           FormatFixed1(upload ? test.UploadMbit : test.DownloadMbit));
}

// The tooltip of the point nearest the pointer on the screen: the line's points are in time order,
// so only those about the pointer's time are measured.
void THistoryWindow::ShowNear(QLineSeries* line, bool upload, const QPointF& at) {
  const QList<QPointF> points = line->points();
  if (points.isEmpty()) return;
  const auto after = std::lower_bound(points.begin(), points.end(), at.x(),
                                      [](const QPointF& point, double x) { return point.x() < x; });
  const int middle = static_cast<int>(after - points.begin());
  const QPointF pointer = FChart->mapToPosition(at, line);
  int nearest = -1;
  double best = 0;
  for (int i = std::max(0, middle - NearPoints); i < std::min<int>(points.size(), middle + NearPoints); ++i) {
    const QPointF offset = FChart->mapToPosition(points[i], line) - pointer;
    const double distance = QPointF::dotProduct(offset, offset);
    if (nearest < 0 || distance < best) {
      nearest = i;
      best = distance;
    }
  }
  QToolTip::showText(QCursor::pos(), PointToolTip(upload, nearest), FChartView);
}

void THistoryWindow::EvaluateContract() {
  const history::TContract contract = Contract();
  const bool any = !contract.Empty();
  FContractHint->setVisible(!any);
  FDays->setVisible(any);
  FSummary->setVisible(any);
  if (!any) return;
  const std::vector<history::TDayEvaluation> days =
      history::EvaluateDays(FModel->Rows(), contract, QDate::currentDate(), CheckedDays);
  FDays->setRowCount(static_cast<int>(days.size()));
  for (int row = 0; row < static_cast<int>(days.size()); ++row) {
    const history::TDayEvaluation& day = days[static_cast<std::size_t>(row)];
    const int counted = std::max(day.Download.Tests, day.Upload.Tests);
    QStringList cells = {QLocale::c().toString(day.Day, QStringLiteral("dd.MM.yyyy")),
                         day.Local > 0 ? QStringLiteral("%1 (+%2 lokal, nicht gezählt)").arg(counted).arg(day.Local)
                                       : QString::number(counted)};
    const std::pair<const history::TDirectionDay*, const history::TContractRates*> sides[2] = {
        {&day.Download, &contract.Download}, {&day.Upload, &contract.Upload}};
    for (const auto& [figures, rates] : sides) {
      cells << Share(figures->ReachedNinetyOfMax, figures->Tests, rates->Max.has_value())
            << Share(figures->ReachedNormal, figures->Tests, rates->Normal.has_value())
            << Undercut(figures->BelowMin, figures->Tests, rates->Min.has_value());
    }
    for (int column = 0; column < cells.size(); ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setTextAlignment(column == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
      FDays->setItem(row, column, item);
    }
  }
  FSummary->setPlainText(history::ContractSummary(days, contract));
}

void THistoryWindow::OpenRow(int row) {
  if (row < 0 || row >= FShown->rowCount()) return;
  const int source = FShown->mapToSource(FShown->index(row, 0)).row();
  const std::optional<linetest::TResult> result = FStore.LoadTest(FModel->Row(source).Id);
  if (!result) {
    const QString why =
        FStore.Error().isEmpty() ? QStringLiteral("Der Test ist nicht mehr im Verlauf.") : FStore.Error();
    TMessageService::Show({why, Title, QMessageBox::Warning}, this);
    return Reload();
  }
  if (!FResultWindow) FResultWindow = new TLineTestWindow(*this, this);
  FResultWindow->ShowStoredResult(*result);
}

std::vector<history::TTestRow> THistoryWindow::ShownRows() const {
  std::vector<history::TTestRow> rows;
  rows.reserve(static_cast<std::size_t>(FShown->rowCount()));
  for (int row = 0; row < FShown->rowCount(); ++row)
    rows.push_back(FModel->Row(FShown->mapToSource(FShown->index(row, 0)).row()));
  return rows;
}

void THistoryWindow::DeleteSelected() {
  if (!FStore.IsOpen() || FStore.ReadOnly()) return;
  QList<std::int64_t> ids;
  const QModelIndexList selected = FTable->selectionModel()->selectedRows();
  for (const QModelIndex& index : selected) ids << FModel->Row(FShown->mapToSource(index).row()).Id;
  if (ids.isEmpty()) return;
  const history::TTestRow& first = FModel->Row(FShown->mapToSource(selected.first()).row());
  const QString question = ids.size() == 1
                               ? QStringLiteral("Den Test vom %1 gegen %2 aus dem Verlauf löschen?")
                                     .arg(GermanDateTime(first.Start), first.Server)
                               : QStringLiteral("Die %1 ausgewählten Tests aus dem Verlauf löschen?").arg(ids.size());
  if (!Confirm(question + QStringLiteral("\n\nDas lässt sich nicht rückgängig machen."))) return;
  if (!FStore.DeleteTests(ids)) TMessageService::Show({FStore.Error(), Title, QMessageBox::Warning}, this);
  Reload();
}

void THistoryWindow::Export() {
  // A copy: the history may be read afresh while the save dialog is open.
  const std::vector<history::TTestRow> rows = ShownRows();
  if (rows.empty()) return;
  SaveFileAs(this, QStringLiteral("Verlauf exportieren"),
             ProposedSavePath(QStringLiteral("Verlauf"), QDateTime::currentDateTime(), QStringLiteral(".csv")),
             QStringLiteral("Tabelle (*.csv)"),
             [rows](const QString&, QIODevice& file) { return file.write(HistoryCsv(rows)) >= 0; });
}
