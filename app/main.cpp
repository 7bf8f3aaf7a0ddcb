#include <QApplication>

#include "app/termination_signals.h"
#include "ui/components/application.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  QCoreApplication::setApplicationVersion(QStringLiteral(KORVADEN_VERSION));  // what the history notes
  TForm1 form;
  form.show();
  // Ending the session closes every window (the About box too) and leaves the event loop.
  const TTerminationSignals termination([] {
    QApplication::closeAllWindows();
    QCoreApplication::exit(0);
  });
  const int result = application.exec();
  form.DoDestroy();  // hidden by now: settings and placement are saved, the measurement stopped
  return result;
}
