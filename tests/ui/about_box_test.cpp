// The About box and the help viewer.

#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/loopback_server.h"
#include "tests/support/patience.h"
#include "tests/support/qstring_printer.h"
#include "tests/ui/observed_messages.h"
#include "tests/ui/settings_file.h"
#include "ui/about_box.h"
#include "ui/components/help_viewer.h"
#include "ui/main_window.h"

namespace {
// Receives what the About box asks the desktop to open.
class TUrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened << url; }
};

class AboutBox : public ::testing::Test {
 protected:
  void SetUp() override { settingsfile::Remove(); }
  void TearDown() override {
    form.reset();
    for (const QString& path : shownHelp)
      if (THelpViewer* viewer = THelpViewer::Find(path)) delete viewer;
  }
  TObservedMessages messages;  // declared first: it outlives the window
  std::unique_ptr<TForm1> form;
  QStringList shownHelp;
};
}  // namespace

TEST_F(AboutBox, ShowsTheProductTheMakerAndTheButtons) {
  form = std::make_unique<TForm1>();
  TAboutBox* box = form->AboutBox;
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowTitle(), QString::fromUtf8("Über ..."));
  EXPECT_EQ(box->ProductName->text(), "Omvra Ratavel 1.0");
  EXPECT_EQ(box->Comments->text(), "https://www.omvra-soft.example/");
  EXPECT_EQ(box->Label1->text(), "E-Mail: info@omvra-soft.example");
  EXPECT_TRUE(box->Copyright->text().contains("Omvra-Soft"));
  EXPECT_FALSE(box->ProgramIcon->pixmap().isNull());
  EXPECT_EQ(box->Comments->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(box->Comments->font().underline());
  EXPECT_TRUE(box->Comments->wordWrap());
  EXPECT_EQ(box->Comments->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_TRUE(box->OKButton->isDefault());
  EXPECT_EQ(box->Button1->text(), "&Hilfe");
  EXPECT_EQ(box->minimumSize(), box->maximumSize());  // fixed size
  for (QLabel* label : {box->ProductName, box->Copyright, box->Label1})
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << label->text();
}

TEST_F(AboutBox, ProductNameCarriesTheExpertSuffix) {
  settingsfile::Write(settingsfile::ProgramKey, {R"("ProMode"="5594")"});
  form = std::make_unique<TForm1>();
  EXPECT_EQ(form->AboutBox->ProductName->text(), "Omvra Ratavel 1.0 Pro");
}

TEST_F(AboutBox, ClickOnTheAddressAsksTheDesktopToOpenExactlyItsText) {
  form = std::make_unique<TForm1>();
  TUrlRecorder recorder;
  QDesktopServices::setUrlHandler("https", &recorder, "Open");
  form->AboutBox->show();
  QTest::mouseClick(form->AboutBox->Comments, Qt::LeftButton);
  QDesktopServices::unsetUrlHandler("https");
  ASSERT_EQ(recorder.opened.size(), 1);
  EXPECT_EQ(recorder.opened[0].toString(), form->AboutBox->Comments->text());
  EXPECT_TRUE(form->AboutBox->isVisible());
  EXPECT_TRUE(messages.empty());
}

TEST_F(AboutBox, ShownModallyWhileTheMeasurementGoesOnBehindIt) {
  testsupport::LoopbackServer server(testsupport::ServerMode::Record);
  form = std::make_unique<TForm1>();
  form->show();
  form->ClientSocket1.SetPort(server.port());
  form->Edit1->setText("127.0.0.1");
  form->Button1->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Controller.Timer1.isActive(); }, testsupport::PatienceMs));

  const int pointsBefore = form->Series1.Count();
  int pointsWhileShown = -1;
  bool wasModal = false;
  QTimer::singleShot(3500, form.get(), [&] {
    wasModal = form->AboutBox->isModal() && form->AboutBox->isVisible();
    pointsWhileShown = form->Series1.Count();
    form->AboutBox->OKButton->click();
  });
  form->BitBtn1->click();  // returns when the box is closed
  EXPECT_TRUE(wasModal);
  EXPECT_GT(pointsWhileShown, pointsBefore);  // the chart went on behind the box
  EXPECT_FALSE(form->AboutBox->isVisible());
  form->Button2->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->Button1->isEnabled(); }, testsupport::PatienceMs));
}

