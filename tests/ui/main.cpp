#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "ui/components/application.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Every window of the tests keeps its settings here, never in the user's own configuration.
  QTemporaryDir configuration;
  qputenv("XDG_CONFIG_HOME", configuration.path().toUtf8());
  // And the history the line tests are kept in, never the user's own.
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  TApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
