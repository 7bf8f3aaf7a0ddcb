#include "ui/about_box.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include "base/application_exception.h"
#include "ui/components/app_icon.h"
#include "ui/components/control_layout.h"
#include "ui/components/help_viewer.h"
#include "ui/main_window.h"
#include "ui/window_texts.h"

TAboutBox::TAboutBox(TForm1& mainForm) : QDialog(&mainForm), FMainForm(mainForm) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(texts::AboutTitle);
  SetDialogFrame(this);
  setFont(DesignFont());
  // Modal for the main window only: the help viewer opened from here stays usable beside the box.
  setWindowModality(Qt::WindowModal);

  Panel1 = Named(new QFrame(this), "Panel1");
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setLineWidth(2);
  ProgramIcon = Named(new QLabel(Panel1), "ProgramIcon");
  ProductName = Named(new QLabel(QStringLiteral("Product Name"), Panel1), "ProductName");
  Copyright = Named(new QLabel(CopyrightText, Panel1), "Copyright");
  Comments = Named(new QLabel(WebAddress, Panel1), "Comments");
  Comments->setWordWrap(true);
  Comments->setCursor(Qt::PointingHandCursor);
  QFont linkFont = Comments->font();
  linkFont.setUnderline(true);
  Comments->setFont(linkFont);
  QPalette linkPalette = Comments->palette();
  linkPalette.setColor(QPalette::WindowText, Qt::blue);
  Comments->setPalette(linkPalette);
  Comments->installEventFilter(this);
  Label1 = Named(new QLabel(texts::EMailLabel + EMailAddress, Panel1), "Label1");

  OKButton = Named(new QPushButton(texts::OkCaption, this), "OKButton");
  OKButton->setDefault(true);
  Button1 = Named(new QPushButton(texts::HelpCaption, this), "Button1");
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button1, &QPushButton::clicked, this, [this] { RunGuarded([this] { Button1Click(); }); });
  setTabOrder(OKButton, Button1);

  FormCreate();
  LayoutControls();
}

void TAboutBox::FormCreate() {
  ProductName->setText(FMainForm.windowTitle());
  ProgramIcon->setPixmap(QPixmap::fromImage(AppIconImage(32)));
  setWindowIcon(AppIcon());
}

// Design positions; a label that needs more room for its text pushes what lies below it.
void TAboutBox::LayoutControls() {
  ProgramIcon->setGeometry(8, 8, 32, 32);
  const QSize product = AtLeast(ProductName, 68, 13);
  ProductName->setGeometry(56, 16, product.width(), product.height());
  const QSize copyright = AtLeast(Copyright, 101, 13);
  Copyright->setGeometry(8, 80, copyright.width(), copyright.height());
  const int commentsWidth = std::max(132, Comments->fontMetrics().horizontalAdvance(WebAddress) + 2);
  const int commentsTop = std::max(104, Copyright->geometry().bottom() + 1 + 11);
  Comments->setGeometry(8, commentsTop, commentsWidth, Comments->heightForWidth(commentsWidth));
  const QSize mail = AtLeast(Label1, 110, 13);
  Label1->setGeometry(8, std::max(120, Comments->geometry().bottom() + 1 + 3), mail.width(), mail.height());

  int panelWidth = 281;
  for (const QLabel* label : {ProductName, Copyright, Comments, Label1})
    panelWidth = std::max(panelWidth, label->geometry().right() + 1 + 8);
  const int panelHeight = std::max(161, Label1->geometry().bottom() + 1 + 16);
  Panel1->setGeometry(8, 8, panelWidth, panelHeight);

  const int buttonTop = Panel1->geometry().bottom() + 1 + 11;
  const QSize ok = ButtonSize(OKButton, 75, 25);
  const QSize help = ButtonSize(Button1, 75, 25);
  const int clientWidth = std::max(298, panelWidth + 17);
  // The two buttons keep their design offsets from the centre line.
  OKButton->setGeometry(clientWidth / 2 - 94, buttonTop, ok.width(), ok.height());
  Button1->setGeometry(std::max(clientWidth / 2 + 10, OKButton->geometry().right() + 1 + 8), buttonTop, help.width(),
                       help.height());
  setFixedSize(clientWidth, std::max(213, buttonTop + ok.height() + 8));
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (FShownBefore) return;  // later showings keep the place where the box was left
  FShownBefore = true;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    move(available.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
  }
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Comments && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    RunGuarded([this] { CommentsClick(); });
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// The desktop opens the address with its default handler; nothing is reported, the box stays.
void TAboutBox::CommentsClick() { QDesktopServices::openUrl(QUrl(Comments->text(), QUrl::StrictMode)); }

void TAboutBox::Button1Click() { THelpViewer::ShowFile(FMainForm.HelpFile, this); }
