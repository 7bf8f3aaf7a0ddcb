#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRegularExpression>

#include "settings/registry_file.h"
#include "tests/settings/settings_fixture.h"
#include "tests/support/file_access.h"

namespace {
const QString Key = QStringLiteral("Software\\Omvra-Soft\\KORVADEN");
const QString Left = QStringLiteral("Left");

class TRegistryRobustnessTest : public TSettingsTest {
 protected:
  bool FileUnderstood() const {
    const TRegFileSnapshot snapshot = ReadRegistryFile(FilePath().toStdString());
    return snapshot.State == TRegFileState::Read && snapshot.Content.FullyUnderstood;
  }
  QByteArray ReadBackup(const QString& name) const {
    QFile file(ConfigDir() + QLatin1Char('/') + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
  }
};

// Root ignores permission bits, so tests that rely on them cannot run as root.
TEST_F(TRegistryRobustnessTest, AMissingFileReadsAsDefaultsAndReadingCreatesNothing) {
  TRegistryStore store;
  EXPECT_FALSE(store.KeyExists(Key));
  EXPECT_FALSE(store.Value(Key, Left));
  EXPECT_FALSE(QFileInfo::exists(ConfigDir()));
}

TEST_F(TRegistryRobustnessTest, AnEmptyFileIsNoDamage) {
  WriteFile({});
  TRegIniFile ini(Key);
  EXPECT_TRUE(ini.HasOpenKey());
  EXPECT_EQ(ini.ReadInteger(QString(), Left, 3), 3);
  EXPECT_TRUE(Backups().isEmpty());
  EXPECT_TRUE(FileUnderstood());
}

TEST_F(TRegistryRobustnessTest, ValuesAroundBadOnesStillRead) {
  WriteFile(
      "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN]\n\"Left\"=\"1\"\n\"Nine\"=dword:000000001\n"
      "\"Escape\"=\"a\\tb\"\n\"Odd\"=hex:1\nnonsense line\n\"Top\"=\"2\"\n");
  TRegIniFile ini(Key);
  EXPECT_EQ(ini.ReadInteger(QString(), Left, 0), 1);
  EXPECT_EQ(ini.ReadInteger(QString(), QStringLiteral("Top"), 0), 2);
  for (const char* name : {"Nine", "Escape", "Odd"}) EXPECT_EQ(ini.ReadInteger(QString(), QLatin1String(name), 7), 7);
}

// People edit this file by hand: whatever they wrote stays where they wrote it, and only the
// values the program writes change.
TEST_F(TRegistryRobustnessTest, EveryLineSurvivesARewriteInPlace) {
  const QByteArray handWritten =
      "; Einstellungen von Hand\r\n\r\nREGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN]\r\n"
      "; Expertenmodus an\r\n\"ProMode\" = \"5594\"\r\n\"Left\"=\"5\"\r\nnonsense line\r\n"
      "\"Blob\"=hex:01,02,\\\r\n";
  WriteFile(handWritten);
  TRegIniFile ini(Key);
  EXPECT_EQ(ini.ReadInteger(QString(), QStringLiteral("ProMode"), 0), 5594);
  ini.WriteInteger(QString(), Left, 6);
  ini.WriteInteger(QString(), QStringLiteral("Top"), 7);
  ini.WriteInteger(QStringLiteral("MainForm"), QStringLiteral("State"), 0);
  EXPECT_EQ(ReadFile().toStdString(),
            "; Einstellungen von Hand\r\n\r\nREGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN]\r\n"
            "; Expertenmodus an\r\n\"ProMode\" = \"5594\"\r\n\"Left\"=\"6\"\r\n\"Top\"=\"7\"\r\nnonsense line\r\n"
            "\"Blob\"=hex:01,02,\\\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN\\MainForm]\r\n\"State\"=\"0\"\r\n");
  EXPECT_TRUE(Backups().isEmpty());  // nothing was lost, so there is nothing to keep aside
}

TEST_F(TRegistryRobustnessTest, AFileOfAnotherFormatIsKeptBesideOnceBeforeItsFirstRewrite) {
  TRegIniFile ini(Key);
  const QByteArray binary(
      "\x7f"
      "ELF\x02\x01\x01\x00\x00\xff\xfe\n\r\x00[",
      15);
  WriteFile(binary);
  EXPECT_EQ(ini.ReadInteger(QString(), Left, 9), 9);
  EXPECT_TRUE(Backups().isEmpty());  // reading changes nothing
  ini.WriteInteger(QString(), Left, 8);
  const QStringList backups = Backups();
  ASSERT_EQ(backups.size(), 1);
  EXPECT_TRUE(
      QRegularExpression(QStringLiteral("^registry\\.reg\\.beschaedigt-\\d{8}-\\d{6}$")).match(backups[0]).hasMatch())
      << backups[0];
  EXPECT_EQ(ReadBackup(backups[0]), binary);
  EXPECT_TRUE(FileUnderstood());
  ini.WriteInteger(QString(), Left, 7);
  EXPECT_EQ(Backups(), backups);
  EXPECT_EQ(ini.ReadInteger(QString(), Left, 0), 7);
}

TEST_F(TRegistryRobustnessTest, AnEnormousFileIsNotReadButKeptAside) {
  constexpr off_t Size = 300LL * 1024 * 1024;  // sparse: costs no disk space
  WriteFile("REGEDIT4\n");
  ASSERT_EQ(::truncate(QFile::encodeName(FilePath()).constData(), Size), 0);
  TRegIniFile ini(Key);
  EXPECT_TRUE(ini.HasOpenKey());
  EXPECT_EQ(ini.ReadInteger(QString(), Left, 4), 4);
  ASSERT_EQ(Backups().size(), 1);
  EXPECT_EQ(QFileInfo(ConfigDir() + QLatin1Char('/') + Backups()[0]).size(), Size);
  EXPECT_LT(QFileInfo(FilePath()).size(), 1000);
}

TEST_F(TRegistryRobustnessTest, ALinkedFileStaysALink) {
  const QString target = FHome.path() + QStringLiteral("/dotfiles/registry.reg");
  QDir().mkpath(FHome.path() + QStringLiteral("/dotfiles"));
  QDir().mkpath(ConfigDir());
  ASSERT_TRUE(QFile::link(target, FilePath()));
  TRegIniFile(Key).WriteInteger(QString(), Left, 9);
  EXPECT_TRUE(QFileInfo(FilePath()).isSymLink());
  QFile file(target);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_NE(file.readAll().indexOf("\"Left\"=\"9\""), -1);
}

TEST_F(TRegistryRobustnessTest, AFolderInPlaceOfTheFileOpensNothing) {
  ASSERT_TRUE(QDir().mkpath(FilePath()));
  TRegIniFile ini(Key);
  EXPECT_FALSE(ini.HasOpenKey());
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Form1"), Left, 2), 2);
  EXPECT_EQ(ErrorOf([&] { ini.WriteInteger(QStringLiteral("Form1"), Left, 1); }), "Failed to create key Form1");
  EXPECT_TRUE(QFileInfo(FilePath()).isDir());
}

TEST_F(TRegistryRobustnessTest, AFifoInPlaceOfTheFileDoesNotHang) {
  QDir().mkpath(ConfigDir());
  ASSERT_EQ(::mkfifo(QFile::encodeName(FilePath()).constData(), 0600), 0);
  TRegIniFile ini(Key);
  EXPECT_FALSE(ini.HasOpenKey());
  EXPECT_EQ(ini.ReadInteger(QString(), Left, 2), 2);
}

TEST_F(TRegistryRobustnessTest, AValueThatCanNoLongerBeReadIsAnError) {
  TRegIniFile ini(Key);
  ini.WriteInteger(QString(), Left, 1);
  ASSERT_TRUE(QFile::remove(FilePath()));
  ASSERT_TRUE(QDir().mkpath(FilePath()));
  EXPECT_EQ(ErrorOf([&] { ini.ReadInteger(QString(), Left, 0); }), "Failed to get data for 'Left'");
  EXPECT_EQ(ini.ReadInteger(QString(), QStringLiteral("Other"), 3), 3);
  EXPECT_EQ(ErrorOf([&] { ini.WriteInteger(QString(), Left, 2); }), "Failed to set data for 'Left'");
  EXPECT_EQ(ErrorOf([&] { ini.WriteInteger(QStringLiteral("New"), Left, 2); }), "Failed to create key New");
}

TEST_F(TRegistryRobustnessTest, AnUnreadableFileOpensNothing) {
  const testsupport::TWithoutFileOverride asUser;
  WriteFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN]\n\"Left\"=\"1\"\n");
  ASSERT_EQ(::chmod(QFile::encodeName(FilePath()).constData(), 0), 0);
  TRegIniFile ini(Key);
  EXPECT_FALSE(ini.HasOpenKey());
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Form1"), Left, 2), 2);
  EXPECT_EQ(ErrorOf([&] { ini.WriteInteger(QStringLiteral("Form1"), Left, 1); }), "Failed to create key Form1");
  ::chmod(QFile::encodeName(FilePath()).constData(), 0600);
}

