#pragma once
// Raw access to the per-user settings file, by key path below HKEY_CURRENT_USER ("" is that root
// itself, "Software\\Omvra-Soft" a key below it). For tests and tools; the program itself goes
// through TRegIniFile. Every call reads the file afresh, so other processes' changes are seen at once.
// One object must not be used by two threads at the same time; separate objects may.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "settings/registry_format.h"

class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;  // message in UTF-8
};

// Registry value types.
constexpr std::uint32_t REG_NONE = 0, REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4, REG_MULTI_SZ = 7;

// $XDG_CONFIG_HOME/Omvra-Soft/registry.reg, or below $HOME/.config when that is unset or relative.
QString RegistryFilePath();

struct TRegValue {
  QString Name;
  std::uint32_t Type = REG_NONE;
  QByteArray Data;  // REG_SZ: the UTF-8 text and one terminating zero byte
};

class TRegistryStore {
 public:
  enum class TWriteResult { Ok, KeyFailed, ValueFailed };

  explicit TRegistryStore(const QString& filePath = RegistryFilePath());

  QString FilePath() const { return FFilePath; }
  // A file that cannot be read counts as holding no keys.
  bool KeyExists(const QString& keyPath) const;
  // Missing when the key or the value is absent. When the file cannot be read now but held the value
  // when this object last read it, the value exists without its data being available:
  // ERegistryException("Failed to get data for '<name>'").
  std::optional<TRegValue> Value(const QString& keyPath, const QString& name) const;

  // Creates the key and its missing parents; true when it exists afterwards.
  bool CreateKey(const QString& keyPath);
  // Creates the key as needed. KeyFailed when the key was not in the file beforehand (or the file
  // could not be read) and the change could not be saved, ValueFailed when only the value could not.
  TWriteResult TrySetValue(const QString& keyPath, const TRegValue& value);
  // As TrySetValue, throwing "Failed to create key <keyPath>" or "Failed to set data for '<name>'".
  void SetValue(const QString& keyPath, const TRegValue& value);

 private:
  // Reads the file into FLastRead; nullptr when it cannot be read, FLastRead then keeps the older contents.
  const TRegFileDocument* Reread() const;

  QString FFilePath;
  std::string FNativePath;
  // What the file held at the last successful read, to tell an unreadable value from a missing one.
  mutable std::optional<TRegFileDocument> FLastRead;
};

// The full path of a key below HKEY_CURRENT_USER as the file writes it, or nothing when the path
// cannot name a key: an empty part (as in "a\\\\b") or a line break.
std::optional<std::string> FullRegKeyPath(const QString& keyPath);
