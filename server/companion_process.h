#pragma once
// Starts korvaden-server as a child process on an ephemeral 127.0.0.1 port, for the programs that
// measure against it (benchmarks, the window snapshot, tests), and learns the port from its first line.

#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include <optional>

inline std::optional<int> StartCompanionServer(QProcess& server, const QString& serverPath) {
  server.setProcessChannelMode(QProcess::SeparateChannels);
  server.start(serverPath, {QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                            QStringLiteral("0")});
  if (!server.waitForStarted(5000) || !server.waitForReadyRead(5000)) return std::nullopt;
  const auto match =
      QRegularExpression(QStringLiteral(R"(lauscht auf [\d.]+:(\d+))")).match(QString::fromUtf8(server.readLine()));
  if (!match.hasMatch()) return std::nullopt;
  return match.captured(1).toInt();
}
