#pragma once
// The per-user settings file of a test run: written as a user or another program would, and read
// back the same way.

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include "settings/reg_ini_file.h"

namespace settingsfile {

inline const QString ProgramKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN");
inline const QString PlacementKey = ProgramKey + QStringLiteral("\\MainForm");

// Replaces the file with a REGEDIT4 text holding the given lines under the given key.
inline void Write(const QString& key, const QStringList& valueLines) {
  QFile::remove(RegistryFilePath());
  QDir().mkpath(QFileInfo(RegistryFilePath()).path());
  QFile file(RegistryFilePath());
  file.open(QIODevice::WriteOnly);
  file.write(("REGEDIT4\n\n[" + key + "]\n" + valueLines.join('\n') + "\n").toUtf8());
}

inline void Remove() { QFile::remove(RegistryFilePath()); }

inline QString Text() {
  QFile file(RegistryFilePath());
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The value lines of one key, in file order.
inline QStringList ValueLines(const QString& key) {
  QStringList lines;
  bool inKey = false;
  for (const QString& line : Text().split('\n')) {
    if (line.startsWith('[')) {
      inKey = line.compare("[" + key + "]", Qt::CaseInsensitive) == 0;
    } else if (inKey && !line.trimmed().isEmpty()) {
      lines << line.trimmed();
    }
  }
  return lines;
}

inline bool HasKey(const QString& key) { return Text().split('\n').contains("[" + key + "]", Qt::CaseInsensitive); }

}  // namespace settingsfile
