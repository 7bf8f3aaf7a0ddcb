// The remembered size, position and state of the main window, and the placement component's other
// options on a form made for the test.

#include <QGuiApplication>
#include <QScreen>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/qstring_printer.h"
#include "tests/ui/observed_messages.h"
#include "tests/ui/settings_file.h"
#include "ui/components/component_kinds.h"
#include "ui/components/wnd_prop.h"
#include "ui/main_window.h"

using settingsfile::PlacementKey;

namespace {
class WindowPlacement : public ::testing::Test {
 protected:
  void SetUp() override { settingsfile::Remove(); }
  void TearDown() override { form.reset(); }
  void Show(const QStringList& placement = {}) {
    if (!placement.isEmpty()) settingsfile::Write(PlacementKey, placement);
    form = std::make_unique<TForm1>();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }
  void Close() {
    form->close();
    form->DoDestroy();
    form.reset();
  }
  QPoint CentredTopLeft(QSize outer) const {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    return {screen.left() + (screen.width() - outer.width()) / 2,
            screen.top() + (screen.height() - outer.height()) / 2};
  }

  TObservedMessages messages;  // declared first: it outlives the window
  std::unique_ptr<TForm1> form;
};

// A form with one component of every kind the other options look at.
class TTestForm : public TForm {
  Q_OBJECT
  Q_PROPERTY(bool ParentFont MEMBER ParentFont)
 public:
  bool ParentFont = true;
};

class TStyledLabel : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QFont Font READ font WRITE setFont)
  Q_PROPERTY(QColor FontColor MEMBER FontColor)
  Q_PROPERTY(bool ParentFont MEMBER ParentFont)
  Q_PROPERTY(QColor Color MEMBER Color)
  Q_PROPERTY(bool ParentColor MEMBER ParentColor)
 public:
  using QWidget::QWidget;
  QColor FontColor = Qt::black;
  bool ParentFont = false;
  QColor Color = Qt::white;
  bool ParentColor = false;
};
}  // namespace

TEST_F(WindowPlacement, FirstRunOpensAtDesignSizeCentredAndSavesInOrder) {
  Show();
  EXPECT_EQ(form->OuterSize(), QSize(640, 480));
  EXPECT_EQ(form->frameGeometry().topLeft(), CentredTopLeft(QSize(640, 480)));
  EXPECT_EQ(form->WindowState(), wsNormal);
  EXPECT_TRUE(settingsfile::HasKey(settingsfile::ProgramKey));
  EXPECT_FALSE(settingsfile::HasKey(PlacementKey));  // created by the first save only
  const QPoint topLeft = form->frameGeometry().topLeft();
  Close();
  EXPECT_EQ(settingsfile::ValueLines(PlacementKey),
            (QStringList{R"("State"="0")", QString(R"("Left"="%1")").arg(topLeft.x()),
                         QString(R"("Top"="%1")").arg(topLeft.y()), R"("Width"="640")", R"("Height"="480")"}));
  EXPECT_TRUE(messages.empty());
}

TEST_F(WindowPlacement, StoredOuterSizeIsRestoredCentredAndClampedToTheMinimum) {
  Show({R"("State"="0")", R"("Left"="-4")", R"("Top"="10")", R"("Width"="800")", R"("Height"="600")"});
  EXPECT_EQ(form->OuterSize(), QSize(800, 600));
  EXPECT_EQ(form->frameGeometry().topLeft(), CentredTopLeft(QSize(800, 600)));  // centring replaces Left/Top
  form.reset();

  Show({R"("Width"="100")", R"("Height"="abc")", R"("Left"="")"});
  EXPECT_EQ(form->OuterSize(), QSize(360, 480));
  EXPECT_TRUE(messages.empty());
}

TEST_F(WindowPlacement, MaximisedExitKeepsTheLastNormalRectangle) {
  Show({R"("State"="0")", R"("Left"="5")", R"("Top"="6")", R"("Width"="700")", R"("Height"="500")"});
  form->SetWindowState(wsMaximized);
  QTest::qWait(20);
  Close();
  EXPECT_EQ(settingsfile::ValueLines(PlacementKey),
            (QStringList{R"("State"="2")", R"("Left"="5")", R"("Top"="6")", R"("Width"="700")", R"("Height"="500")"}));

  Show();  // the stored rectangle first, then the stored state
  EXPECT_EQ(form->WindowState(), wsMaximized);
  form->SetWindowState(wsNormal);
  QTest::qWait(20);
  EXPECT_EQ(form->OuterSize(), QSize(700, 500));
}

TEST_F(WindowPlacement, StoredStatesOpenTheWindowMinimisedOrNormally) {
  Show({R"("State"="1")"});
  EXPECT_EQ(form->WindowState(), wsMinimized);
  form.reset();
  Show({R"("State"="7")"});  // no such state: normal
  EXPECT_EQ(form->WindowState(), wsNormal);
}

TEST_F(WindowPlacement, WrongTypeStopsTheLoadWhichDoesNotRunAgainAtTheNextShowing) {
  Show({R"("Left"=dword:00000004)", R"("Width"="700")", R"("State"="2")"});
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0].Text, "Invalid data type for 'Left'");
  EXPECT_EQ(messages[0].Caption, "Omvra Ratavel");
  EXPECT_EQ(form->OuterSize(), QSize(640, 480));  // nothing after Left was read
  EXPECT_EQ(form->WindowState(), wsNormal);

  // Shown again, as after being minimised: neither the message nor the stored size come back.
  form->hide();
  form->show();
  QTest::qWait(20);
  EXPECT_EQ(messages.size(), 1U);
  EXPECT_EQ(form->OuterSize().width(), 640);
}

