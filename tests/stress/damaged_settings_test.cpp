// The program against settings files that are damaged, strange or out of reach. In every case it
// starts, measures and ends, and no line that was in the file is lost unless the program wrote
// its value's successor; a file whose lines it cannot keep is kept aside first, byte for byte.

#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "settings/reg_ini_file.h"
#include "tests/stress/program_driver.h"
#include "tests/stress/settings_check.h"
#include "tests/support/file_access.h"
#include "tests/support/loopback_server.h"
#include "tests/support/qstring_printer.h"
#include "tests/ui/observed_messages.h"
#include "tests/ui/settings_file.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A file as a user's might look after some years: the program's values, the window's placement,
// and a key of someone else's with every kind of value.
const char* const UsersFile = R"(REGEDIT4

[HKEY_CURRENT_USER\Software\Omvra-Soft\KORVADEN]
"ProMode"="5594"
"BlockSize"="2048"
"Port"="2857"

[HKEY_CURRENT_USER\Software\Omvra-Soft\KORVADEN\MainForm]
"State"="0"
"Left"="40"
"Top"="30"
"Width"="700"
"Height"="500"

[HKEY_CURRENT_USER\Software\Omvra-Soft\Anderes]
@="Standardwert"
"Text"="Grüße, \"zitiert\" und \\ Backslash"
"Zahl"=dword:0000002a
"Binär"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\
  18,19,1a,1b,1c,1d,1e,1f
"Pfad"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00
"Liste"=hex(7):61,00,00,00,62,00,00,00,00,00
"Unbekannt"=hex(99):ff,fe
)";

std::string SettingsPath() { return RegistryFilePath().toStdString(); }
std::string SettingsFolder() { return QFileInfo(RegistryFilePath()).path().toStdString(); }

void WriteBytes(const std::string& bytes) {
  fs::create_directories(SettingsFolder());
  std::ofstream(SettingsPath(), std::ios::binary | std::ios::trunc) << bytes;
}

// Everything in the settings folder but the file itself and its lock.
std::vector<fs::path> Companions() {
  std::vector<fs::path> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(SettingsFolder(), error)) {
    const std::string name = entry.path().filename().string();
    if (name != "registry.reg" && name != "registry.reg.lock") found.push_back(entry.path());
  }
  return found;
}

class DamagedSettings : public ::testing::Test {
 protected:
  void SetUp() override { fs::remove_all(SettingsFolder()); }
  void TearDown() override {
    std::error_code error;
    fs::permissions(SettingsFolder(), fs::perms::owner_all, error);
    fs::remove_all(SettingsFolder(), error);
  }

  // Starts the program, measures against a local server, ends it. Messages the settings caused
  // are collected; anything else the program said is a failure.
  void StartMeasureEnd(const std::string& what) {
    SCOPED_TRACE(what);
    {
      stress::TProgramDriver program;
      TForm1& form = program.Form();
      if (form.ExpertPanelVisible()) form.Edit2->setText("1024");  // as the user would correct it
      program.Start("127.0.0.1", server.port());
      ASSERT_TRUE(program.WaitForMeasuring()) << program.Status().toStdString();
      program.Stop();
      ASSERT_TRUE(program.WaitForIdle());
    }
    static const QRegularExpression settingsMessage(
        R"(^(Failed to (create key|set data for|get data for)|Invalid data type for) )");
    for (const auto& message : messages) EXPECT_TRUE(settingsMessage.match(message.Text).hasMatch()) << message.Text;
    messages.clear();
  }

  // The original of a file that was not fully understood, kept aside before its first rewrite.
  std::string KeptOriginal() {
    for (const auto& path : Companions()) {
      if (path.filename().string().rfind("registry.reg.beschaedigt-", 0) == 0) return stress::FileBytes(path);
    }
    return {};
  }

  void ExpectNothingLost(const std::string& before, const std::string& what) {
    const auto lost = stress::LostValues(before, stress::FileBytes(SettingsPath()));
    EXPECT_TRUE(lost.empty()) << what << ": " << (lost.empty() ? "" : lost.front());
  }

  TObservedMessages messages;
  testsupport::LoopbackServer server{testsupport::ServerMode::Record};
};

}  // namespace

TEST_F(DamagedSettings, TruncatedFilesKeepWhatCouldBeReadAndTheirOriginal) {
  const std::string whole = UsersFile;
  const int cuts = stress::Rounds(static_cast<int>(whole.size()) / 3, 8, 3);
  for (int i = 1; i <= cuts; ++i) {
    const std::string truncated = whole.substr(0, whole.size() * i / (cuts + 1));
    WriteBytes(truncated);
    StartMeasureEnd("cut at " + std::to_string(truncated.size()));
    ExpectNothingLost(truncated, "cut at " + std::to_string(truncated.size()));
    EXPECT_TRUE(stress::LinesKeptInOrder(truncated, stress::FileBytes(SettingsPath())));
    const std::string kept = KeptOriginal();
    if (!kept.empty()) {
      EXPECT_EQ(kept, truncated);
    }
    fs::remove_all(SettingsFolder());
  }
}

