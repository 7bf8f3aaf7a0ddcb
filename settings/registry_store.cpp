#include "settings/registry_store.h"

#include <QDir>
#include <QFile>

#include "settings/registry_file.h"
#include "settings/registry_tree.h"

namespace {
const std::string RootKey = "HKEY_CURRENT_USER";

TRegFileValue ToFileValue(const TRegValue& value) {
  return TRegFileValue{value.Name.toStdString(), value.Type, std::string(value.Data.constData(), value.Data.size())};
}

const TRegFileValue* Lookup(const TRegFileDocument& document, const std::string& keyPath, const QString& name) {
  return FindRegValue(document, keyPath, name.toStdString());
}
}  // namespace

QString RegistryFilePath() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty()) home = QDir::homePath();
    base = home + QStringLiteral("/.config");
  }
  return base + QStringLiteral("/Omvra-Soft/registry.reg");
}

std::optional<std::string> FullRegKeyPath(const QString& keyPath) {
  std::string full = RootKey;
  if (keyPath.isEmpty()) return full;
  for (const QString& part : keyPath.split(QLatin1Char('\\'))) {
    if (part.isEmpty() || part.contains(QLatin1Char('\n')) || part.contains(QLatin1Char('\r'))) return std::nullopt;
    full += '\\';
    full += part.toStdString();
  }
  return full;
}

TRegistryStore::TRegistryStore(const QString& filePath)
    : FFilePath(filePath), FNativePath(QFile::encodeName(filePath).toStdString()) {}

const TRegFileDocument* TRegistryStore::Reread() const {
  TRegFileSnapshot snapshot = ReadRegistryFile(FNativePath);
  if (snapshot.State == TRegFileState::Unreadable) return nullptr;
  FLastRead = std::move(snapshot.Content.Document);
  return &*FLastRead;
}

bool TRegistryStore::KeyExists(const QString& keyPath) const {
  const auto full = FullRegKeyPath(keyPath);
  if (!full) return false;
  if (*full == RootKey) return true;
  const TRegFileDocument* document = Reread();
  return document && RegKeyExists(*document, *full);
}

std::optional<TRegValue> TRegistryStore::Value(const QString& keyPath, const QString& name) const {
  const auto full = FullRegKeyPath(keyPath);
  if (!full) return std::nullopt;
  const TRegFileDocument* document = Reread();
  if (!document) {
    if (FLastRead && Lookup(*FLastRead, *full, name)) {
      throw ERegistryException("Failed to get data for '" + name.toStdString() + "'");
    }
    return std::nullopt;
  }
  const TRegFileValue* value = Lookup(*document, *full, name);
  if (!value) return std::nullopt;
  return TRegValue{QString::fromStdString(value->Name), value->Type,
                   QByteArray(value->Data.data(), static_cast<qsizetype>(value->Data.size()))};
}

bool TRegistryStore::CreateKey(const QString& keyPath) {
  const auto full = FullRegKeyPath(keyPath);
  if (!full) return false;
  if (KeyExists(keyPath)) return true;
  return UpdateRegistryFile(FNativePath, [&](TRegFileDocument& document) {
    if (RegKeyExists(document, *full)) return false;
    EnsureRegKey(document, *full);
    return true;
  });
}

TRegistryStore::TWriteResult TRegistryStore::TrySetValue(const QString& keyPath, const TRegValue& value) {
  const auto full = FullRegKeyPath(keyPath);
  if (!full) return TWriteResult::KeyFailed;
  // A line break cannot be written inside a name; nothing else in a name needs care.
  if (value.Name.contains(QLatin1Char('\n'))) return TWriteResult::ValueFailed;
  // When the file cannot be read, the key is judged by what it held when it last could be.
  bool keyExisted = *full == RootKey || (FLastRead && RegKeyExists(*FLastRead, *full));
  std::optional<TRegFileDocument> written;
  const bool saved = UpdateRegistryFile(FNativePath, [&](TRegFileDocument& document) {
    keyExisted = *full == RootKey || RegKeyExists(document, *full);
    if (!SetRegValue(document, *full, ToFileValue(value))) return false;
    written = document;
    return true;
  });
  if (!saved) return keyExisted ? TWriteResult::ValueFailed : TWriteResult::KeyFailed;
  if (written) FLastRead = std::move(written);
  return TWriteResult::Ok;
}

void TRegistryStore::SetValue(const QString& keyPath, const TRegValue& value) {
  switch (TrySetValue(keyPath, value)) {
    case TWriteResult::Ok: return;
    case TWriteResult::KeyFailed: throw ERegistryException("Failed to create key " + keyPath.toStdString());
    case TWriteResult::ValueFailed:
      throw ERegistryException("Failed to set data for '" + value.Name.toStdString() + "'");
  }
}
