#include "ui/main_window.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>

#include <cmath>
#include <utility>

#include "base/application_exception.h"
#include "base/int_conversion.h"
#include "base/tcp_port.h"
#include "measure/measure_texts.h"
#include "measure/measurement_counters.h"
#include "settings/program_settings.h"
#include "ui/about_box.h"
#include "ui/components/app_icon.h"
#include "ui/components/control_layout.h"
#include "ui/components/glyphs.h"
#include "ui/components/message_service.h"
#include "ui/history/history_store.h"
#include "ui/history_window.h"
#include "ui/line_test_window.h"
#include "ui/measurement_details.h"
#include "ui/rate_chart.h"
#include "ui/result_export.h"
#include "ui/window_texts.h"

namespace {
// The version the history notes beside each test and run.
QString ProgramVersion() {
  const QString version = QCoreApplication::applicationVersion();
  return version.isEmpty() ? QStringLiteral("1.0") : version;
}

// Runs a handler from a widget signal without letting any exception reach the event loop.
template <typename Fn>
auto Guarded(Fn fn) {
  return [fn] { RunGuarded(fn); };
}

// The distances the design keeps between neighbouring controls. A control that a larger desktop
// font makes grow pushes its neighbour by as much, so these distances stay where the design's
// coordinates no longer can.
constexpr int LabelFieldGap = 9;      // the server's and the port's label to their fields
constexpr int BlockSizeLabelGap = 7;  // "Blockgröße:" to its field
constexpr int FieldButtonsGap = 11;   // the server field to the buttons below it
constexpr int StartStopGap = 5;       // Start and Stop belong together
constexpr int ButtonGap = 13;         // Stop to Info / Hilfe, and Info / Hilfe to the expert panel
constexpr int FieldPanelGap = 15;     // the server field to the expert panel
constexpr int BlockSizePortGap = 23;  // the block size field to the port's label
constexpr int PanelTitleGap = 6;      // the expert panel's title to its fields
constexpr int PanelMargin = 16;       // the expert panel's room right of and below its fields
constexpr int PanelRowGap = 4;        // block size and port to the direction below them
constexpr int ChartGap = 7;           // the buttons and the expert panel to the chart
constexpr int ChartRightMargin = 15;  // the chart to the window's right edge
constexpr int ChartBottomMargin = 9;  // the chart to the status bar
// Room in status panel 0 beyond its longest text and its frame, so the text never touches it.
constexpr int StatusTextPadding = 8;
// What panel 0 leaves of a narrow window, so that panel 1 and the size grip stay in view.
constexpr int StatusPanel1Room = 40;
// Panel 1's text keeps this far from its frame.
constexpr int StatusTextInset = 4;
}  // namespace

TForm1::TForm1(QWidget* parent)
    : TForm(parent),
      ClientSocket1(this),
      Controller(*this, ClientSocket1, this),
      Series1(Controller.Run.Series1),
      BottomAxis(Controller.Run.BottomAxis),
      LeftAxis(Controller.Run.LeftAxis),
      Sampler(Controller.Run.Sampler),
      History(Controller.Run.History),
      WndProp1(this) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(Caption);
  setWindowIcon(AppIcon());
  ClientSocket1.setObjectName(QStringLiteral("ClientSocket1"));
  ClientSocket1.SetPort(DefaultPort);
  CreateControls();
  CreateStatusBar();
  setFont(DesignFont());
  LayoutControls();
  ApplyDesignSize();
  connect(&Controller.Run, &TMeasurementRun::SeriesChanged, this, [this] { Chart1->SyncFromModel(); });
  connect(&Controller.Run, &TMeasurementRun::AverageChanged, this, &TForm1::SetAverageText);
  connect(&Controller.Run, &TMeasurementRun::PointAdded, this, &TForm1::DescribeChart);
  Export = new TResultExport(*Chart1, History, Controller.Run.Details, this);
  connect(Chart1, &TRateChart::ContextMenuRequested, this, [this](const QPoint& at) { Export->ShowMenu(at); });
  CreateDetails();
  CreateRoundTripEntry();
  CreateLineTestEntry();
  CreateHistoryEntries();

  OnDestroy = [this](QObject*) { FormDestroy(); };
  WndProp1.setObjectName(QStringLiteral("WndProp1"));
  WndProp1.SetKey(TProgramSettings::Key);
  WndProp1.SetSection(QStringLiteral("MainForm"));
  WndProp1.SetOptions(wpSize | wpPosition | wpWndState);
  WndProp1.SetAutoLoad(true);
  FormCreate();
  AboutBox = new TAboutBox(*this);
}

