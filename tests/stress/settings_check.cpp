#include "tests/stress/settings_check.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "settings/registry_format.h"
#include "tests/ui/settings_file.h"

namespace stress {
namespace {

struct TWrittenValue {
  const QString& key;
  const char* name;
};

bool WrittenByTheProgram(const std::string& key, const std::string& name) {
  static const TWrittenValue written[] = {
      {settingsfile::ProgramKey, "BlockSize"}, {settingsfile::ProgramKey, "Port"},
      {settingsfile::PlacementKey, "State"},   {settingsfile::PlacementKey, "Left"},
      {settingsfile::PlacementKey, "Top"},     {settingsfile::PlacementKey, "Width"},
      {settingsfile::PlacementKey, "Height"},
  };
  for (const auto& value : written) {
    if (SameRegName(key, value.key.toStdString()) && SameRegName(name, value.name)) return true;
  }
  return false;
}

// A whole value line whose value the program writes anew: "Name"=...
bool WritesThisLine(const std::string& line) {
  const std::size_t end = line.find("\"=");
  if (line.empty() || line[0] != '"' || end == std::string::npos) return false;
  return WrittenByTheProgram(settingsfile::ProgramKey.toStdString(), line.substr(1, end - 1)) ||
         WrittenByTheProgram(settingsfile::PlacementKey.toStdString(), line.substr(1, end - 1));
}

const TRegFileValue* Find(const TRegFileDocument& document, const std::string& key, const std::string& name) {
  for (const auto& k : document.Keys) {
    if (!SameRegName(k.Path, key)) continue;
    for (const auto& v : k.Values) {
      if (SameRegName(v.Name, name)) return &v;
    }
  }
  return nullptr;
}

}  // namespace

std::string FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> LostValues(const std::string& before, const std::string& after) {
  const TRegFileDocument old = ParseRegistryText(before).Document;
  const TRegFileDocument now = ParseRegistryText(after).Document;
  std::vector<std::string> lost;
  for (const auto& key : old.Keys) {
    for (const auto& value : key.Values) {
      const TRegFileValue* successor = Find(now, key.Path, value.Name);
      if (successor == nullptr) {
        lost.push_back("[" + key.Path + "] \"" + value.Name + "\" fehlt");
      } else if (!(*successor == value) && !WrittenByTheProgram(key.Path, value.Name)) {
        lost.push_back("[" + key.Path + "] \"" + value.Name + "\" verändert");
      }
    }
  }
  return lost;
}

bool LinesKeptInOrder(const std::string& before, const std::string& after) {
  std::istringstream wanted(before), found(after);
  std::string line, candidate;
  while (std::getline(wanted, line)) {
    if (WritesThisLine(line)) continue;
    do {
      if (!std::getline(found, candidate)) return false;
    } while (candidate != line);
  }
  return true;
}

}  // namespace stress
