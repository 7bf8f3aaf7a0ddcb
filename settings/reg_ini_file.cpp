#include "settings/reg_ini_file.h"

#include "base/int_conversion.h"

TRegIniFile::TRegIniFile(const QString& keyPath) {
  const QString path = keyPath.startsWith(QLatin1Char('\\')) ? keyPath.mid(1) : keyPath;
  FOpen = FStore.CreateKey(path);
  if (FOpen) FKeyPath = path;
}

TRegIniFile::~TRegIniFile() = default;

QString TRegIniFile::SectionPath(const QString& section) const {
  if (section.isEmpty()) return FKeyPath;
  if (section.startsWith(QLatin1Char('\\'))) return section.mid(1);
  return FKeyPath.isEmpty() ? section : FKeyPath + QLatin1Char('\\') + section;
}

std::optional<QString> TRegIniFile::ReadText(const QString& section, const QString& name) {
  const std::optional<TRegValue> value = FStore.Value(SectionPath(section), name);
  if (!value || value->Data.isEmpty()) return std::nullopt;
  if (value->Type != REG_SZ && value->Type != REG_EXPAND_SZ) {
    throw ERegistryException("Invalid data type for '" + name.toStdString() + "'");
  }
  const qsizetype end = value->Data.indexOf('\0');
  return QString::fromUtf8(end < 0 ? value->Data : value->Data.left(end));
}

std::int32_t TRegIniFile::ReadInteger(const QString& section, const QString& name, std::int32_t defaultValue) {
  const std::optional<QString> text = ReadText(section, name);
  return text ? StrToIntDef(*text, defaultValue) : defaultValue;
}

QString TRegIniFile::ReadString(const QString& section, const QString& name, const QString& defaultValue) {
  return ReadText(section, name).value_or(defaultValue);
}

void TRegIniFile::WriteInteger(const QString& section, const QString& name, std::int32_t value) {
  WriteString(section, name, IntToStr(value));
}

void TRegIniFile::WriteString(const QString& section, const QString& name, const QString& value) {
  QByteArray data = value.toUtf8();
  data.append('\0');
  switch (FStore.TrySetValue(SectionPath(section), TRegValue{name, REG_SZ, data})) {
    case TRegistryStore::TWriteResult::Ok: return;
    case TRegistryStore::TWriteResult::KeyFailed:
      throw ERegistryException("Failed to create key " + section.toStdString());
    case TRegistryStore::TWriteResult::ValueFailed:
      throw ERegistryException("Failed to set data for '" + name.toStdString() + "'");
  }
}