TForm1::~TForm1() {
  DoDestroy();
  // The history's window reads the store, which goes before the window's children do.
  delete HistoryWindow;
  HistoryWindow = nullptr;
}

void TForm1::BitBtn1Click() { AboutBox->exec(); }

void TForm1::CreateControls() {
  auto* client = new QWidget(this);
  setCentralWidget(client);
  client->installEventFilter(this);  // the chart follows the area's own size, once it is known

  Label2 = Named(new QLabel(texts::ServerLabel, client), "Label2");
  Edit1 = Named(new QLineEdit(client), "Edit1");
  Chart1 = Named(new TRateChart(Series1, BottomAxis, LeftAxis, client), "Chart1");
  Button1 = Named(new QPushButton(StartGlyph(), texts::StartCaption, client), "Button1");
  Button1->setDefault(true);
  Button2 = Named(new QPushButton(StopGlyph(), texts::StopCaption, client), "Button2");
  Button2->setEnabled(false);
  BitBtn1 = Named(new QPushButton(texts::InfoHelpCaption, client), "BitBtn1");

  ProPanel = Named(new QGroupBox(texts::ExpertPanelTitle, client), "ProPanel");
  Label1 = Named(new QLabel(texts::BlockSizeLabel, ProPanel), "Label1");
  Label3 = Named(new QLabel(texts::PortLabel, ProPanel), "Label3");
  Edit2 = Named(new QLineEdit(ProPanel), "Edit2");
  Edit3 = Named(new QLineEdit(ProPanel), "Edit3");
  Label4 = Named(new QLabel(texts::DirectionLabel, ProPanel), "Label4");
  ComboBox1 = Named(new QComboBox(ProPanel), "ComboBox1");
  ComboBox1->addItems({texts::SendDirection, texts::ReceiveDirection});
  ProPanel->hide();
  // Screen readers name each field by its label; a label without "&" adds no accelerator.
  Label2->setBuddy(Edit1);
  Label1->setBuddy(Edit2);
  Label3->setBuddy(Edit3);
  // "&Richtung:" gives the list Alt+R; screen readers name it by this label (a list's own name on
  // Linux is its current entry).
  Label4->setBuddy(ComboBox1);
  Chart1->setAccessibleName(texts::ChartTitle);

  setTabOrder(Edit1, Chart1);  // the chart's menu is one Tab from the server field
  setTabOrder(Chart1, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, BitBtn1);
  setTabOrder(BitBtn1, Edit2);
  setTabOrder(Edit2, Edit3);
  setTabOrder(Edit3, ComboBox1);
  setFocusProxy(Edit1);
  Edit1->setFocus();

  connect(Button1, &QPushButton::clicked, this, Guarded([this] { Controller.Button1Click(Button1); }));
  connect(Button2, &QPushButton::clicked, this, Guarded([this] { Controller.Button2Click(Button2); }));
  connect(BitBtn1, &QPushButton::clicked, this, Guarded([this] { BitBtn1Click(); }));
}

void TForm1::CreateStatusBar() {
  StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
  StatusBar1->setSizeGripEnabled(true);
  StatusBar1->setFont(DesignFont(true));
  setStatusBar(StatusBar1);
  StatusPanel0 = Named(new QLabel(StatusBar1), "StatusPanel0");
  StatusPanel1 = Named(new QLabel(StatusBar1), "StatusPanel1");
  for (QLabel* panel : {StatusPanel0, StatusPanel1}) panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  StatusBar1->addWidget(StatusPanel0);
  StatusBar1->addWidget(StatusPanel1, 1);
}

