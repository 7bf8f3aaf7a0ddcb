// The main window on an X screen with a real window manager (openbox), whose frame differs from
// the one the window assumes before it is framed.

#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

#include "application.h"
#include "main_window.h"
#include "qstring_printer.h"
#include "settings_file.h"

using settingsfile::PlacementKey;

namespace {
// Starts the program's window, waits until the window manager shows it framed with the outer
// rectangle wanted, and ends it as the program would, which saves the placement.
QRect OpenAndClose(const QRect& wanted) {
  auto form = std::make_unique<TForm1>();
  form->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  // The window manager answers the corrected size and position in its own time.
  (void)QTest::qWaitFor([&] { return form->frameGeometry() == wanted; }, 5000);
  const QRect outer = form->frameGeometry();
  form->close();
  form->DoDestroy();
  return outer;
}

TEST(UnderAWindowManager, TheRememberedSizeComesBackUnchangedAndCentred) {
  settingsfile::Write(PlacementKey, {R"("State"="0")", R"("Width"="700")", R"("Height"="500")"});
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect wanted(screen.topLeft() + QPoint((screen.width() - 700) / 2, (screen.height() - 500) / 2), QSize(700, 500));
  for (int run = 1; run <= 2; ++run) {
    const QRect outer = OpenAndClose(wanted);
    EXPECT_EQ(outer.size(), wanted.size()) << run;
    EXPECT_EQ(outer.topLeft(), wanted.topLeft()) << run;
    const QStringList stored = settingsfile::ValueLines(PlacementKey);
    EXPECT_TRUE(stored.contains(R"("Width"="700")")) << stored.join(' ').toStdString();
    EXPECT_TRUE(stored.contains(R"("Height"="500")")) << stored.join(' ').toStdString();
  }
}
}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir configuration;
  qputenv("XDG_CONFIG_HOME", configuration.path().toUtf8());
  TApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
