#include "application.h"

#include "app_icon.h"
#include "application_exception.h"
#include "message_service.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(Title);
  setWindowIcon(AppIcon());
  setDesktopFileName(QStringLiteral("korvaden"));
  SetApplicationExceptionHandler(
      [](const std::string& message) { TMessageService::ShowException(QString::fromStdString(message)); });
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    HandleApplicationException(error);
  } catch (...) {
    HandleApplicationException(std::string("Unbekannter Fehler"));
  }
  return false;
}
