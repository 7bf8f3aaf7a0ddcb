// The expert mode and the program settings read at start-up and written at exit.

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <utility>

#include "measure/measurement_counters.h"
#include "tests/support/qstring_printer.h"
#include "tests/ui/observed_messages.h"
#include "tests/ui/settings_file.h"
#include "ui/main_window.h"
#include "ui/rate_chart.h"
#include "ui/result_export.h"

using settingsfile::ProgramKey;

namespace {
class ProgramSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    settingsfile::Remove();
    Counters.BlockSize = 1024;
  }
  void TearDown() override {
    form.reset();
    Counters.BlockSize = 1024;
  }
  void Start(const QStringList& values) {
    settingsfile::Write(ProgramKey, values);
    form = std::make_unique<TForm1>();
  }
  void Exit() {
    form->DoDestroy();
    form.reset();
  }
  bool ExpertMode() const { return !form->ProPanel->isHidden(); }

  TObservedMessages messages;  // declared first: it outlives the window
  std::unique_ptr<TForm1> form;
};
}  // namespace

TEST_F(ProgramSettings, FirstRunCreatesTheKeyAndWritesNothingOfItsOwn) {
  form = std::make_unique<TForm1>();
  EXPECT_EQ(form->windowTitle(), "Omvra Ratavel 1.0");
  EXPECT_FALSE(ExpertMode());
  EXPECT_TRUE(settingsfile::HasKey(ProgramKey));
  Exit();
  EXPECT_TRUE(settingsfile::ValueLines(ProgramKey).isEmpty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(ProgramSettings, AccessCodeSwitchesTheExpertModeOnAndTheFieldsAreSavedAtExit) {
  Start({R"("ProMode"="5594")"});
  EXPECT_EQ(form->windowTitle(), "Omvra Ratavel 1.0 Pro");
  EXPECT_TRUE(ExpertMode());
  EXPECT_EQ(form->Edit2->text(), "1024");
  EXPECT_EQ(form->Edit3->text(), "2857");
  Exit();
  EXPECT_EQ(settingsfile::ValueLines(ProgramKey),
            (QStringList{R"("ProMode"="5594")", R"("Direction"="0")", R"("BlockSize"="1024")", R"("Port"="2857")"}));
}

TEST_F(ProgramSettings, DirectionOneReceivesAnythingElseSendsAndTheChoiceIsSavedAtExit) {
  for (const char* other : {R"("Direction"="2")", R"("Direction"=dword:00000001)", R"("Direction"="")"}) {
    Start({R"("ProMode"="5594")", other});
    EXPECT_EQ(form->DirectionChoice(), TDirection::Send) << other;
    form.reset();
  }
  Start({R"("ProMode"="5594")", R"("Direction"="1")"});
  EXPECT_EQ(form->ComboBox1->currentText(), QString::fromUtf8("Empfangen (Download)"));
  form->ComboBox1->setCurrentIndex(0);
  Exit();
  EXPECT_TRUE(settingsfile::ValueLines(ProgramKey).contains(R"("Direction"="0")"));
  EXPECT_TRUE(messages.empty());
}

TEST_F(ProgramSettings, AccessCodeGoesThroughTheDefaultConversion) {
  for (const char* code : {"  5594", "005594", "+5594", "$15DA", "0x15da", "x15DA"}) {
    Start({QString(R"("ProMode"="%1")").arg(code)});
    EXPECT_TRUE(ExpertMode()) << code;
    form.reset();
  }
  for (const char* code : {"5594 ", "5594x", "5595", "0", "", "Pro"}) {
    Start({QString(R"("ProMode"="%1")").arg(code)});
    EXPECT_FALSE(ExpertMode()) << code;
    form.reset();
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(ProgramSettings, AccessCodeOfANumberTypeIsReportedAndLeavesTheModeOff) {
  Start({R"("proMODE"=dword:000015da)"});  // names match in any letter case
  EXPECT_FALSE(ExpertMode());
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0].Text, "Invalid data type for 'ProMode'");  // no full stop after the quote
  EXPECT_EQ(messages[0].Caption, "Omvra Ratavel");
  EXPECT_EQ(messages[0].Icon, QMessageBox::Critical);
}

TEST_F(ProgramSettings, StoredValuesAreConvertedAndSavedBackAsPlainDecimal) {
  Start({R"("ProMode"="5594")", R"("BlockSize"="$1000")", R"("Port"="$BB8")"});
  EXPECT_EQ(Counters.BlockSize, 4096);
  EXPECT_EQ(form->Edit2->text(), "4096");
  EXPECT_EQ(form->ClientSocket1.Port(), 3000);
  EXPECT_EQ(form->Edit3->text(), "3000");
  Exit();
  EXPECT_TRUE(settingsfile::ValueLines(ProgramKey).contains(R"("BlockSize"="4096")"));

  Counters.BlockSize = 1024;  // as at every program start
  Start({R"("ProMode"="5594")", R"("BlockSize"="12ab")"});
  EXPECT_EQ(Counters.BlockSize, 1024);
  Exit();
  EXPECT_TRUE(settingsfile::ValueLines(ProgramKey).contains(R"("BlockSize"="1024")"));
}

TEST_F(ProgramSettings, ExitWritesFieldsUpToTheFirstTextThatIsNoInteger) {
  Start({R"("ProMode"="5594")", R"("BlockSize"="2048")", R"("Port"="3000")"});
  form->Edit2->setText("viel");
  form->Edit3->setText("4000");
  Exit();
  EXPECT_TRUE(settingsfile::ValueLines(ProgramKey).contains(R"("BlockSize"="2048")"));
  EXPECT_TRUE(settingsfile::ValueLines(ProgramKey).contains(R"("Port"="3000")"));

  form = std::make_unique<TForm1>();
  form->Edit2->setText("0x2000");  // edited, never started: still kept, as plain decimal
  form->Edit3->setText("Port");
  Exit();
  EXPECT_TRUE(settingsfile::ValueLines(ProgramKey).contains(R"("BlockSize"="8192")"));
  EXPECT_TRUE(settingsfile::ValueLines(ProgramKey).contains(R"("Port"="3000")"));
  EXPECT_TRUE(messages.empty());
}

TEST_F(ProgramSettings, WrongTypesStopTheStartUpStepWhereTheyAre) {
  Start({R"("ProMode"="5594")", R"("BlockSize"=hex:00,10)"});
  EXPECT_FALSE(ExpertMode());
  EXPECT_EQ(Counters.BlockSize, 1024);
  EXPECT_EQ(form->ClientSocket1.Port(), 2857);
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0].Text, "Invalid data type for 'BlockSize'");
  form.reset();

  Start({R"("ProMode"="5594")", R"("BlockSize"="4096")", R"("Port"=dword:00000b29)"});
  EXPECT_EQ(Counters.BlockSize, 4096);  // read before the port failed
  EXPECT_FALSE(ExpertMode());
  EXPECT_EQ(form->windowTitle(), "Omvra Ratavel 1.0");
  EXPECT_EQ(form->ClientSocket1.Port(), 2857);
  Exit();
  EXPECT_TRUE(settingsfile::ValueLines(ProgramKey).contains(R"("Port"=dword:00000b29)"));  // nothing written
}

