#include "ui/line_test/line_test_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "base/direction.h"
#include "measure/measure_texts.h"
#include "measure/number_format.h"

namespace linetest {
namespace {

QJsonValue Number(std::optional<double> value) {
  return value && std::isfinite(*value) ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonObject LatencyJson(const TLatency& latency) {
  return {{"median", Number(latency.MedianMs)}, {"p90", Number(latency.P90Ms)}};
}

QJsonObject DirectionJson(const TDirectionResult& d, TDirection direction) {
  const QString cause = LimitName(d.Cause, direction);
  return {{"mbit_s", Number(d.Mbit())},
          {"bytes", d.Measured ? QJsonValue(static_cast<double>(d.Bytes)) : QJsonValue()},
          {"seconds", d.Measured ? QJsonValue(d.Seconds) : QJsonValue()},
          {"connections", d.Connections},
          {"latency_ms", LatencyJson(d.Latency)},
          {"retransmitted_percent", Number(d.RetransPercent)},
          {"cause", cause.isEmpty() ? QJsonValue() : QJsonValue(cause)},
          {"window", QJsonObject{{"start_monotonic_ns", static_cast<double>(d.WindowStartNs)},
                                 {"end_monotonic_ns", static_cast<double>(d.WindowEndNs)}}}};
}

QString LatencyText(const TLatency& latency, const QLocale& locale) {
  if (!latency.MedianMs) return QStringLiteral("nicht bekannt");
  return QStringLiteral("%1 ms (90 %: %2 ms)")
      .arg(FormatMilliseconds(latency.MedianMs, locale), FormatMilliseconds(latency.P90Ms, locale));
}

QString AddedText(std::optional<double> ms, const QLocale& locale) {
  return ms ? QStringLiteral("+") + FormatMilliseconds(ms, locale) + QStringLiteral(" ms") : QStringLiteral("–");
}

QString DirectionText(const QString& name, const TDirectionResult& d, TDirection direction, const QLocale& locale) {
  if (!d.Measured) return name + QStringLiteral(": nicht gemessen");
  QString line = QStringLiteral("%1: %2, %3 Verbindung%4, Latenz %5")
                     .arg(name, RateText(d.Mbit(), locale))
                     .arg(d.Connections)
                     .arg(d.Connections == 1 ? QString() : QStringLiteral("en"), LatencyText(d.Latency, locale));
  if (d.RetransPercent) line += QStringLiteral(", erneut gesendet %1 %").arg(FormatFixed2(*d.RetransPercent, locale));
  if (const QString cause = LimitName(d.Cause, direction); !cause.isEmpty())
    line += QStringLiteral(", begrenzt durch: ") + cause;
  return line;
}

std::optional<double> Optional(const QJsonValue& value) {
  return value.isDouble() ? std::optional(value.toDouble()) : std::nullopt;
}

double Known(const QJsonValue& value) { return value.isDouble() ? value.toDouble() : NAN; }

TLatency LatencyFrom(const QJsonValue& json) {
  return {Optional(json[QLatin1String("median")]), Optional(json[QLatin1String("p90")]), 0};
}

TDirectionResult DirectionFrom(const QJsonValue& json, TDirection direction) {
  TDirectionResult d;
  d.Measured = json[QLatin1String("bytes")].isDouble();
  d.Bytes = static_cast<std::uint64_t>(json[QLatin1String("bytes")].toDouble());
  d.Seconds = json[QLatin1String("seconds")].toDouble();
  d.Connections = json[QLatin1String("connections")].toInt();
  d.Latency = LatencyFrom(json[QLatin1String("latency_ms")]);
  d.RetransPercent = Optional(json[QLatin1String("retransmitted_percent")]);
  const QString cause = json[QLatin1String("cause")].toString();
  for (const TRateLimit limit :
       {TRateLimit::Network, TRateLimit::ReceiveWindow, TRateLimit::SendBuffer, TRateLimit::Program}) {
    if (!cause.isEmpty() && LimitName(limit, direction) == cause) d.Cause = limit;
  }
  d.WindowStartNs =
      static_cast<std::int64_t>(json[QLatin1String("window")][QLatin1String("start_monotonic_ns")].toDouble());
  d.WindowEndNs =
      static_cast<std::int64_t>(json[QLatin1String("window")][QLatin1String("end_monotonic_ns")].toDouble());
  return d;
}

}  // namespace

std::optional<TResult> ResultFromJson(const QByteArray& text) {
  const QJsonDocument document = QJsonDocument::fromJson(text);
  if (!document.isObject()) return std::nullopt;
  const QJsonObject json = document.object();
  TResult r;
  r.Server = json[QLatin1String("server")].toString();
  r.Address = json[QLatin1String("address")].toString();
  r.Port = json[QLatin1String("port")].toInt();
  r.Start = QDateTime::fromString(json[QLatin1String("start")].toString(), Qt::ISODate);
  r.PhaseSeconds = json[QLatin1String("phase_seconds")].toDouble();
  r.Idle = LatencyFrom(json[QLatin1String("idle_latency_ms")]);
  r.Download = DirectionFrom(json[QLatin1String("download")], TDirection::Receive);
  r.Upload = DirectionFrom(json[QLatin1String("upload")], TDirection::Send);
  const QJsonValue both = json[QLatin1String("both")];
  r.Both.DownloadMbit = Optional(both[QLatin1String("download_mbit_s")]);
  r.Both.UploadMbit = Optional(both[QLatin1String("upload_mbit_s")]);
  r.Both.Latency = LatencyFrom(both[QLatin1String("latency_ms")]);
  r.Both.Measured = r.Both.DownloadMbit || r.Both.UploadMbit || r.Both.Latency.MedianMs;
  r.AddedLatencyMs = Optional(json[QLatin1String("added_latency_ms")]);
  const QJsonValue added = json[QLatin1String("added_latency_by_phase_ms")];
  r.AddedDownloadMs = Optional(added[QLatin1String("download")]);
  r.AddedUploadMs = Optional(added[QLatin1String("upload")]);
  r.AddedBothMs = Optional(added[QLatin1String("both")]);
  r.Grade = json[QLatin1String("grade")].toString();
  r.Rpm = Optional(json[QLatin1String("rpm")]);
  r.RpmClass = json[QLatin1String("rpm_class")].toString();
  r.Verdict = json[QLatin1String("verdict")].toString();
  for (const QJsonValue& missing : json[QLatin1String("missing")].toArray()) r.Missing << missing.toString();
  for (const QJsonValue& p : json[QLatin1String("points")].toArray()) {
    TPoint point{p[QLatin1String("seconds")].toDouble(), PhaseNamed(p[QLatin1String("phase")].toString()),
                 Known(p[QLatin1String("download_mbit_s")]), Known(p[QLatin1String("upload_mbit_s")]),
                 Known(p[QLatin1String("latency_ms")])};
    r.Points.push_back(point);
  }
  return r;
}

QString RateText(std::optional<double> mbit, const QLocale& locale) {
  if (!mbit) return {};
  return QStringLiteral("%1 Mbit/s (%2 kiB/s)")
      .arg(FormatFixed1(*mbit, locale), FormatWhole(*mbit * 1e6 / 8 / 1024, locale));
}

QString ReportText(const TResult& r, const QLocale& locale) {
  QStringList lines;
  lines << QStringLiteral("Leitungstest gegen %1 (%2, Port %3), %4")
               .arg(r.Server, r.Address)
               .arg(r.Port)
               .arg(GermanDateTime(r.Start));
  lines << QStringLiteral("Latenz ohne Last: ") + LatencyText(r.Idle, locale);
  lines << DirectionText(QStringLiteral("Download"), r.Download, TDirection::Receive, locale);
  lines << DirectionText(QStringLiteral("Upload"), r.Upload, TDirection::Send, locale);
  if (r.Both.Measured) {
    QStringList both;
    if (r.Both.DownloadMbit) both << QStringLiteral("Download ") + RateText(r.Both.DownloadMbit, locale);
    if (r.Both.UploadMbit) both << QStringLiteral("Upload ") + RateText(r.Both.UploadMbit, locale);
    both << QStringLiteral("Latenz ") + LatencyText(r.Both.Latency, locale);
    lines << QStringLiteral("Beides: ") + both.join(QStringLiteral(", "));
  }
  lines << QStringLiteral("Zusätzliche Latenz unter Last: Download %1, Upload %2, beides %3")
               .arg(AddedText(r.AddedDownloadMs, locale), AddedText(r.AddedUploadMs, locale),
                    AddedText(r.AddedBothMs, locale));
  if (!r.Grade.isEmpty()) {
    lines << QStringLiteral("Note: %1 (zusätzliche Latenz im Mittel %2 ms)")
                 .arg(r.Grade, FormatMilliseconds(r.AddedLatencyMs, locale));
  }
  if (r.Rpm) {
    lines << QStringLiteral("Reaktionsfähigkeit: %1 RPM (%2)").arg(FormatWhole(*r.Rpm, locale), r.RpmClass);
  }
  lines << QString() << QStringLiteral("Urteil: ") + r.Verdict;
  for (const QString& missing : r.Missing) lines << QStringLiteral("Nicht gemessen: ") + missing;
  return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray ReportJson(const TResult& r, bool withPoints) {
  QJsonObject both{{"download_mbit_s", Number(r.Both.DownloadMbit)},
                   {"upload_mbit_s", Number(r.Both.UploadMbit)},
                   {"latency_ms", LatencyJson(r.Both.Latency)}};
  QJsonObject json{{"server", r.Server},
                   {"address", r.Address},
                   {"port", r.Port},
                   {"start", r.Start.toOffsetFromUtc(r.Start.offsetFromUtc()).toString(Qt::ISODate)},
                   {"phase_seconds", r.PhaseSeconds},
                   {"idle_latency_ms", LatencyJson(r.Idle)},
                   {"download", DirectionJson(r.Download, TDirection::Receive)},
                   {"upload", DirectionJson(r.Upload, TDirection::Send)},
                   {"both", both},
                   {"added_latency_ms", Number(r.AddedLatencyMs)},
                   {"added_latency_by_phase_ms", QJsonObject{{"download", Number(r.AddedDownloadMs)},
                                                             {"upload", Number(r.AddedUploadMs)},
                                                             {"both", Number(r.AddedBothMs)}}},
                   {"grade", r.Grade.isEmpty() ? QJsonValue() : QJsonValue(r.Grade)},
                   {"rpm", Number(r.Rpm)},
                   {"rpm_class", r.RpmClass.isEmpty() ? QJsonValue() : QJsonValue(r.RpmClass)},
                   {"verdict", r.Verdict},
                   {"missing", QJsonArray::fromStringList(r.Missing)}};
  QJsonArray points;
  for (const TPoint& p : withPoints ? r.Points : std::vector<TPoint>{}) {
    points.append(QJsonObject{{"seconds", p.Seconds},
                              {"phase", PhaseName(p.Phase)},
                              {"download_mbit_s", Number(p.DownloadMbit)},
                              {"upload_mbit_s", Number(p.UploadMbit)},
                              {"latency_ms", Number(p.LatencyMs)}});
  }
  if (withPoints) json.insert("points", points);
  return QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n';
}

QString ReportCsv(const TResult& r, const QLocale& locale) {
  const auto number = [&](std::optional<double> value) { return value ? FormatFixed2(*value, locale) : QString(); };
  QStringList lines;
  const auto row = [&](const QString& label, const QString& value) { lines << label + QLatin1Char(';') + value; };
  row(QStringLiteral("Server"), r.Server);
  row(QStringLiteral("Adresse"), r.Address);
  row(QStringLiteral("Port"), QString::number(r.Port));
  row(QStringLiteral("Start"), r.Start.toOffsetFromUtc(r.Start.offsetFromUtc()).toString(Qt::ISODate));
  row(QStringLiteral("Latenz ohne Last (ms)"), number(r.Idle.MedianMs));
  row(QStringLiteral("Download (Mbit/s)"), number(r.Download.Mbit()));
  row(QStringLiteral("Download-Verbindungen"), QString::number(r.Download.Connections));
  row(QStringLiteral("Latenz im Download (ms)"), number(r.Download.Latency.MedianMs));
  row(QStringLiteral("Upload (Mbit/s)"), number(r.Upload.Mbit()));
  row(QStringLiteral("Upload-Verbindungen"), QString::number(r.Upload.Connections));
  row(QStringLiteral("Latenz im Upload (ms)"), number(r.Upload.Latency.MedianMs));
  row(QStringLiteral("Beides: Download (Mbit/s)"), number(r.Both.DownloadMbit));
  row(QStringLiteral("Beides: Upload (Mbit/s)"), number(r.Both.UploadMbit));
  row(QStringLiteral("Latenz bei beidem (ms)"), number(r.Both.Latency.MedianMs));
  row(QStringLiteral("Zusätzliche Latenz (ms)"), number(r.AddedLatencyMs));
  row(QStringLiteral("Note"), r.Grade);
  row(QStringLiteral("RPM"), r.Rpm ? FormatWhole(*r.Rpm, locale) : QString());
  row(QStringLiteral("Urteil"), QLatin1Char('"') + QString(r.Verdict).replace('"', QStringLiteral("\"\"")) + '"');
  lines << QStringLiteral("Sekunden;Abschnitt;Download (Mbit/s);Upload (Mbit/s);Latenz (ms)");
  const auto known = [&](double value) { return std::isfinite(value) ? FormatFixed2(value, locale) : QString(); };
  for (const TPoint& p : r.Points) {
    lines << QStringList{FormatFixed2(p.Seconds, locale), PhaseName(p.Phase), known(p.DownloadMbit),
                         known(p.UploadMbit), known(p.LatencyMs)}
                 .join(QLatin1Char(';'));
  }
  return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

}  // namespace linetest
