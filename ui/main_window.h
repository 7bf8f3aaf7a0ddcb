#pragma once
// The main window: server field, Start, Stop, Info / Hilfe, the rate chart area, the status bar and
// the hidden expert panel. The measurement itself is run by the controller behind the buttons.

#include <QMainWindow>
#include <QPointF>
#include <QVector>

#include "client_socket.h"
#include "measurement_controller.h"
#include "measurement_view.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QFrame;

class TForm1 : public QMainWindow, public TMeasurementView {
  Q_OBJECT

 public:
  static inline const QString Caption = QStringLiteral("Omvra Ratavel 1.0");

  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // TMeasurementView
  QString ServerText() const override;
  bool ExpertPanelVisible() const override;
  QString BlockSizeText() const override;
  QString PortText() const override;
  void SetStartEnabled(bool enabled) override;
  void SetStopEnabled(bool enabled) override;
  void SetStatusText(const QString& text) override;
  void ClearSeries() override;
  void ShowErrorMessage(const QString& text) override;

  void FormCreate();
  // Runs once, before the window goes away: shuts the measurement down.
  void FormDestroy();

  TClientSocket ClientSocket1;
  TMeasurementController Controller;

  QLabel* Label2 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QFrame* Chart1 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QGroupBox* ProPanel = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLabel* StatusPanel0 = nullptr;
  QLabel* StatusPanel1 = nullptr;
  QString HelpFile = QStringLiteral("korvaden.hlp");
  QVector<QPointF> Series1Points;  // the chart's point list

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateControls();
  void LayoutChart();
  bool FDestroyed = false;
};