TEST_F(TRegistryRobustnessTest, AReadOnlyFolderRefusesChangesOfExistingKeysAsValueFailures) {
  const testsupport::TWithoutFileOverride asUser;
  TRegIniFile ini(Key);
  ASSERT_EQ(::chmod(QFile::encodeName(ConfigDir()).constData(), 0555), 0);
  EXPECT_EQ(ErrorOf([&] { ini.WriteInteger(QString(), Left, 1); }), "Failed to set data for 'Left'");
  EXPECT_EQ(ErrorOf([&] { ini.WriteInteger(QStringLiteral("Form1"), Left, 1); }), "Failed to create key Form1");
  EXPECT_EQ(ini.ReadInteger(QString(), Left, 2), 2);
  ::chmod(QFile::encodeName(ConfigDir()).constData(), 0755);
}

TEST_F(TRegistryRobustnessTest, AConfigurationFolderThatCannotBeCreatedOnlyFailsWrites) {
  // A regular file where a folder should be: no folder can be made below it, even by root.
  const QString blocker = FHome.path() + QStringLiteral("/blocker");
  QFile file(blocker);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocker));

  TRegIniFile ini(Key);
  EXPECT_FALSE(ini.HasOpenKey());
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Form1"), Left, 2), 2);
  EXPECT_EQ(ini.ReadString(QString(), Left, QStringLiteral("d")), QStringLiteral("d"));
  EXPECT_EQ(ErrorOf([&] { ini.WriteInteger(QStringLiteral("Form1"), Left, 1); }), "Failed to create key Form1");
  // Without an open key the empty section is the root, which always exists: only the value fails.
  EXPECT_EQ(ErrorOf([&] { ini.WriteString(QString(), Left, QStringLiteral("x")); }), "Failed to set data for 'Left'");
  EXPECT_EQ(ErrorOf([&] {
              TRegistryStore().SetValue(QStringLiteral("A\\B"), {Left, REG_SZ, Sz("1")});
            }),
            "Failed to create key A\\B");
}
}  // namespace
