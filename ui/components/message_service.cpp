#include "ui/components/message_service.h"

#include <QCoreApplication>

#include "ui/components/control_layout.h"

namespace {
TMessageService::TObserver observer;
}

void TMessageService::SetObserver(TObserver newObserver) { observer = std::move(newObserver); }

void TMessageService::Show(const TShownMessage& message, QWidget* parent) {
  if (observer) {
    observer(message);
    return;
  }
  QString shown = message.Text;
  shown.replace(QChar(13), QChar(10));
  QMessageBox box(message.Icon, message.Caption, shown, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  SetDialogFrame(&box);
  box.exec();
}

QString TMessageService::ExceptionText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
  return message;
}

void TMessageService::ShowException(const QString& message) {
  Show({ExceptionText(message), QCoreApplication::applicationName(), QMessageBox::Critical});
}
