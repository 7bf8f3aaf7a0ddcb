#include "settings/program_settings.h"

#include "base/int_conversion.h"
#include "base/tcp_port.h"
#include "settings/registry_store.h"

namespace {
const QString ShowRoundTripName = QStringLiteral("ShowRoundTrip");
const QString DirectionName = QStringLiteral("Direction");
const QString KeepRunsName = QStringLiteral("KeepRuns");
}  // namespace

// A switch stored as text: only "1" is on; a missing value, any other text or data of another type
// is off, and never an error.
bool TProgramSettings::IsOne(const QString& name) {
  try {
    return FStore.ReadString(QString(), name, QString()) == QStringLiteral("1");
  } catch (const ERegistryException&) {
    return false;
  }
}

bool TProgramSettings::ExpertMode() {
  return FStore.ReadInteger(QString(), QStringLiteral("ProMode"), 0) == ExpertAccessCode;
}

std::int32_t TProgramSettings::BlockSize(std::int32_t fallback) {
  return FStore.ReadInteger(QString(), QStringLiteral("BlockSize"), fallback);
}

std::int32_t TProgramSettings::Port(std::int32_t fallback) {
  return FStore.ReadInteger(QString(), QStringLiteral("Port"), fallback);
}

TDirection TProgramSettings::Direction() { return IsOne(DirectionName) ? TDirection::Receive : TDirection::Send; }

void TProgramSettings::WriteDirection(TDirection direction) {
  FStore.WriteString(QString(), DirectionName,
                     direction == TDirection::Receive ? QStringLiteral("1") : QStringLiteral("0"));
}

void TProgramSettings::WriteExpertFields(const QString& blockSizeText, const QString& portText,
                                         std::int32_t portInForce) {
  FStore.WriteInteger(QString(), QStringLiteral("BlockSize"), StrToInt(blockSizeText));
  const std::int32_t port = StrToInt(portText);
  FStore.WriteInteger(QString(), QStringLiteral("Port"), IsValidPort(port) ? port : portInForce);
}

void TProgramSettings::EnableExpertMode() {
  FStore.WriteInteger(QString(), QStringLiteral("ProMode"), ExpertAccessCode);
}

bool TProgramSettings::ShowRoundTrip() { return IsOne(ShowRoundTripName); }

void TProgramSettings::WriteShowRoundTrip(bool shown) { WriteSwitch(ShowRoundTripName, shown); }

bool TProgramSettings::KeepRuns() { return IsOne(KeepRunsName); }

void TProgramSettings::WriteKeepRuns(bool kept) { WriteSwitch(KeepRunsName, kept); }

void TProgramSettings::WriteSwitch(const QString& name, bool on) {
  if (!on) {
    bool stored = true;  // data of another type or unreadable now: replaced as well
    try {
      stored = !FStore.ReadString(QString(), name, QString()).isEmpty();
    } catch (const ERegistryException&) {
    }
    if (!stored) return;
  }
  FStore.WriteString(QString(), name, on ? QStringLiteral("1") : QStringLiteral("0"));
}

QString TProgramSettings::ContractRate(const QString& name) {
  try {
    return FStore.ReadString(QString(), name, QString());
  } catch (const ERegistryException&) {
    return {};
  }
}

void TProgramSettings::WriteContractRate(const QString& name, const QString& text) {
  if (text.isEmpty() && ContractRate(name).isEmpty()) return;  // leaves no empty value behind
  FStore.WriteString(QString(), name, text);
}