// Places the controls at their design positions, moving a control right or down only as far as
// a larger desktop font makes its neighbour grow, so nothing is clipped or overlaps.
void TForm1::LayoutControls() {
  const QSize edit1 = FieldSize(Edit1, 121, 21, QStringLiteral("000.000.000.000"));
  const QSize label2 = AtLeast(Label2, 111, 13);
  Edit1->setGeometry(std::max(136, 16 + label2.width() + LabelFieldGap), 8, edit1.width(), edit1.height());
  Label2->setGeometry(16, 8 + (edit1.height() - label2.height()) / 2, label2.width(), label2.height());

  const int buttonTop = std::max(40, Edit1->geometry().bottom() + 1 + FieldButtonsGap);
  int left = 16;
  for (auto [button, gap] : {std::pair{Button1, StartStopGap}, {Button2, ButtonGap}, {BitBtn1, ButtonGap}}) {
    const QSize size = ButtonSize(button, 75, 25);
    button->setGeometry(left, buttonTop, size.width(), size.height());
    left += size.width() + gap;
  }

  const QSize label1 = AtLeast(Label1, 57, 13);
  const QSize label3 = AtLeast(Label3, 39, 13);
  const QSize edit2 = FieldSize(Edit2, 57, 21, QStringLiteral("0000000"));
  const int fieldTop = std::max(20, ProPanel->fontMetrics().height() + PanelTitleGap);
  const int labelTop = fieldTop + (edit2.height() - label1.height()) / 2;
  Label1->setGeometry(16, labelTop, label1.width(), label1.height());
  Edit2->setGeometry(std::max(80, 16 + label1.width() + BlockSizeLabelGap), fieldTop, edit2.width(), edit2.height());
  Label3->setGeometry(std::max(160, Edit2->geometry().right() + 1 + BlockSizePortGap), labelTop, label3.width(),
                      label3.height());
  Edit3->setGeometry(std::max(208, Label3->geometry().right() + 1 + LabelFieldGap), fieldTop, edit2.width(),
                     edit2.height());
  // The direction on a row of its own, lined up with the block size: the first row has no room.
  const QSize label4 = AtLeast(Label4, 57, 13);
  const QSize combo = ComboBox1->sizeHint();
  const int comboTop = Edit2->geometry().bottom() + 1 + PanelRowGap;
  Label4->setGeometry(16, comboTop + (combo.height() - label4.height()) / 2, label4.width(), label4.height());
  ComboBox1->setGeometry(std::max(Edit2->x(), 16 + label4.width() + BlockSizeLabelGap), comboTop, combo.width(),
                         combo.height());
  const int panelLeft =
      std::max({272, Edit1->geometry().right() + 1 + FieldPanelGap, BitBtn1->geometry().right() + 1 + ButtonGap});
  ProPanel->setGeometry(
      panelLeft, 8,
      std::max({345, Edit3->geometry().right() + 1 + PanelMargin, ComboBox1->geometry().right() + 1 + PanelMargin}),
      std::max(57, ComboBox1->geometry().bottom() + 1 + PanelMargin));

  FChartTop = std::max({72, BitBtn1->geometry().bottom() + 1 + ChartGap, ProPanel->geometry().bottom() + 1 + ChartGap});

  // Panel 0 is 350 pixels wide, or as wide as its longest text needs with the desktop's font.
  const QFontMetrics status = StatusPanel0->fontMetrics();
  int statusText = 0;
  for (const QString& text : {texts::IdleStatus, texts::MeasuringStatus, texts::ConnectingStatus("000.000.000.000")})
    statusText = std::max(statusText, status.horizontalAdvance(text));
  FStatusPanel0Width = std::max(350, statusText + 2 * StatusPanel0->frameWidth() + StatusTextPadding);
  StatusBar1->setMinimumHeight(19);
  FitStatusPanels();
  LayoutChart();
}

void TForm1::FitStatusPanels() {
  // In a window narrower than the first panel, the panel gives way rather than the window growing.
  StatusPanel0->setFixedWidth(std::max(0, std::min(FStatusPanel0Width, width() - StatusPanel1Room)));
}

void TForm1::LayoutChart() {
  // The chart keeps its distances to all four edges of the area above the status bar.
  const QWidget* client = centralWidget();
  Chart1->setGeometry(16, FChartTop, std::max(0, client->width() - 16 - ChartRightMargin),
                      std::max(0, client->height() - FChartTop - ChartBottomMargin));
}

void TForm1::ApplyDesignSize() {
  SetMinimumOuterSize(MinimumOuterSize);
  SetOuterSize(DesignOuterSize);
}

void TForm1::CentreOnPrimaryScreen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  MoveOuter(CentredOn(screen->availableGeometry(), OuterSize()));
}

