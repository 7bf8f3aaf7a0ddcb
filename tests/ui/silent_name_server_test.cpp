// A name whose name server never answers: the window stays responsive while the name is looked
// up. Runs only inside the namespaces of silent_name_server.sh, where /etc/resolv.conf names a name
// server on 127.0.0.1 that this test plays (the resolver gives up after one second there).

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "tests/support/patience.h"
#include "tests/support/qstring_printer.h"
#include "tests/ui/observed_messages.h"
#include "ui/main_window.h"

namespace {
const QString Name = QStringLiteral("langsam.example");

class SilentNameServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("KORVADEN_SILENT_NAME_SERVER"))
      GTEST_SKIP() << "only inside the namespaces of silent_name_server.sh";
    // Reads every question and answers none.
    nameServer = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(nameServer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    form.show();
    form.Edit1->setText(Name);
  }
  void TearDown() override {
    if (nameServer >= 0) ::close(nameServer);
  }
  bool Asked() const {
    pollfd question{nameServer, POLLIN, 0};
    return ::poll(&question, 1, 0) == 1;
  }
  bool IsIdle() const {
    return form.Button1->isEnabled() && !form.Button2->isEnabled() && form.StatusPanel0->text() == texts::IdleStatus;
  }

  int nameServer = -1;
  TObservedMessages messages;
  TForm1 form;
};
}  // namespace

TEST_F(SilentNameServer, StopWhileTheNameIsLookedUpActsAtOnceAndTheLateAnswerStartsNothing) {
  form.Button1->click();
  // Start came back while the name server keeps silent: the lookup goes on without the window.
  EXPECT_EQ(form.StatusPanel0->text(), texts::ConnectingStatus(Name));
  EXPECT_TRUE(form.Button2->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Asked(); }, testsupport::PatienceMs));
  form.Button2->click();
  EXPECT_TRUE(IsIdle());
  QTest::qWait(2500);  // the resolver has given up by now; its answer must start nothing
  EXPECT_TRUE(IsIdle());
  EXPECT_TRUE(messages.empty()) << messages.front().Text;
  EXPECT_EQ(form.ClientSocket1.Socket()->SocketHandle(), INVALID_SOCKET);
}

TEST_F(SilentNameServer, ANameServerThatNeverAnswersEndsInTheConnectFailedMessage) {
  form.Button1->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, testsupport::PatienceMs));
  EXPECT_EQ(messages.front().Text, texts::ConnectFailed(Name));
  EXPECT_TRUE(QTest::qWaitFor([&] { return IsIdle(); }, testsupport::PatienceMs));
}
