// Writes count distinct values "<prefix><i>" = i through TRegIniFile, each one its own change of the
// file, so that two of these running at once race on every single write.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/reg_ini_file.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: settings_writer_helper PREFIX COUNT\n");
    return 2;
  }
  const QString prefix = QString::fromLocal8Bit(argv[1]);
  const int count = std::atoi(argv[2]);
  try {
    TRegIniFile ini(QStringLiteral("Software\\Omvra-Soft\\KORVADEN"));
    for (int i = 0; i < count; ++i) ini.WriteInteger(QStringLiteral("Race"), prefix + QString::number(i), i);
  } catch (const ERegistryException& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
