#include <QTemporaryDir>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "ui/components/application.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Every window of the suite keeps its settings here, never in the user's own configuration.
  QTemporaryDir configuration;
  qputenv("XDG_CONFIG_HOME", configuration.path().toUtf8());
  TApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  {
    // Qt loads fonts, plugins and caches on the first showing and keeps them; that belongs to the
    // baseline the figures are compared with, not to any one case.
    TForm1 warmUp;
    warmUp.show();
    (void)QTest::qWaitForWindowExposed(&warmUp);
    warmUp.Series1.AddXY(1, 250000);
    QTest::qWait(50);
    warmUp.close();
    warmUp.DoDestroy();
  }
  return RUN_ALL_TESTS();
}
