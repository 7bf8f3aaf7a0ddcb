#include "ui/components/application.h"

#include <malloc.h>

#include <QKeyEvent>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>
#include <QWidget>

#include "base/application_exception.h"
#include "ui/components/app_icon.h"
#include "ui/components/message_service.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(Title);
  setWindowIcon(AppIcon());
  setDesktopFileName(QStringLiteral("korvaden"));
  // Qt's own dialogs and texts (the file dialog, "replace it?") in German, whatever the locale.
  auto* qtTexts = new QTranslator(this);
  if (qtTexts->load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    installTranslator(qtTexts);
  SetApplicationExceptionHandler(
      [](const std::string& message) { TMessageService::ShowException(QString::fromStdString(message)); });
  // Redrawing the chart every second leaves freed memory scattered through the heap, and glibc
  // keeps what it cannot hand back from the heap's top: the heap in use stays the same, yet the
  // process grew by about 3 MB in ten minutes. Handing the free pages back once a minute keeps a
  // run of hours as small as a run of one minute.
  auto* heapTrim = new QTimer(this);
  connect(heapTrim, &QTimer::timeout, [] { malloc_trim(0); });
  heapTrim->start(60'000);
}

// Alt with a key is an accelerator. One that no enabled button took (its button is greyed out)
// must do nothing at all, as on the design's platform, rather than type its letter into the field
// that has the focus: "127.0.0.1" would become "127.0.0.1s" and the next Start would fail.
static bool IsUnclaimedAccelerator(QObject* receiver, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !receiver->isWidgetType()) return false;
  if (!static_cast<QWidget*>(receiver)->testAttribute(Qt::WA_InputMethodEnabled)) return false;  // no text field
  const auto* key = static_cast<QKeyEvent*>(event);
  const Qt::KeyboardModifiers modifiers = key->modifiers();
  return modifiers.testFlag(Qt::AltModifier) && !modifiers.testFlag(Qt::ControlModifier) &&
         !modifiers.testFlag(Qt::MetaModifier) && !key->text().isEmpty();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  if (IsUnclaimedAccelerator(receiver, event)) return true;
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    HandleApplicationException(error);
  } catch (...) {
    HandleApplicationException(std::string("Unbekannter Fehler"));
  }
  return false;
}
