#pragma once
// A client socket with every handler bound to a recorder, plus waiting that keeps the event loop going.

#include <QtTest/QTest>

#include <functional>
#include <string>
#include <vector>

#include "net/client_socket.h"
#include "tests/support/patience.h"

struct TRecordedError {
  TErrorEvent kind;
  int code;
};

class TSocketProbe {
 public:
  TSocketProbe() {
    auto record = [this](const char* name, TSocketNotifyEvent& handler) {
      handler = [this, name](QObject* Sender, TCustomWinSocket* Socket) {
        EXPECT_EQ(Sender, &socket);
        EXPECT_EQ(Socket, socket.Socket());
        events.emplace_back(name);
        if (std::string(name) == "connect") activeInConnect = socket.Active();
      };
    };
    record("lookup", socket.OnLookup);
    record("connecting", socket.OnConnecting);
    record("connect", socket.OnConnect);
    record("disconnect", socket.OnDisconnect);
    record("read", socket.OnRead);
    record("write", socket.OnWrite);
    socket.OnError = [this](QObject*, TCustomWinSocket*, TErrorEvent kind, int& code) {
      errors.push_back({kind, code});
      if (clearErrors) code = 0;
    };
  }

  int Count(const std::string& name) const {
    int n = 0;
    for (const auto& event : events) n += event == name;
    return n;
  }

  bool WaitFor(const std::function<bool()>& condition, int timeoutMs = testsupport::PatienceMs) {
    return QTest::qWaitFor(condition, timeoutMs);
  }

  void Open(const QString& host, int port) {
    socket.SetHost(host);
    socket.SetPort(port);
    socket.SetActive(true);
  }

  TClientSocket socket;
  std::vector<std::string> events;
  std::vector<TRecordedError> errors;
  bool clearErrors = true;
  bool activeInConnect = false;
};
