#include "server/options.h"
#include "server/report_lines.h"

#include <gtest/gtest.h>

namespace korvaden {
namespace {

TEST(OptionsTest, DefaultsToAllAddressesAndPort2857) {
  const ParseResult result = ParseArguments({});
  EXPECT_EQ(result.outcome, ParseOutcome::Run);
  EXPECT_EQ(result.options.bindAddress, "::");
  EXPECT_EQ(result.options.port, 2857);
}

TEST(OptionsTest, AcceptsShortLongAndEqualsForms) {
  auto result = ParseArguments({"-p", "0", "-b", "127.0.0.1"});
  ASSERT_EQ(result.outcome, ParseOutcome::Run);
  EXPECT_EQ(result.options.port, 0);
  EXPECT_EQ(result.options.bindAddress, "127.0.0.1");

  result = ParseArguments({"--port=65535", "--bind", "10.1.2.3"});
  ASSERT_EQ(result.outcome, ParseOutcome::Run);
  EXPECT_EQ(result.options.port, 65535);
  EXPECT_EQ(result.options.bindAddress, "10.1.2.3");

  result = ParseArguments({"-b", "2001:db8::1", "--idle-timeout", "60", "--max-duration=30", "--max-connections", "100",
                           "--receive-buffer=1073741824", "--json", "--once", "--no-download"});
  ASSERT_EQ(result.outcome, ParseOutcome::Run) << result.error;
  EXPECT_EQ(result.options.bindAddress, "2001:db8::1");
  EXPECT_EQ(result.options.limits.idleTimeoutSeconds, 60u);
  EXPECT_EQ(result.options.limits.maxDurationSeconds, 30u);
  EXPECT_EQ(result.options.limits.maxConnections, 100u);
  EXPECT_EQ(result.options.receiveBufferBytes, 1073741824u);
  EXPECT_TRUE(result.options.json);
  EXPECT_TRUE(result.options.limits.once);
  EXPECT_TRUE(result.options.limits.refuseDownloads);
  EXPECT_FALSE(ParseArguments({}).options.limits.refuseDownloads);
}

TEST(OptionsTest, HelpWins) {
  EXPECT_EQ(ParseArguments({"-p", "1", "-h"}).outcome, ParseOutcome::ShowHelp);
  EXPECT_EQ(ParseArguments({"--help"}).outcome, ParseOutcome::ShowHelp);
}

TEST(OptionsTest, RejectsNonsense) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--port", "65536"},
                                                                {"-p", "-1"},
                                                                {"-p", "12x"},
                                                                {"-p", ""},
                                                                {"-p"},
                                                                {"--bind", "256.0.0.1"},
                                                                {"--bind", "localhost"},
                                                                {"--verbose"},
                                                                {"5000"},
                                                                {"--help=yes"},
                                                                {"--po", "5000"},
                                                                {"-p5000"},
                                                                {"-hb"},
                                                                {"--"},
                                                                {"--idle-timeout", "0"},
                                                                {"--max-duration", "86401"},
                                                                {"--max-connections", "-1"},
                                                                {"--receive-buffer", "0"},
                                                                {"--receive-buffer", "1073741825"},
                                                                {"--json=1"}}) {
    const ParseResult result = ParseArguments(args);
    EXPECT_EQ(result.outcome, ParseOutcome::Invalid) << args[0];
    EXPECT_FALSE(result.error.empty());
  }
}

TEST(ReportLinesTest, HaveTheirDocumentedShape) {
  EXPECT_EQ(ListeningLine("127.0.0.1", 2857), "korvaden-server lauscht auf 127.0.0.1:2857");
  EXPECT_EQ(IntervalLine(1, "127.0.0.1:54321", 1.0, 123456789, 1.0),
            "[Verbindung 1 von 127.0.0.1:54321] 1.00 s: 123456789 Bytes, 117.74 MiB/s");
  EXPECT_EQ(SummaryLine(3, 1048576, 2.0, EndReason::Closed),
            "[Verbindung 3] beendet: 1048576 Bytes in 2.00 s, 0.50 MiB/s (geschlossen)");
  EXPECT_EQ(SummaryLine(4, 0, 0.0, EndReason::Reset),
            "[Verbindung 4] beendet: 0 Bytes in 0.00 s, 0.00 MiB/s (zurückgesetzt)");
  EXPECT_TRUE(SummaryLine(5, 10, 1.0, EndReason::ServerStopped).ends_with(" (Server beendet)"));
  EXPECT_TRUE(SummaryLine(6, 10, 1.0, EndReason::Error, EPIPE).ends_with("(Fehler: Broken pipe)"));
  EXPECT_EQ(IntervalLine(8, "127.0.0.1:54321", 1.0, 1048576, 1.0, TDirection::Receive),
            "[Verbindung 8 von 127.0.0.1:54321] 1.00 s: 1048576 Bytes gesendet, 1.00 MiB/s");
  EXPECT_EQ(SummaryLine(8, 1048576, 2.0, EndReason::Closed, 0, TDirection::Receive),
            "[Verbindung 8] beendet: 1048576 Bytes gesendet in 2.00 s, 0.50 MiB/s (geschlossen)");

  Report ended;
  ended.kind = Report::Kind::Ended;
  ended.connection = 7;
  ended.peer = "[2001:db8::1]:5000";
  ended.seconds = 2;
  ended.bytes = 2097152;
  ended.reason = EndReason::MaxDuration;
  EXPECT_EQ(JsonLine(ended, "2026-12-08T05:20:01.123+01:00"),
            R"({"event":"end","time":"2026-12-08T05:20:01.123+01:00","connection":7,"peer":"[2001:db8::1]:5000",)"
            R"("direction":"upload","seconds":2.00,"bytes":2097152,"rate":1.00,"reason":"Höchstdauer erreicht"})");
  Report refused;
  refused.kind = Report::Kind::Refused;
  refused.connection = 9;
  refused.peer = "127.0.0.1:5000";
  refused.direction = TDirection::Receive;
  EXPECT_EQ(PlainLine(refused), "[Verbindung 9 von 127.0.0.1:5000] abgewiesen: Download abgeschaltet");
  EXPECT_EQ(JsonLine(refused, "t"), R"({"event":"refused","time":"t","connection":9,"peer":"127.0.0.1:5000",)"
                                    R"("direction":"download","reason":"Download abgeschaltet"})");
  Report problem;
  problem.message = "a \"quoted\"\ttext";
  EXPECT_EQ(JsonLine(problem, "t"), R"({"event":"error","time":"t","message":"a \"quoted\"\u0009text"})");
}

// A value with a line break and a terminal escape must not forge a log line.
TEST(OptionsTest, ValuesAreEchoedWithControlCharactersEscaped) {
  const std::string forged = "1.2.3.4\n2026-12-08 05:20:01 [Verbindung 9] beendet\x1b[2J\\";
  const std::string error = ParseArguments({"--bind", forged}).error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
  EXPECT_EQ(error.find('\x1b'), std::string::npos);
  EXPECT_NE(error.find(R"(1.2.3.4\n2026)"), std::string::npos) << error;
  EXPECT_NE(error.find(R"(\x1b[2J\\)"), std::string::npos) << error;
  EXPECT_EQ(ParseArguments({"--x\ry"}).error, R"(Unbekannte Option: --x\x0dy)");
}

}  // namespace
}  // namespace korvaden
