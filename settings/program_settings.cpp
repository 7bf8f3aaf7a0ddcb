#include "settings/program_settings.h"

#include "base/int_conversion.h"
#include "base/tcp_port.h"

namespace {
const QString DirectionName = QStringLiteral("Direction");
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

TDirection TProgramSettings::Direction() {
  try {
    return FStore.ReadString(QString(), DirectionName, QString()) == QStringLiteral("1") ? TDirection::Receive
                                                                                         : TDirection::Send;
  } catch (...) {
    // A value of another type is no direction: the run sends, as it always did.
    return TDirection::Send;
  }
}

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
