// Renders the main window during a real measurement against korvaden-server into a PNG file,
// on whatever platform Qt runs (offscreen works without a display).
//
//   korvaden-snapshot FILE.png [seconds]

#include <QPushButton>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <cstdio>

#include "application.h"
#include "companion_process.h"
#include "main_window.h"

int main(int argc, char** argv) {
  // A settings directory of its own: the user's settings are neither used nor changed.
  QTemporaryDir configuration;
  qputenv("XDG_CONFIG_HOME", configuration.path().toUtf8());
  TApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "Aufruf: korvaden-snapshot DATEI.png [Sekunden]\n");
    return 2;
  }
  const int seconds = argc > 2 ? std::max(2, std::atoi(argv[2])) : 12;

  QProcess server;
  const auto port = StartCompanionServer(server, QCoreApplication::applicationDirPath() + "/korvaden-server");
  if (!port) return 1;

  TForm1 form;
  form.show();
  form.ClientSocket1.SetPort(*port);
  form.Edit1->setText(QStringLiteral("127.0.0.1"));
  form.Button1->click();
  QTest::qWait(seconds * 1000 + 300);
  const bool saved = form.grab().save(QString::fromLocal8Bit(argv[1]));
  form.Button2->click();
  QTest::qWait(200);
  form.FormDestroy();
  server.terminate();
  server.waitForFinished(5000);
  return saved ? 0 : 1;
}
