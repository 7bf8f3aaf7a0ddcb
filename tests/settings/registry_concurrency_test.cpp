#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <thread>
#include <vector>

#include "settings/registry_file.h"
#include "settings/registry_tree.h"
#include "tests/settings/settings_fixture.h"

extern char** environ;

namespace {
const QString Key = QStringLiteral("Software\\Omvra-Soft\\KORVADEN");

class TRegistryConcurrencyTest : public TSettingsTest {
 protected:
  void ExpectAllWritten(const QStringList& prefixes, int count) {
    TRegIniFile ini(Key);
    int found = 0;
    for (const QString& prefix : prefixes) {
      for (int i = 0; i < count; ++i) {
        found += ini.ReadInteger(QStringLiteral("Race"), prefix + QString::number(i), -1) == i;
      }
    }
    EXPECT_EQ(found, prefixes.size() * count);
    const TRegFileSnapshot snapshot = ReadRegistryFile(FilePath().toStdString());
    EXPECT_TRUE(snapshot.Content.FullyUnderstood);
  }
};

// The blob's length depends on its number, so a reader that caught a half-written file would see a
// value whose number and length disagree, or no value, or a file it cannot understand.
QString Blob(int number) { return QString::number(number) + QLatin1Char(':') + QString(1000 + 37 * number, u'x'); }

TEST_F(TRegistryConcurrencyTest, ReadersOnlyEverSeeWholeFiles) {
  constexpr int Writes = 100;
  TRegIniFile ini(Key);
  ini.WriteString(QString(), QStringLiteral("Blob"), Blob(0));
  const std::string path = FilePath().toStdString();
  const std::string fullKey = "HKEY_CURRENT_USER\\" + Key.toStdString();
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, broken{0};
  std::thread reader([&] {
    while (!done.load()) {
      const TRegFileSnapshot snapshot = ReadRegistryFile(path);
      const TRegFileValue* value = FindRegValue(snapshot.Content.Document, fullKey, "Blob");
      bool whole = snapshot.Content.FullyUnderstood && value != nullptr;
      if (whole) {
        const QString text = QString::fromUtf8(value->Data.data(), static_cast<qsizetype>(value->Data.size()) - 1);
        whole = text == Blob(text.section(QLatin1Char(':'), 0, 0).toInt());
      }
      broken += !whole;
      ++reads;
    }
  });
  for (int i = 1; i <= Writes; ++i) ini.WriteString(QString(), QStringLiteral("Blob"), Blob(i));
  done = true;
  reader.join();
  EXPECT_EQ(broken.load(), 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(ini.ReadString(QString(), QStringLiteral("Blob"), {}), Blob(Writes));
}

TEST_F(TRegistryConcurrencyTest, TwoThreadsWritingAtOnceLoseNothing) {
  constexpr int Count = 50;
  std::vector<std::thread> writers;
  for (const char* prefix : {"T", "U"}) {
    writers.emplace_back([prefix] {
      TRegIniFile ini(Key);
      for (int i = 0; i < Count; ++i) {
        ini.WriteInteger(QStringLiteral("Race"), QLatin1String(prefix) + QString::number(i), i);
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  ExpectAllWritten({QStringLiteral("T"), QStringLiteral("U")}, Count);
}

// posix_spawn rather than fork: a fork from a threaded process is unsafe, and TSan refuses it.
pid_t Spawn(const char* prefix, const char* count) {
  char* argv[] = {const_cast<char*>(SETTINGS_WRITER_HELPER), const_cast<char*>(prefix), const_cast<char*>(count),
                  nullptr};
  pid_t pid = -1;
  return ::posix_spawn(&pid, SETTINGS_WRITER_HELPER, nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

TEST_F(TRegistryConcurrencyTest, TwoProcessesWritingAtOnceLoseNothing) {
  const pid_t first = Spawn("A", "100");
  const pid_t second = Spawn("B", "100");
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  for (const pid_t pid : {first, second}) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  ExpectAllWritten({QStringLiteral("A"), QStringLiteral("B")}, 100);
}
}  // namespace
