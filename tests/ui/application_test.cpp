// The default error display for failures that escape every handler.

#include <QCoreApplication>
#include <QEvent>

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/application_exception.h"
#include "tests/ui/observed_messages.h"
#include "ui/components/application.h"
#include "ui/components/message_service.h"

namespace {
class TThrowingObject : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::User) throw std::runtime_error("Kaputt");
    return QObject::event(event);
  }
};
}  // namespace

TEST(DefaultErrorDisplay, AddsAFullStopOnlyAfterCharactersAboveIt) {
  EXPECT_EQ(TMessageService::ExceptionText("Kaputt"), "Kaputt.");
  EXPECT_EQ(TMessageService::ExceptionText("Fertig."), "Fertig.");
  EXPECT_EQ(TMessageService::ExceptionText("Wirklich!"), "Wirklich!");
  EXPECT_EQ(TMessageService::ExceptionText("Pfad/"), "Pfad/.");
  EXPECT_EQ(TMessageService::ExceptionText(""), "");
}

TEST(DefaultErrorDisplay, ShowsAnEscapedExceptionAndTheProgramCarriesOn) {
  TObservedMessages shown;
  TThrowingObject target;
  QEvent event(QEvent::User);
  QCoreApplication::sendEvent(&target, &event);
  HandleApplicationException(std::runtime_error("Asynchronous socket error 111"));

  ASSERT_EQ(shown.size(), 2U);
  EXPECT_EQ(shown[0].Text, "Kaputt.");
  EXPECT_EQ(shown[0].Caption, "Omvra Ratavel");
  EXPECT_EQ(shown[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(shown[1].Text, "Asynchronous socket error 111.");
}