TEST_F(WindowPlacement, OptionsDecideWhatIsSavedAndAnEmptySectionUsesTheKeyItself) {
  form = std::make_unique<TForm1>();
  form->WndProp1.SetOptions(wpSize);
  form->WndProp1.SetSection(QString());
  form->WndProp1.SetAutoLoad(true);  // a second time: still one load and one save
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  Close();
  EXPECT_EQ(settingsfile::ValueLines(settingsfile::ProgramKey), (QStringList{R"("Width"="640")", R"("Height"="480")"}));
  EXPECT_FALSE(settingsfile::HasKey(PlacementKey));
}

TEST_F(WindowPlacement, OtherOptionsKeepControlSizesFontsColoursBandsAndColumns) {
  auto makeForm = [] {
    auto* test = new TTestForm;
    test->setObjectName("TestForm");
    auto* panel = new QWidget(test);
    panel->setObjectName("Panel1");
    panel->setProperty("Align", alTop);
    panel->resize(100, 40);
    auto* splitter = new TSplitter(test);
    splitter->setObjectName("Splitter1");
    splitter->resize(5, 100);
    auto* label = new TStyledLabel(test);
    label->setObjectName("Label1");
    auto* bar = new TCoolBar(test);
    bar->setObjectName("CoolBar1");
    bar->Bands = {{120, false}, {80, true}};
    auto* grid = new TDBGrid(test);
    grid->setObjectName("DBGrid1");
    grid->Columns = {{"Name", 150, QFont("DejaVu Sans", 9), Qt::black, Qt::white}};
    auto* placement = new TWndProp(test);
    placement->SetKey("Software\\Omvra-Soft\\Test");
    placement->SetSection("Placement");
    placement->SetOptions(wpControlSizes | wpCoolBar | wpGridSizes | wpFonts | wpColors);
    return std::pair{test, placement};
  };

  auto [saved, savingProp] = makeForm();
  saved->findChild<QWidget*>("Panel1")->resize(100, 55);
  auto* label = saved->findChild<TStyledLabel*>("Label1");
  QFont font("DejaVu Serif", 13);
  font.setBold(true);
  label->setFont(font);
  label->FontColor = QColor(0x10, 0x20, 0x30);
  label->Color = QColor(0xAA, 0xBB, 0xCC);
  saved->findChild<TCoolBar*>("CoolBar1")->Bands[1] = {95, false};
  saved->findChild<TDBGrid*>("DBGrid1")->Columns[0].Width = 222;
  savingProp->SaveProps();
  delete saved;

  const QString formKey = "HKEY_CURRENT_USER\\Software\\Omvra-Soft\\Test\\TestForm";
  EXPECT_EQ(settingsfile::ValueLines(formKey + "\\Panel1"), QStringList{R"("Height"="55")"});
  EXPECT_FALSE(settingsfile::HasKey(formKey + "\\Splitter1"));
  EXPECT_EQ(
      settingsfile::ValueLines(formKey + "\\Label1"),
      (QStringList{R"("FontName"="DejaVu Serif")", R"("FontCharSet"="1")", QString(R"("FontColor"="%1")").arg(0x302010),
                   R"("FontSize"="13")", R"("FontStyle"="1")", QString(R"("Color"="%1")").arg(0xCCBBAA)}));
  EXPECT_EQ(settingsfile::ValueLines("HKEY_CURRENT_USER\\Software\\Omvra-Soft\\Test\\Placement\\CoolBar1"),
            (QStringList{R"("Band0"="120")", R"("Band0Break"="0")", R"("Band1"="95")", R"("Band1Break"="0")"}));
  EXPECT_EQ(settingsfile::ValueLines(formKey + "\\DBGrid1"), QStringList{R"("Name"="222")"});
  EXPECT_EQ(settingsfile::ValueLines(formKey + "\\DBGrid1\\Name\\Column").size(), 6);

  auto [loaded, loadingProp] = makeForm();
  loadingProp->LoadProps();
  EXPECT_EQ(loaded->findChild<QWidget*>("Panel1")->height(), 55);
  auto* loadedLabel = loaded->findChild<TStyledLabel*>("Label1");
  EXPECT_EQ(loadedLabel->font().family(), "DejaVu Serif");
  EXPECT_EQ(loadedLabel->font().pointSize(), 13);
  EXPECT_TRUE(loadedLabel->font().bold());
  EXPECT_EQ(loadedLabel->FontColor, QColor(0x10, 0x20, 0x30));
  EXPECT_EQ(loadedLabel->Color, QColor(0xAA, 0xBB, 0xCC));
  EXPECT_EQ(loaded->findChild<TCoolBar*>("CoolBar1")->Bands[1].Width, 95);
  EXPECT_FALSE(loaded->findChild<TCoolBar*>("CoolBar1")->Bands[1].Break);
  EXPECT_EQ(loaded->findChild<TDBGrid*>("DBGrid1")->Columns[0].Width, 222);
  delete loaded;
}

#include "window_placement_test.moc"