void TForm1::showEvent(QShowEvent* event) {
  // The window system's frame is known from here on: count it in the outer sizes before the
  // remembered placement is loaded on top.
  if (!FShown) ApplyDesignSize();
  TForm::showEvent(event);  // the first showing loads the remembered placement
  if (!FShown) {
    FShown = true;
    CentreOnPrimaryScreen();
  }
}

void TForm1::resizeEvent(QResizeEvent* event) {
  FitStatusPanels();
  TForm::resizeEvent(event);
  QMetaObject::invokeMethod(
      this, [this] { SetAverageText(FAverageText); }, Qt::QueuedConnection);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget() && event->type() == QEvent::Resize) LayoutChart();
  return TForm::eventFilter(watched, event);
}

void TForm1::changeEvent(QEvent* event) {
  TForm::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) LayoutControls();
}

// Enter clicks the button that has the focus, and otherwise the default button Start.
void TForm1::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return TForm::keyPressEvent(event);
  auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
  QPushButton* target = focused ? focused : Button1;
  if (target->isEnabled()) target->click();
  event->accept();
}

void TForm1::FormCreate() {
  HelpFile = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("korvaden.hlp"));
  Chart1->SetBottomLabelStep(10);
  SetStatusText(texts::IdleStatus);
  RunGuarded([this] { ReadProgramSettings(); });  // a bad value is shown; start-up goes on
}

// The access code in "ProMode" switches the expert mode on for this run, with the block size and
// port from the store.
void TForm1::ReadProgramSettings() {
  TProgramSettings settings;
  RoundTripAction->setChecked(settings.ShowRoundTrip());  // in every mode, never an error
  KeepRunsAction->setChecked(settings.KeepRuns());
  if (!settings.ExpertMode()) return;
  Counters.BlockSize = settings.BlockSize(Counters.BlockSize);
  // A stored port out of range is shown, so that Start can name it, but never used.
  const std::int32_t port = settings.Port(ClientSocket1.Port());
  if (IsValidPort(port)) ClientSocket1.SetPort(port);
  setWindowTitle(windowTitle() + texts::ExpertTitleSuffix);
  ProPanel->show();
  Edit2->setText(IntToStr(Counters.BlockSize));
  Edit3->setText(IntToStr(port));
  ComboBox1->setCurrentIndex(settings.Direction() == TDirection::Receive ? 1 : 0);
}

// What the expert fields hold at exit is kept, whether or not a Start used it; the first text
// that is no integer ends the writing, and nothing here is ever reported.
void TForm1::WriteProgramSettings() {
  // In every mode, first and on its own: neither the normal mode nor an expert field that is no
  // integer keeps the round-trip line's setting from being written.
  try {
    TProgramSettings().WriteShowRoundTrip(RoundTripAction->isChecked());
  } catch (...) {
  }
  try {
    TProgramSettings settings;
    if (ProPanel->isHidden()) return;
    // First: a field that is no integer ends the writing, and the direction is no field's text.
    settings.WriteDirection(DirectionChoice());
    settings.WriteExpertFields(Edit2->text(), Edit3->text(), ClientSocket1.Port());
  } catch (...) {
  }
}

void TForm1::FormDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  WriteProgramSettings();
  Controller.Shutdown();
}

QString TForm1::ServerText() const { return Edit1->text(); }
bool TForm1::ExpertPanelVisible() const { return !ProPanel->isHidden(); }
QString TForm1::BlockSizeText() const { return Edit2->text(); }
QString TForm1::PortText() const { return Edit3->text(); }
TDirection TForm1::DirectionChoice() const {
  return ComboBox1->currentIndex() == 1 ? TDirection::Receive : TDirection::Send;
}
// Start is disabled by each Start and enabled again once its run, or its attempt, has ended:
// where a run ends, whether by Stop, a break or an error, and only once for each.
void TForm1::SetStartEnabled(bool enabled) {
  Button1->setEnabled(enabled && !LineTestRunning());
  if (LineTestAction) LineTestAction->setEnabled(Button1->isEnabled());
  if (!enabled) {
    FRunPending = true;
    FRunBefore = History.Run().Start;
  } else if (std::exchange(FRunPending, false)) {
    RunGuarded([this] { KeepRun(); });
  }
}
void TForm1::SetStopEnabled(bool enabled) { Button2->setEnabled(enabled); }
void TForm1::SetStatusText(const QString& text) {
  StatusPanel0->setText(text);
  AnnounceChange(StatusPanel0);
}

