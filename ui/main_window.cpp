#include "main_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>

#include "application.h"
#include "application_exception.h"
#include "message_service.h"

namespace {
template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// Runs a handler from a widget signal without letting any exception reach the event loop.
template <typename Fn>
auto Guarded(Fn fn) {
  return [fn] { RunGuarded(fn); };
}
}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), ClientSocket1(this), Controller(*this, ClientSocket1, this) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(Caption);
  ClientSocket1.setObjectName(QStringLiteral("ClientSocket1"));
  ClientSocket1.SetPort(2857);
  CreateControls();
  resize(640, 480);
  FormCreate();
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::CreateControls() {
  auto* client = new QWidget(this);
  setCentralWidget(client);

  Label2 = Named(new QLabel(QStringLiteral("Name / IP des Servers:"), client), "Label2");
  Label2->setGeometry(16, 12, 111, 13);
  Edit1 = Named(new QLineEdit(client), "Edit1");
  Edit1->setGeometry(136, 8, 121, 21);
  Chart1 = Named(new QFrame(client), "Chart1");
  Button1 = Named(new QPushButton(QStringLiteral("&Start"), client), "Button1");
  Button1->setGeometry(16, 40, 75, 25);
  Button1->setDefault(true);
  Button2 = Named(new QPushButton(QStringLiteral("St&op"), client), "Button2");
  Button2->setGeometry(96, 40, 75, 25);
  Button2->setEnabled(false);
  BitBtn1 = Named(new QPushButton(QStringLiteral("&Info / Hilfe"), client), "BitBtn1");
  BitBtn1->setGeometry(184, 40, 75, 25);

  ProPanel = Named(new QGroupBox(QStringLiteral(" Weitere Einstellungen: "), client), "ProPanel");
  ProPanel->setGeometry(272, 8, 345, 57);
  Label1 = Named(new QLabel(QStringLiteral("Blockgröße:"), ProPanel), "Label1");
  Label1->setGeometry(16, 24, 57, 13);
  Label3 = Named(new QLabel(QStringLiteral("Port-Nr.:"), ProPanel), "Label3");
  Label3->setGeometry(160, 24, 39, 13);
  Edit2 = Named(new QLineEdit(ProPanel), "Edit2");
  Edit2->setGeometry(80, 20, 57, 21);
  Edit3 = Named(new QLineEdit(ProPanel), "Edit3");
  Edit3->setGeometry(208, 20, 57, 21);
  ProPanel->hide();

  StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
  setStatusBar(StatusBar1);
  StatusPanel0 = Named(new QLabel(StatusBar1), "StatusPanel0");
  StatusPanel0->setFixedWidth(350);
  StatusPanel1 = Named(new QLabel(StatusBar1), "StatusPanel1");
  StatusBar1->addWidget(StatusPanel0);
  StatusBar1->addWidget(StatusPanel1, 1);

  setTabOrder(Edit1, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, BitBtn1);
  setTabOrder(BitBtn1, Edit2);
  setTabOrder(Edit2, Edit3);
  Edit1->setFocus();

  connect(Button1, &QPushButton::clicked, this, Guarded([this] { Controller.Button1Click(Button1); }));
  connect(Button2, &QPushButton::clicked, this, Guarded([this] { Controller.Button2Click(Button2); }));
  connect(Edit1, &QLineEdit::returnPressed, this, Guarded([this] {
            if (Button1->isEnabled()) Controller.Button1Click(Button1);
          }));
}

void TForm1::FormCreate() {
  HelpFile = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("korvaden.hlp"));
  SetStatusText(texts::IdleStatus);
}

void TForm1::FormDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  Controller.Shutdown();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  LayoutChart();
}

void TForm1::LayoutChart() {
  // The chart keeps its distances to all four edges of the client area above the status bar.
  const QWidget* client = centralWidget();
  Chart1->setGeometry(16, 72, qMax(0, client->width() - 16 - 15), qMax(0, client->height() - 72 - 9));
}

QString TForm1::ServerText() const { return Edit1->text(); }
bool TForm1::ExpertPanelVisible() const { return !ProPanel->isHidden(); }
QString TForm1::BlockSizeText() const { return Edit2->text(); }
QString TForm1::PortText() const { return Edit3->text(); }
void TForm1::SetStartEnabled(bool enabled) { Button1->setEnabled(enabled); }
void TForm1::SetStopEnabled(bool enabled) { Button2->setEnabled(enabled); }
void TForm1::SetStatusText(const QString& text) { StatusPanel0->setText(text); }
void TForm1::ClearSeries() { Series1Points.clear(); }

void TForm1::ShowErrorMessage(const QString& text) {
  TMessageService::Show({text, texts::ErrorCaption, QMessageBox::Warning}, this);
}
