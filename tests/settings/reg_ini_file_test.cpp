#include <sys/stat.h>

#include "settings/registry_format.h"
#include "tests/settings/settings_fixture.h"

namespace {
const QString Key = QStringLiteral("Software\\Omvra-Soft\\KORVADEN");

class TRegIniFileTest : public TSettingsTest {};

ino_t Inode(const QString& path) {
  struct stat info {};
  return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

TEST_F(TRegIniFileTest, FileLivesInTheConfigurationFolder) {
  EXPECT_EQ(RegistryFilePath(), FilePath());
  const QByteArray home = qgetenv("HOME");
  qputenv("HOME", "/home/somebody");
  qputenv("XDG_CONFIG_HOME", "relative/path");
  EXPECT_EQ(RegistryFilePath(), QStringLiteral("/home/somebody/.config/Omvra-Soft/registry.reg"));
  qputenv("XDG_CONFIG_HOME", "");
  EXPECT_EQ(RegistryFilePath(), QStringLiteral("/home/somebody/.config/Omvra-Soft/registry.reg"));
  if (home.isNull()) {
    qunsetenv("HOME");
  } else {
    qputenv("HOME", home);
  }
}

TEST_F(TRegIniFileTest, OpeningCreatesTheKeyAndItsParentsAtOnce) {
  TRegIniFile ini(QStringLiteral("\\") + Key);
  EXPECT_TRUE(ini.HasOpenKey());
  EXPECT_EQ(ini.KeyPath(), Key);
  EXPECT_EQ(ReadFile().toStdString(),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\Omvra-Soft]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN]\n");
  EXPECT_TRUE(TRegistryStore().KeyExists(QStringLiteral("software\\omvra-soft")));
}

TEST_F(TRegIniFileTest, ValuesGoBelowTheKeyOrBelowTheRoot) {
  TRegIniFile ini(Key);
  ini.WriteInteger(QStringLiteral("Form1"), QStringLiteral("Left"), -42);
  ini.WriteString(QStringLiteral("Form1\\Panel1"), QStringLiteral("Name"), QStringLiteral("Größe ✓"));
  ini.WriteInteger(QString(), QStringLiteral("Count"), 7);
  ini.WriteInteger(QStringLiteral("\\Other"), QStringLiteral("Top"), 5);
  ini.WriteString(QString(), QString(), QStringLiteral("standard"));

  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Form1"), QStringLiteral("Left"), 0), -42);
  EXPECT_EQ(ini.ReadString(QStringLiteral("Form1\\Panel1"), QStringLiteral("Name"), {}), QStringLiteral("Größe ✓"));
  EXPECT_EQ(ini.ReadInteger(QString(), QStringLiteral("Count"), 0), 7);
  EXPECT_EQ(TRegIniFile(QStringLiteral("Other")).ReadInteger(QString(), QStringLiteral("Top"), 0), 5);

  const std::string text = ReadFile().toStdString();
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN]\n\"Count\"=\"7\"\n@=\"standard\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN\\Form1]\n\"Left\"=\"-42\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"Name\"=\"Gr\xc3\xb6\xc3\x9f"
                      "e \xe2\x9c\x93\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Other]\n\"Top\"=\"5\"\n"), std::string::npos) << text;
}

TEST_F(TRegIniFileTest, MissingValuesAndSectionsGiveTheDefault) {
  TRegIniFile ini(Key);
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Nowhere"), QStringLiteral("Left"), 17), 17);
  EXPECT_EQ(ini.ReadString(QString(), QStringLiteral("Left"), QStringLiteral("d")), QStringLiteral("d"));
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("a\\\\b"), QStringLiteral("Left"), 3), 3);
}

