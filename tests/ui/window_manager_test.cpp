// The main window on an X screen with a real window manager (openbox), whose frame differs from
// the one the window assumes before it is framed. The outer rectangle is read from the X server,
// not from Qt: Qt's frame geometry is what it last worked out and can stay on a value from the
// moment the window manager's frame was still being built (1 x 1).

#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include "tests/support/patience.h"
#include "tests/support/qstring_printer.h"
#include "tests/ui/settings_file.h"
#include "ui/components/application.h"
#include "ui/main_window.h"

using settingsfile::PlacementKey;

namespace {
// The window manager's frame around the window as the X server has it: the window's ancestor that
// is a child of the root, border included.
QRect FrameOnScreen(const QWidget& window) {
  xcb_connection_t* connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
  xcb_window_t frame = window.winId();
  for (;;) {
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, frame), nullptr);
    if (!tree) return {};
    const bool topmost = tree->parent == tree->root;
    if (!topmost) frame = tree->parent;
    std::free(tree);
    if (topmost) break;
  }
  xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, frame), nullptr);
  if (!geometry) return {};
  const int border = geometry->border_width;
  const QRect outer(geometry->x, geometry->y, geometry->width + 2 * border, geometry->height + 2 * border);
  std::free(geometry);
  return outer;
}

// Starts the program's window, waits until the window manager shows it framed with the outer
// rectangle wanted, and ends it as the program would, which saves the placement.
QRect OpenAndClose(const QRect& wanted) {
  auto form = std::make_unique<TForm1>();
  form->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  // The window manager answers the corrected size and position in its own time.
  (void)QTest::qWaitFor([&] { return FrameOnScreen(*form) == wanted; }, testsupport::PatienceMs);
  const QRect outer = FrameOnScreen(*form);
  form->close();
  form->DoDestroy();
  return outer;
}

TEST(UnderAWindowManager, TheRememberedSizeComesBackUnchangedAndCentred) {
  settingsfile::Write(PlacementKey, {R"("State"="0")", R"("Width"="700")", R"("Height"="500")"});
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect wanted(screen.topLeft() + QPoint((screen.width() - 700) / 2, (screen.height() - 500) / 2),
                     QSize(700, 500));
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