// With a header the lines stay in place, however strange; without one the file is another format.
TEST_F(DamagedSettings, BinaryFilesStayOrAreKeptAsideWhole) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> byte(0, 255);
  for (const std::string& start : {std::string(), std::string("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\")}) {
    std::string bytes = start;
    for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(byte(random));
    WriteBytes(bytes);
    StartMeasureEnd("binary");
    if (start.empty()) {
      EXPECT_EQ(KeptOriginal(), bytes);
    } else {
      EXPECT_EQ(KeptOriginal(), "");
      EXPECT_TRUE(stress::LinesKeptInOrder(bytes, stress::FileBytes(SettingsPath())));
    }
    fs::remove_all(SettingsFolder());
  }
}

TEST_F(DamagedSettings, AnEnormousFileIsNotReadButKeptAside) {
  constexpr std::uintmax_t Size = 300ULL * 1024 * 1024;
  WriteBytes(UsersFile);
  fs::resize_file(SettingsPath(), Size);  // sparse: the disk does not fill up
  StartMeasureEnd("300 MB");
  bool kept = false;
  for (const auto& path : Companions()) kept = kept || fs::file_size(path) == Size;
  EXPECT_TRUE(kept);
  EXPECT_LT(fs::file_size(SettingsPath()), 4096U);  // the program's own values only
}

TEST_F(DamagedSettings, AnUnreadableFileStaysAsItWas) {
  WriteBytes(UsersFile);
  fs::permissions(SettingsPath(), fs::perms::none);
  {
    testsupport::TWithoutFileOverride asUser;
    EXPECT_FALSE(stress::TProgramDriver().Form().ExpertPanelVisible());  // nothing could be read
    EXPECT_FALSE(messages.empty());
    messages.clear();
    StartMeasureEnd("mode 000");
  }
  fs::permissions(SettingsPath(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(stress::FileBytes(SettingsPath()), UsersFile);
  EXPECT_TRUE(Companions().empty());
}

TEST_F(DamagedSettings, ADirectoryInPlaceOfTheFileStaysAsItWas) {
  fs::create_directories(SettingsPath());
  std::ofstream(SettingsPath() + "/inhalt.txt") << "bleibt";
  StartMeasureEnd("directory");
  EXPECT_TRUE(fs::is_directory(SettingsPath()));
  EXPECT_EQ(stress::FileBytes(SettingsPath() + "/inhalt.txt"), "bleibt");
}

TEST_F(DamagedSettings, AFolderThatCannotBeWrittenIsStillRead) {
  WriteBytes(UsersFile);
  fs::permissions(SettingsFolder(), fs::perms::owner_read | fs::perms::owner_exec);
  {
    testsupport::TWithoutFileOverride asUser;
    stress::TProgramDriver program;
    EXPECT_TRUE(program.Form().ExpertPanelVisible());
    EXPECT_EQ(program.Form().Edit2->text(), "2048");
  }
  messages.clear();
  {
    testsupport::TWithoutFileOverride asUser;
    StartMeasureEnd("mode 0555");
  }
  fs::permissions(SettingsFolder(), fs::perms::owner_all);
  EXPECT_EQ(stress::FileBytes(SettingsPath()), UsersFile);
  EXPECT_TRUE(Companions().empty());
}

TEST_F(DamagedSettings, EveryTypeInEveryPlaceTheProgramReads) {
  const std::pair<const char*, const char*> places[] = {
      {"", "ProMode"},         {"", "BlockSize"},       {"", "Port"},
      {"\\MainForm", "State"}, {"\\MainForm", "Left"},  {"\\MainForm", "Top"},
      {"\\MainForm", "Width"}, {"\\MainForm", "Height"}};
  const std::string types[] = {R"("Text")",
                               R"("4096")",
                               R"("")",
                               R"("-1")",
                               R"("99999999999999999999")",
                               "\"" + std::string(10000, '7') + "\"",
                               "dword:00001000",
                               "dword:ffffffff",
                               "hex:01,02,03",
                               "hex(2):34,00,00,00",
                               "hex(7):61,00,00,00,00,00",
                               "hex(0):",
                               "hex(4):00,10,00,00",
                               "hex(b):00,10,00,00,00,00,00,00"};
  const int typeCount = static_cast<int>(std::size(types));
  // The sanitizer builds take two types per place, a different pair for each place.
  const int perPlace = stress::Rounds(typeCount, typeCount, 2);
  int placeIndex = 0;
  for (const auto& [subkey, name] : places) {
    for (int t = 0; t < perPlace; ++t) {
      const std::string& type = types[(placeIndex * perPlace + t) % typeCount];
      std::string file = UsersFile;
      const std::string key = "[HKEY_CURRENT_USER\\Software\\Omvra-Soft\\KORVADEN" + std::string(subkey) + "]\n";
      const std::size_t keyAt = file.find(key);
      const std::size_t lineAt = file.find("\"" + std::string(name) + "\"=", keyAt);
      file.replace(lineAt, file.find('\n', lineAt) - lineAt, "\"" + std::string(name) + "\"=" + type);
      WriteBytes(file);
      const std::string what = std::string(name) + "=" + type.substr(0, 30);
      StartMeasureEnd(what);
      ExpectNothingLost(file, what);
    }
    ++placeIndex;
  }
}

TEST_F(DamagedSettings, NamesInOtherLetterCaseAreReadAndWrittenInPlace) {
  std::string file = UsersFile;
  for (const char* from :
       {"Omvra-Soft\\KORVADEN]", "\"ProMode\"", "\"BlockSize\"", "\"Port\"", "\"Width\"", "MainForm]"}) {
    std::string lower = from;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t at = file.find(from); at != std::string::npos; at = file.find(from, at + 1))
      file.replace(at, lower.size(), lower);
  }
  WriteBytes(file);
  {
    stress::TProgramDriver program;
    EXPECT_TRUE(program.Form().ExpertPanelVisible());
    EXPECT_EQ(program.Form().Edit2->text(), "2048");
  }
  EXPECT_TRUE(messages.empty());
  ExpectNothingLost(file, "letter case");
  const std::string after = stress::FileBytes(SettingsPath());
  EXPECT_EQ(after.find("\"BlockSize\""), std::string::npos) << "written again beside the stored name";
  EXPECT_NE(after.find("\"blocksize\""), std::string::npos);
  EXPECT_NE(after.find("omvra-soft\\korvaden]"), std::string::npos);
}