// A port outside 1 to 65535, stored or typed, is never used: Start names it and connects nowhere,
// and the port in force before is the one kept.
TEST_F(ProgramSettings, APortOutOfRangeIsRefusedAndTheValidOneKept) {
  Start({R"("ProMode"="5594")", R"("Port"="70000")"});
  EXPECT_EQ(form->ClientSocket1.Port(), 2857);
  EXPECT_EQ(form->Edit3->text(), "70000");  // shown, so that the user can correct it
  form->Edit1->setText("127.0.0.1");
  form->Button1->click();
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0].Text, "Die Port-Nr. 70000 ist ungültig: Erlaubt sind 1 bis 65535.");
  EXPECT_EQ(messages[0].Caption, "Fehler");
  EXPECT_TRUE(form->Button1->isEnabled());
  EXPECT_EQ(form->ClientSocket1.Socket()->SocketHandle(), INVALID_SOCKET);  // no connect was begun
  for (const char* typed : {"-1", "0", "65536", "$FFFFFFFF"}) {
    form->Edit3->setText(typed);
    form->Button1->click();
    EXPECT_EQ(form->ClientSocket1.Port(), 2857) << typed;
  }
  EXPECT_EQ(messages.size(), 5U);
  Exit();
  EXPECT_TRUE(settingsfile::ValueLines(ProgramKey).contains(R"("Port"="2857")"));
}

// The round-trip line is a view option of every mode: switched from the chart's menu, kept at
// exit, and a stored value other than "1", of whatever type, leaves it off without a word.
TEST_F(ProgramSettings, TheRoundTripLineIsSwitchedFromTheChartMenuAndRememberedInEveryMode) {
  Start({R"("ShowRoundTrip"="1")"});
  EXPECT_FALSE(ExpertMode());
  ASSERT_TRUE(form->RoundTripAction->isChecked());
  EXPECT_TRUE(form->Export->Menu()->actions().contains(form->RoundTripAction));
  ASSERT_NE(form->Chart1->RightAxisView(), nullptr);
  EXPECT_EQ(form->Chart1->RightAxisView()->titleText(), "Umlaufzeit (ms)");
  // The chart draws the series' round trips: the middle second has none, the line two pieces.
  for (const double rtt : {20.0, double{NAN}, 30.0})
    form->Series1.SetRoundTripMs(form->Series1.AddXY(form->Series1.Count() + 1, 100), rtt);
  EXPECT_EQ(form->Chart1->RoundTripLines().size(), 2U);
  EXPECT_DOUBLE_EQ(form->Chart1->RightAxisView()->max(), 33);

  form->RoundTripAction->trigger();
  EXPECT_EQ(form->Chart1->RightAxisView(), nullptr);
  EXPECT_EQ(form->Chart1->chart()->series().size(), 1);
  EXPECT_EQ(form->Chart1->chart()->axes().size(), 2);
  Exit();
  EXPECT_EQ(settingsfile::ValueLines(ProgramKey), QStringList{R"("ShowRoundTrip"="0")"});

  for (const char* stored : {R"("ShowRoundTrip"="ja")", R"("ShowRoundTrip"=dword:00000001)"}) {
    Start({stored});
    EXPECT_FALSE(form->RoundTripAction->isChecked()) << stored;
    form.reset();
  }
  EXPECT_TRUE(messages.empty());
  form = std::make_unique<TForm1>();
  form->RoundTripAction->trigger();
  EXPECT_EQ(form->Chart1->chart()->axes().size(), 3);
  Exit();
  EXPECT_EQ(settingsfile::ValueLines(ProgramKey), QStringList{R"("ShowRoundTrip"="1")"});
}
