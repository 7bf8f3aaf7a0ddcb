#pragma once
// The main window: server field, Start, Stop, Info / Hilfe, the live rate chart, the status bar and
// the hidden expert panel. The measurement itself is run by the controller behind the buttons.

#include <QDateTime>

#include <memory>

#include "measure/chart_axis.h"
#include "measure/measurement_controller.h"
#include "measure/measurement_view.h"
#include "measure/rate_sampler.h"
#include "measure/rate_series.h"
#include "measure/run_history.h"
#include "net/client_socket.h"
#include "ui/components/form.h"
#include "ui/components/wnd_prop.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class TRateChart;
class TAboutBox;
class TResultExport;
class TMeasurementDetails;
class QAction;
class TLineTestWindow;
class THistoryWindow;
struct TShownMessage;
namespace history {
class THistoryStore;
}
namespace linetest {
struct TResult;
}

class TForm1 : public TForm, public TMeasurementView {
  Q_OBJECT

 public:
  static inline const QString Caption = QStringLiteral("Omvra Ratavel 1.0");
  static constexpr QSize DesignOuterSize{640, 480};
  static constexpr QSize MinimumOuterSize{360, 224};

  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // TMeasurementView
  QString ServerText() const override;
  bool ExpertPanelVisible() const override;
  QString BlockSizeText() const override;
  QString PortText() const override;
  TDirection DirectionChoice() const override;
  void SetStartEnabled(bool enabled) override;
  void SetStopEnabled(bool enabled) override;
  void SetStatusText(const QString& text) override;
  // Status panel 1; the full text, however much of it the panel can show.
  void SetAverageText(const QString& text);
  QString AverageText() const { return FAverageText; }
  void ShowErrorMessage(const QString& text) override;

  void FormCreate();
  // The window's destroy handler: writes the expert settings, then shuts the measurement down.
  // Runs once.
  void FormDestroy();

  TClientSocket ClientSocket1;
  TMeasurementController Controller;
  // The run's data lives with the controller; the window draws it under the design's names.
  TRateSeries& Series1;
  TChartAxis& BottomAxis;
  TChartAxis& LeftAxis;
  TRateSampler& Sampler;
  TRunHistory& History;
  TWndProp WndProp1;

  QLabel* Label2 = nullptr;
  QLineEdit* Edit1 = nullptr;
  TRateChart* Chart1 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QGroupBox* ProPanel = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QLineEdit* Edit3 = nullptr;
  // The run's direction below block size and port: sending (index 0) or receiving (index 1).
  QLabel* Label4 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLabel* StatusPanel0 = nullptr;
  QLabel* StatusPanel1 = nullptr;
  QString HelpFile = QStringLiteral("korvaden.hlp");
  // Created right after the window's own start-up, so it sees the final caption.
  TAboutBox* AboutBox = nullptr;
  // The chart's context menu and Ctrl+S.
  TResultExport* Export = nullptr;
  // The run's details, opened from the chart's menu; not modal.
  TMeasurementDetails* Details = nullptr;
  QAction* DetailsAction = nullptr;
  // Checkable: the chart's round-trip line, remembered as "ShowRoundTrip".
  QAction* RoundTripAction = nullptr;
  // The line test: the chart's menu and Ctrl+L open it in every mode, while no measurement runs.
  TLineTestWindow* LineTest = nullptr;
  QAction* LineTestAction = nullptr;
  // The history: the chart's menu and Ctrl+H open its window in every mode; created when first
  // opened.
  THistoryWindow* HistoryWindow = nullptr;
  QAction* HistoryAction = nullptr;
  // Checkable: every single measurement with a point goes into the history too, as "KeepRuns".
  QAction* KeepRunsAction = nullptr;

  void BitBtn1Click();
  // Tests the server in the server field, at the expert port in expert mode; refused with a message
  // when the field is empty or the port invalid.
  void StartLineTest();
  void OpenHistory();
  // The program's history, opened when first needed so that start-up never waits for it; what the
  // user must know of it is told once.
  history::THistoryStore& HistoryStore();

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void CreateStatusBar();
  void CreateDetails();
  void CreateRoundTripEntry();
  void CreateLineTestEntry();
  void CreateHistoryEntries();
  // Keeps a finished line test in the history; why that failed, or nothing.
  QString KeepLineTest(const linetest::TResult& result);
  // Keeps the run that has just ended, when the user asked for that and it has a point.
  void KeepRun();
  // A message box once the event loop is back, not in the middle of what caused it.
  void ShowLater(const TShownMessage& message);
  bool LineTestRunning() const;
  void DescribeChart();
  void LayoutControls();
  void LayoutChart();
  void FitStatusPanels();
  void AnnounceChange(QLabel* panel);
  void ApplyDesignSize();
  void CentreOnPrimaryScreen();
  void ReadProgramSettings();
  void WriteProgramSettings();

  int FChartTop = 72;
  int FStatusPanel0Width = 350;
  QString FAverageText;
  bool FShown = false;
  bool FDestroyed = false;
  std::unique_ptr<history::THistoryStore> FHistoryStore;
  // Between a Start and the run's end: the start of the run the history held before, so that an
  // attempt that never connected keeps nothing (each run's end comes once: see SetStartEnabled).
  bool FRunPending = false;
  QDateTime FRunBefore;
};
