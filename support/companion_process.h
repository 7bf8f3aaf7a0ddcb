#pragma once
// Starts korvaden-server as a child process on an ephemeral port (of 127.0.0.1 unless told), for the programs that
// measure against it (benchmarks, the window snapshot, tests), and learns the port from its first line.

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

// launcher, when given, is the command that runs the server (the network lab's "ip netns exec NS");
// options go to the server after its address and port.
inline std::optional<int> StartCompanionServer(QProcess& server, const QString& serverPath,
                                               const QString& address = QStringLiteral("127.0.0.1"),
                                               QStringList launcher = {}, const QStringList& options = {}) {
  server.setProcessChannelMode(QProcess::SeparateChannels);
  launcher << serverPath << QStringLiteral("--bind") << address << QStringLiteral("--port") << QStringLiteral("0")
           << options;
  server.start(launcher.takeFirst(), launcher);
  if (!server.waitForStarted(5000) || !server.waitForReadyRead(5000)) return std::nullopt;
  const auto match =
      QRegularExpression(QStringLiteral(R"(lauscht auf \S+:(\d+))")).match(QString::fromUtf8(server.readLine()));
  if (!match.hasMatch()) return std::nullopt;
  return match.captured(1).toInt();
}