// Dialogs have a title and a close box only; the About box blocks the main window but not the help
// viewer, which opens in front, beside the box and wholly on the screen.
TEST_F(AboutBox, IsAFixedDialogModalForTheMainWindowOnlyWithTheHelpUsableBesideIt) {
  form = std::make_unique<TForm1>();
  form->show();
  auto frameOnly = [](const QWidget* dialog) {
    const Qt::WindowFlags flags = dialog->windowFlags();
    return flags.testFlag(Qt::CustomizeWindowHint) && flags.testFlag(Qt::WindowCloseButtonHint) &&
           !flags.testFlag(Qt::WindowMinimizeButtonHint) && !flags.testFlag(Qt::WindowMaximizeButtonHint);
  };
  bool modalForTheWindow = false;
  THelpViewer* viewer = nullptr;
  QTimer::singleShot(0, form.get(), [&] {
    modalForTheWindow =
        form->AboutBox->windowModality() == Qt::WindowModal && QApplication::activeModalWidget() == form->AboutBox;
    form->AboutBox->move(0, 0);  // room on its right
    form->AboutBox->Button1->click();
    viewer = THelpViewer::Find(form->HelpFile);
    if (viewer) static_cast<void>(QTest::qWaitForWindowActive(viewer));
    form->AboutBox->OKButton->click();
  });
  form->BitBtn1->click();
  EXPECT_TRUE(modalForTheWindow);
  EXPECT_TRUE(frameOnly(form->AboutBox));
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->parentWidget(), nullptr);
  EXPECT_TRUE(viewer->isActiveWindow());
  EXPECT_TRUE(viewer->screen()->availableGeometry().contains(viewer->frameGeometry())) << viewer->frameGeometry().x();
  EXPECT_FALSE(viewer->frameGeometry().intersects(form->AboutBox->frameGeometry()));
  viewer->close();

  bool messageFrameOnly = false;
  QTimer::singleShot(0, form.get(), [&] {
    QWidget* box = QApplication::activeModalWidget();
    messageFrameOnly = box && frameOnly(box);
    if (box) box->close();
  });
  TMessageService::SetObserver(nullptr);  // a real box this time
  TMessageService::Show({"Text", "Fehler", QMessageBox::Warning}, form.get());
  EXPECT_TRUE(messageFrameOnly);
}

TEST_F(AboutBox, HelpOpensOneViewerPerFileAndSaysWhenTheFileIsMissing) {
  QTemporaryDir folder;
  const QString help = folder.filePath("korvaden.hlp");
  QFile file(help);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<html><body><h1>Hilfe zu Omvra Ratavel</h1></body></html>");
  file.close();
  form = std::make_unique<TForm1>();
  form->HelpFile = help;
  shownHelp << help << folder.filePath("fehlt.hlp");

  form->AboutBox->show();
  form->AboutBox->Button1->click();
  THelpViewer* first = THelpViewer::Find(help);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->isVisible());
  EXPECT_TRUE(first->Browser()->toPlainText().contains("Hilfe zu Omvra Ratavel"));
  form->AboutBox->Button1->click();
  EXPECT_EQ(THelpViewer::Find(help), first);  // raised, not opened again
  EXPECT_EQ(QApplication::topLevelWidgets().count(first), 1);

  form->HelpFile = folder.filePath("fehlt.hlp");
  form->AboutBox->Button1->click();
  THelpViewer* missing = THelpViewer::Find(form->HelpFile);
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->Browser()->toPlainText(), HelpFileMissingText(form->HelpFile));
  EXPECT_TRUE(messages.empty());  // the program itself reports nothing
  EXPECT_TRUE(form->AboutBox->isVisible());
}

#include "about_box_test.moc"