TEST_F(TRegIniFileTest, NamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
  TRegIniFile ini(Key);
  ini.WriteInteger(QStringLiteral("MainForm"), QStringLiteral("WindowLeft"), 1);
  ini.WriteInteger(QStringLiteral("MAINFORM"), QStringLiteral("windowleft"), 2);
  EXPECT_EQ(TRegIniFile(Key.toLower()).ReadInteger(QStringLiteral("mainform"), QStringLiteral("WINDOWLEFT"), 0), 2);
  const std::string text = ReadFile().toStdString();
  EXPECT_NE(text.find("\\MainForm]\n\"WindowLeft\"=\"2\"\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("MAINFORM"), std::string::npos) << text;
  EXPECT_EQ(text.find("windowleft"), std::string::npos) << text;
}

TEST_F(TRegIniFileTest, EscapesAndLineBreaksSurviveTheFile) {
  TRegIniFile ini(Key);
  const QString path = QStringLiteral("C:\\Temp\\\"quoted\" \\");
  const QString lines = QStringLiteral("one\ntwo\r\n");
  ini.WriteString(QString(), QStringLiteral("Path \"1\""), path);
  ini.WriteString(QString(), QStringLiteral("Lines"), lines);
  EXPECT_EQ(ini.ReadString(QString(), QStringLiteral("path \"1\""), {}), path);
  EXPECT_EQ(ini.ReadString(QString(), QStringLiteral("Lines"), {}), lines);
  EXPECT_NE(ReadFile().indexOf("\"Path \\\"1\\\"\"=\"C:\\\\Temp\\\\\\\"quoted\\\" \\\\\"\n"), -1)
      << ReadFile().toStdString();
}

TEST_F(TRegIniFileTest, ReadsTextTypesAndRefusesOthers) {
  WriteFile(
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN]\n"
      "\"Left\"=dword:0000002a\n\"Blob\"=hex:01\n\"Expand\"=hex(2):25,48,4f,4d,45,25,00\n"
      "\"Hex\"=\" $1F\"\n\"Bad\"=\"12abc\"\n\"Cut\"=hex(1):31,32,00,33,00\n\"Open\"=hex(1):34,35\n"
      "\"EmptyDword\"=hex(4):\n\"EmptyText\"=hex(1):\n\"EmptyBlob\"=hex:\n\"Nothing\"=\"\"\n");
  TRegIniFile ini(Key);
  EXPECT_EQ(ErrorOf([&] { ini.ReadInteger(QString(), QStringLiteral("Left"), 0); }), "Invalid data type for 'Left'");
  EXPECT_EQ(ErrorOf([&] { ini.ReadString(QString(), QStringLiteral("blob"), {}); }), "Invalid data type for 'blob'");
  EXPECT_EQ(ini.ReadString(QString(), QStringLiteral("Expand"), {}), QStringLiteral("%HOME%"));
  EXPECT_EQ(ini.ReadInteger(QString(), QStringLiteral("Hex"), 0), 31);
  EXPECT_EQ(ini.ReadInteger(QString(), QStringLiteral("Bad"), 9), 9);
  EXPECT_EQ(ini.ReadInteger(QString(), QStringLiteral("Cut"), 0), 12);
  EXPECT_EQ(ini.ReadInteger(QString(), QStringLiteral("Open"), 0), 45);
  for (const char* name : {"EmptyDword", "EmptyText", "EmptyBlob"}) {
    EXPECT_EQ(ini.ReadInteger(QString(), QLatin1String(name), 5), 5) << name;
  }
  // An empty text still has its terminating zero: it is a value, not a missing one.
  EXPECT_EQ(ini.ReadString(QString(), QStringLiteral("Nothing"), QStringLiteral("d")), QString());
  EXPECT_EQ(ini.ReadInteger(QString(), QStringLiteral("Nothing"), 5), 5);
}

TEST_F(TRegIniFileTest, RewritesKeepWhatTheProgramDoesNotKnow) {
  const QByteArray original =
      "REGEDIT4\n\n; written by hand\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\n\"Machine\"=\"wide\"\n\n"
      "[HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN]\n\"Left\"=dword:0000002a\n"
      "\"QWord\"=hex(b):01,02,03,04,05,06,07,08\n\"Type99\"=hex(63):ff\n\"None\"=hex(0):\n"
      "\"Multi\"=hex(7):61,00,62,00,00\n@=\"default\"\n\n[HKEY_CURRENT_USER\\Software\\Unknown\\Deep]\n"
      "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e,\\\n"
      "  1f,20\n";
  WriteFile(original);
  TRegFileDocument expected = ParseRegistryText(original.toStdString()).Document;
  TRegIniFile ini(Key);
  ini.WriteInteger(QString(), QStringLiteral("Top"), 3);
  expected.Keys[1].Values.push_back({"Top", 1, std::string("3\0", 2)});
  const TRegParseResult now = ParseRegistryText(ReadFile().toStdString());
  EXPECT_TRUE(now.FullyUnderstood);
  EXPECT_EQ(now.Document, expected) << ReadFile().toStdString();
  EXPECT_TRUE(Backups().isEmpty());
}

TEST_F(TRegIniFileTest, UnchangedValuesDoNotRewriteTheFile) {
  TRegIniFile ini(Key);
  ini.WriteInteger(QString(), QStringLiteral("Left"), 1);
  // Every rewrite is a new file renamed into place, so an unchanged inode means no rewrite.
  const ino_t inode = Inode(FilePath());
  ini.WriteInteger(QString(), QStringLiteral("left"), 1);
  TRegIniFile again(Key);
  EXPECT_EQ(Inode(FilePath()), inode);
  ini.WriteInteger(QString(), QStringLiteral("left"), 2);
  EXPECT_NE(Inode(FilePath()), inode);
}

TEST_F(TRegIniFileTest, AnUnusableKeyPathOpensNothing) {
  TRegIniFile ini(QStringLiteral("Software\\\\Broken"));
  EXPECT_FALSE(ini.HasOpenKey());
  EXPECT_EQ(ini.KeyPath(), QString());
  ini.WriteInteger(QStringLiteral("Form1"), QStringLiteral("Left"), 4);  // taken from the root instead
  EXPECT_EQ(TRegIniFile(QStringLiteral("Form1")).ReadInteger(QString(), QStringLiteral("Left"), 0), 4);
  EXPECT_EQ(ErrorOf([&] { ini.WriteInteger(QStringLiteral("a\\\\b"), QStringLiteral("Left"), 1); }),
            "Failed to create key a\\\\b");
  EXPECT_EQ(ErrorOf([&] { ini.WriteInteger(QString(), QStringLiteral("Two\nLines"), 1); }),
            "Failed to set data for 'Two\nLines'");
}

TEST_F(TRegIniFileTest, TheRawStoreReadsAndWritesAnyType) {
  TRegistryStore store;
  EXPECT_FALSE(store.KeyExists(QStringLiteral("Tools")));
  EXPECT_TRUE(store.KeyExists(QString()));
  store.SetValue(QStringLiteral("Tools\\Probe"), TRegValue{QStringLiteral("Raw"), 11, QByteArray("\x01\x00\xff", 3)});
  EXPECT_TRUE(store.KeyExists(QStringLiteral("tools")));
  const auto value = TRegistryStore().Value(QStringLiteral("TOOLS\\probe"), QStringLiteral("raw"));
  ASSERT_TRUE(value);
  EXPECT_EQ(value->Name, QStringLiteral("Raw"));
  EXPECT_EQ(value->Type, 11u);
  EXPECT_EQ(value->Data, QByteArray("\x01\x00\xff", 3));
  EXPECT_NE(ReadFile().indexOf("\"Raw\"=hex(b):01,00,ff\n"), -1);
}
}  // namespace
