// korvaden-check: the line test on the command line, the same engine as the window's.
//   korvaden-check HOST [--port N] [--json] [--phase-seconds S] [--no-history]
// Exit status 0 for a finished test, 1 when it could not be done, 2 for wrong usage. A finished
// test lands in the history the window shows, unless --no-history says otherwise.

#include <unistd.h>

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

#include "base/tcp_port.h"
#include "ui/history/history_store.h"
#include "ui/line_test/line_test.h"
#include "ui/line_test/line_test_report.h"

namespace {

const char Usage[] =
    "Aufruf: korvaden-check SERVER [--port N] [--json] [--phase-seconds S] [--no-history]\n"
    "Prüft die Leitung zu SERVER (Name oder Adresse, auf dem korvaden-server läuft): Latenz ohne Last,\n"
    "Download, Upload und beides zugleich, mit Note, Reaktionsfähigkeit (RPM) und Urteil.\n"
    "  --port N            Port des Servers (Vorgabe 2857)\n"
    "  --json              das Ergebnis als ein JSON-Objekt auf der Standardausgabe\n"
    "  --phase-seconds S   Dauer von Download, Upload und beidem in Sekunden (Vorgabe 10, 1 bis 120);\n"
    "                      der Leerlauf dauert halb so lang\n"
    "  --no-history        das Ergebnis nicht im Verlauf speichern\n"
    "Ende mit 0 nach einem vollständigen Test, 1 wenn nicht getestet werden konnte, 2 bei falschem Aufruf.\n";

struct TCommand {
  linetest::TOptions Options;
  bool Json = false;
  bool History = true;
  bool Help = false;
  QString Error;
};

TCommand Parse(const QStringList& args) {
  TCommand command;
  for (int i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    const auto value = [&]() -> QString {
      if (i + 1 < args.size()) return args[++i];
      command.Error = QStringLiteral("Zu %1 fehlt der Wert.").arg(arg);
      return {};
    };
    if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
      command.Help = true;
    } else if (arg == QLatin1String("--json")) {
      command.Json = true;
    } else if (arg == QLatin1String("--no-history")) {
      command.History = false;
    } else if (arg == QLatin1String("--port")) {
      const QString text = value();
      bool ok = false;
      const int port = text.toInt(&ok);
      if (command.Error.isEmpty() && (!ok || !IsValidPort(port)))
        command.Error = QStringLiteral("Die Port-Nr. %1 ist ungültig: Erlaubt sind 1 bis 65535.").arg(text);
      command.Options.Port = port;
    } else if (arg == QLatin1String("--phase-seconds")) {
      const QString text = value();
      bool ok = false;
      const double seconds = text.toDouble(&ok);
      if (command.Error.isEmpty() && (!ok || !(seconds >= 1 && seconds <= 120)))
        command.Error = QStringLiteral("Die Dauer %1 ist ungültig: Erlaubt sind 1 bis 120 Sekunden.").arg(text);
      command.Options.PhaseSeconds = seconds;
    } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
      command.Error = QStringLiteral("Unbekannte Option: %1").arg(arg);
    } else if (command.Options.Host.isEmpty()) {
      command.Options.Host = arg.trimmed();
    } else {
      command.Error = QStringLiteral("Nur ein Server, bitte: %1").arg(arg);
    }
    if (!command.Error.isEmpty()) return command;
  }
  if (!command.Help && command.Options.Host.isEmpty())
    command.Error = QStringLiteral("Welcher Server? Es fehlt SERVER.");
  return command;
}

void Print(std::FILE* stream, const QByteArray& text) {
  std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stream);
  std::fflush(stream);
}

// Into the history; a history that cannot take it costs a message, not the test's result.
void Keep(const linetest::TResult& result) {
  history::THistoryStore store;
  if (!store.Notice().isEmpty()) Print(stderr, "korvaden-check: " + store.Notice().toUtf8() + "\n");
  if (!store.StoreTest(result, QCoreApplication::applicationVersion()))
    Print(stderr, "korvaden-check: " + store.Error().toUtf8() + "\n");
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationVersion(QStringLiteral(KORVADEN_VERSION));
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  const TCommand command = Parse(args);
  if (command.Help) {
    Print(stdout, Usage);
    return 0;
  }
  if (!command.Error.isEmpty()) {
    Print(stderr, "korvaden-check: " + command.Error.toUtf8() + "\n" + Usage);
    return 2;
  }

  // Progress is for a person watching: a pipe or a log gets only the result.
  const bool showProgress = isatty(STDERR_FILENO);
  linetest::TLineTest test(command.Options);
  const double total = linetest::TotalLength(command.Options);
  int exitCode = 1;
  QObject::connect(&test, &linetest::TLineTest::AddressChosen, [&](const QString& address) {
    if (showProgress) Print(stderr, QStringLiteral("Teste %1 (%2) …\n").arg(command.Options.Host, address).toUtf8());
  });
  QObject::connect(&test, &linetest::TLineTest::PhaseStarted, [&](linetest::TPhase phase, double at) {
    if (!showProgress) return;
    const int left = static_cast<int>(std::ceil(total - at));
    Print(stderr, QStringLiteral("%1 … (noch etwa %2 s)\n").arg(linetest::PhaseName(phase)).arg(left).toUtf8());
  });
  QObject::connect(&test, &linetest::TLineTest::Finished, [&](const linetest::TResult& result) {
    if (!result.Error.isEmpty()) {
      Print(stderr, "korvaden-check: " + result.Error.toUtf8() + "\n");
      exitCode = 1;
    } else {
      Print(stdout, command.Json ? linetest::ReportJson(result) : linetest::ReportText(result).toUtf8());
      exitCode = 0;
      if (command.History) Keep(result);
    }
    QCoreApplication::quit();
  });
  test.Start();
  app.exec();
  return exitCode;
}