// A status panel's new text reaches screen readers as a change of its name.
void TForm1::AnnounceChange(QLabel* panel) {
  QAccessibleEvent changed(panel, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&changed);
}

// For screen readers: the latest point, the average and the latest round trip (once the point's
// details are in).
void TForm1::DescribeChart() {
  // A run that has no point yet describes no point of the last one.
  if (Series1.Count() == 0) return Chart1->setAccessibleDescription(QString());
  const int last = Series1.Count() - 1;
  Chart1->setAccessibleDescription(texts::ChartDescription(
      Series1.XValues[last], Series1.YValues[last], Series1.Mean(), Controller.Run.Details.Summary().LatestRttMs,
      History.HasRun() ? History.Run().Direction : TDirection::Send));
}

void TForm1::SetAverageText(const QString& text) {
  // Panel 1 ends at the window's edge: in a narrow window the text is shortened visibly, never cut,
  // and the whole text stays at hand as the tooltip.
  FAverageText = text;
  StatusPanel1->setToolTip(text);
  StatusPanel1->setAccessibleName(text);  // whole, however short the panel shows it
  DescribeChart();
  const int room = std::max(0, StatusPanel1->contentsRect().width() - StatusTextInset);
  const QFontMetrics metrics = StatusPanel1->fontMetrics();
  if (metrics.horizontalAdvance(text) <= room) {
    StatusPanel1->setText(text);
    return;
  }
  // Shorten the words before the colon first: the figure is what the user looks for.
  const qsizetype colon = text.indexOf(QStringLiteral(": "));
  const QString figure = colon < 0 ? QString() : text.mid(colon + 1);
  const QString words = colon < 0 ? text : text.left(colon + 1);
  const int wordsRoom = std::max(0, room - metrics.horizontalAdvance(figure));
  StatusPanel1->setText(figure.isEmpty() || wordsRoom < metrics.horizontalAdvance(QStringLiteral("Du…:"))
                            ? metrics.elidedText(text, Qt::ElideLeft, room)
                            : metrics.elidedText(words, Qt::ElideRight, wordsRoom) + figure);
}
void TForm1::ShowErrorMessage(const QString& text) {
  TMessageService::Show({text, texts::ErrorCaption, QMessageBox::Warning}, this);
}

// The chart's menu opens the run's details; a point's tooltip gives its own.
void TForm1::CreateDetails() {
  Details = new TMeasurementDetails(Controller.Run, *Chart1, this);
  DetailsAction = new QAction(texts::DetailsEntry, this);
  connect(DetailsAction, &QAction::triggered, Details, &TMeasurementDetails::Open);
  Export->Menu()->addSeparator();
  Export->Menu()->addAction(DetailsAction);
  connect(Export->Menu(), &QMenu::aboutToShow, this, [this] { DetailsAction->setEnabled(History.Count() > 0); });
  Chart1->PointToolTip = [this](int index) {
    const double seconds = Series1.XValues[index];
    const auto elapsedMs = static_cast<std::uint32_t>(std::llround(seconds * 1000));
    return PointToolTipText(seconds, Series1.YValues[index], History.DetailsAt(elapsedMs));
  };
}

// The round trip of each point beside its rate, on demand: the chart stays as it was until asked.
void TForm1::CreateRoundTripEntry() {
  RoundTripAction = new QAction(texts::RoundTripEntry, this);
  RoundTripAction->setCheckable(true);
  connect(RoundTripAction, &QAction::toggled, Chart1, &TRateChart::SetRoundTripShown);
  Export->Menu()->addSeparator();
  Export->Menu()->addAction(RoundTripAction);
}

// The line test beside the measurement: one or the other runs, never both at once.
void TForm1::CreateLineTestEntry() {
  LineTest = new TLineTestWindow(*Chart1, this);
  LineTestAction = new QAction(texts::LineTestEntry, this);
  LineTestAction->setShortcut(texts::LineTestShortcut);
  connect(LineTestAction, &QAction::triggered, this, &TForm1::StartLineTest);
  Export->Menu()->addSeparator();
  Export->Menu()->addAction(LineTestAction);
  addAction(LineTestAction);  // the shortcut acts while the menu is closed, too
  connect(LineTest, &TLineTestWindow::RunningChanged, this, [this](bool running) {
    const bool idle = !running && !Controller.Measuring() && !Controller.HasWorker();
    Button1->setEnabled(idle);
    LineTestAction->setEnabled(idle);
  });
}

