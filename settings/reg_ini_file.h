#pragma once
// The per-user settings as the program used them when they lived in the registry: one key below
// HKEY_CURRENT_USER, opened for reading and writing values, modelled on the old TRegIniFile. They
// are kept in one file in the text format of registry exports (see registry_file.h).

#include <QString>
#include <cstdint>
#include <optional>

#include "settings/registry_store.h"

class TRegIniFile {
 public:
  // Opens keyPath (e.g. "Software\\Omvra-Soft\\KORVADEN"; a leading "\\" is dropped), creating it and
  // every missing parent in the file at once when absent. Failure is not reported: HasOpenKey() then
  // is false and every section is taken from the root (HKEY_CURRENT_USER) instead.
  explicit TRegIniFile(const QString& keyPath);
  ~TRegIniFile();

  bool HasOpenKey() const { return FOpen; }
  // The open key's path as given (without a leading "\\"); empty when no key is open.
  QString KeyPath() const { return FKeyPath; }

  // section: "" is the open key itself; otherwise a subkey path relative to it ("Form1\\Panel1"); a
  // section starting with "\\" is taken from the root instead, with that first "\\" dropped.
  // A missing subkey or value, or empty data of any type, gives the default. REG_SZ and REG_EXPAND_SZ
  // data count up to the first zero byte (not expanded), and ReadInteger converts them with
  // StrToIntDef. Any other type with data throws ERegistryException("Invalid data type for '<name>'").
  // A value that exists but cannot be read now throws ERegistryException("Failed to get data for '<name>'").
  std::int32_t ReadInteger(const QString& section, const QString& name, std::int32_t defaultValue);
  QString ReadString(const QString& section, const QString& name, const QString& defaultValue);

  // Store a REG_SZ value (integers in plain decimal), creating the section's key as needed. A failed
  // rewrite of the file throws ERegistryException("Failed to set data for '<name>'") when the key was
  // already in the file, and ERegistryException("Failed to create key <section>") when it was not.
  void WriteInteger(const QString& section, const QString& name, std::int32_t value);
  void WriteString(const QString& section, const QString& name, const QString& value);

 private:
  QString SectionPath(const QString& section) const;
  // The text of a REG_SZ or REG_EXPAND_SZ value with data; nothing for a missing or empty one.
  std::optional<QString> ReadText(const QString& section, const QString& name);

  TRegistryStore FStore;
  QString FKeyPath;
  bool FOpen = false;
};
