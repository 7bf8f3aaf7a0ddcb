#pragma once
// Every test gets its own configuration folder: XDG_CONFIG_HOME points into a fresh temporary folder.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <string>

#include "settings/reg_ini_file.h"
#include "tests/support/qstring_printer.h"

class TSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FHome.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FHome.path()));
  }
  void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }

  QString ConfigDir() const { return FHome.path() + QStringLiteral("/Omvra-Soft"); }
  QString FilePath() const { return ConfigDir() + QStringLiteral("/registry.reg"); }

  void WriteFile(const QByteArray& bytes) const {
    QDir().mkpath(ConfigDir());
    QFile file(FilePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
  }

  QByteArray ReadFile() const {
    QFile file(FilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  // The damaged originals kept beside the file, oldest name first.
  QStringList Backups() const {
    return QDir(ConfigDir()).entryList({QStringLiteral("registry.reg.beschaedigt-*")}, QDir::Files, QDir::Name);
  }

  QTemporaryDir FHome;
};

inline QByteArray Sz(const char* text) { return QByteArray(text) + '\0'; }

// The message of the ERegistryException the action raised.
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ERegistryException& error) {
    return error.what();
  }
  return "<no error>";
}