bool TForm1::LineTestRunning() const { return LineTest && LineTest->Running(); }

void TForm1::StartLineTest() {
  if (LineTestRunning() || Controller.Measuring() || Controller.HasWorker() || !Button1->isEnabled()) return;
  const QString server = Edit1->text().trimmed();
  if (server.isEmpty()) {
    ShowErrorMessage(texts::LineTestNeedsServer);
    return;
  }
  int port = DefaultPort;
  if (ExpertPanelVisible()) {
    const std::optional<std::int32_t> expertPort =
        IsIntegerBeyond32Bits(PortText()) ? std::nullopt : TryStrToInt(PortText());
    if (!expertPort || !IsValidPort(*expertPort)) {
      ShowErrorMessage(texts::PortOutOfRange(PortText().trimmed()));
      return;
    }
    port = *expertPort;
  }
  LineTest->StartTest(server, port);
}

void TForm1::CreateHistoryEntries() {
  HistoryAction = new QAction(texts::HistoryEntry, this);
  HistoryAction->setShortcut(texts::HistoryShortcut);
  connect(HistoryAction, &QAction::triggered, this, Guarded([this] { OpenHistory(); }));
  KeepRunsAction = new QAction(texts::KeepRunsEntry, this);
  KeepRunsAction->setCheckable(true);
  // Written as soon as it is switched: only the user switches it, never the start-up's reading.
  connect(KeepRunsAction, &QAction::triggered, this, [](bool kept) {
    try {
      TProgramSettings().WriteKeepRuns(kept);
    } catch (...) {
    }
  });
  Export->Menu()->addSeparator();
  Export->Menu()->addAction(HistoryAction);
  Export->Menu()->addAction(KeepRunsAction);
  addAction(HistoryAction);  // the shortcut acts while the menu is closed, too
  LineTest->KeepResult = [this](const linetest::TResult& result) { return KeepLineTest(result); };
}

history::THistoryStore& TForm1::HistoryStore() {
  if (!FHistoryStore) {
    FHistoryStore = std::make_unique<history::THistoryStore>();
    // Told once, after whatever needed the history (a run's end, say) is done.
    if (const QString notice = FHistoryStore->Notice(); !notice.isEmpty() && !FDestroyed)
      ShowLater({notice, texts::HistoryCaption, QMessageBox::Information});
  }
  return *FHistoryStore;
}

void TForm1::OpenHistory() {
  if (!HistoryWindow) HistoryWindow = new THistoryWindow(HistoryStore(), this);
  HistoryWindow->Open();
}

QString TForm1::KeepLineTest(const linetest::TResult& result) {
  history::THistoryStore& store = HistoryStore();
  if (!store.StoreTest(result, ProgramVersion())) return store.Error();
  if (HistoryWindow && HistoryWindow->isVisible()) HistoryWindow->Reload();
  return {};
}

void TForm1::KeepRun() {
  if (!KeepRunsAction->isChecked() || !History.HasRun() || History.Count() == 0) return;
  const TRunDescription& run = History.Run();
  // An attempt that never connected leaves the last run in the history, kept or not.
  if (run.Start == FRunBefore) return;
  history::TRunRecord record;
  record.Run = run;
  record.MeanKiBs = History.MeanRate();
  record.Points = static_cast<int>(History.Count());
  record.Csv = History.ToCsv(QLocale(), Controller.Run.Details.Summary());
  history::THistoryStore& store = HistoryStore();
  if (store.StoreRun(record, ProgramVersion()) || FDestroyed) return;
  // Told once the controller has finished with the run's end, not in the middle of it.
  ShowLater({store.Error(), texts::HistoryCaption, QMessageBox::Warning});
}

void TForm1::ShowLater(const TShownMessage& message) {
  QMetaObject::invokeMethod(
      this, [this, message] { TMessageService::Show(message, this); }, Qt::QueuedConnection);
}
