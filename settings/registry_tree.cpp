#include "settings/registry_tree.h"

#include <iterator>
#include <utility>

namespace {
bool IsBelow(std::string_view path, std::string_view ancestor) {
  return path.size() > ancestor.size() + 1 && path[ancestor.size()] == '\\' &&
         SameRegName(path.substr(0, ancestor.size()), ancestor);
}

std::size_t InsertKey(TRegFileDocument& document, std::string_view path) {
  auto& keys = document.Keys;
  std::size_t position = keys.size();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (IsBelow(keys[i].Path, path)) {
      position = i;
      break;
    }
  }
  const std::size_t slash = path.rfind('\\');
  if (position == keys.size() && slash != std::string_view::npos) {
    const std::string_view parent = path.substr(0, slash);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (SameRegName(keys[i].Path, parent) || IsBelow(keys[i].Path, parent)) position = i + 1;
    }
  }
  keys.insert(std::next(keys.begin(), static_cast<std::ptrdiff_t>(position)), TRegFileKey{std::string(path), {}});
  return position;
}

// For both a read and a change of the document.
template <typename Document>
auto* LastValue(Document& document, std::string_view path, std::string_view name) {
  decltype(&document.Keys.front().Values.front()) found = nullptr;
  for (auto& key : document.Keys) {
    if (!SameRegName(key.Path, path)) continue;
    for (auto& value : key.Values) {
      if (SameRegName(value.Name, name)) found = &value;
    }
  }
  return found;
}
}  // namespace

const TRegFileKey* FindRegKey(const TRegFileDocument& document, std::string_view path) {
  for (const TRegFileKey& key : document.Keys) {
    if (SameRegName(key.Path, path)) return &key;
  }
  return nullptr;
}

bool RegKeyExists(const TRegFileDocument& document, std::string_view path) {
  for (const TRegFileKey& key : document.Keys) {
    if (SameRegName(key.Path, path) || IsBelow(key.Path, path)) return true;
  }
  return false;
}

const TRegFileValue* FindRegValue(const TRegFileDocument& document, std::string_view path, std::string_view name) {
  return LastValue(document, path, name);
}

std::size_t EnsureRegKey(TRegFileDocument& document, std::string_view path) {
  // The hive itself is never created: its name only starts the path.
  std::size_t end = path.find('\\');
  while (end != std::string_view::npos) {
    end = path.find('\\', end + 1);
    const std::string_view parent = path.substr(0, end);
    if (end != std::string_view::npos && !RegKeyExists(document, parent)) InsertKey(document, parent);
  }
  for (std::size_t i = document.Keys.size(); i-- > 0;) {
    if (SameRegName(document.Keys[i].Path, path)) return i;
  }
  return InsertKey(document, path);
}

bool SetRegValue(TRegFileDocument& document, std::string_view path, TRegFileValue value) {
  if (TRegFileValue* existing = LastValue(document, path, value.Name)) {
    if (existing->Type == value.Type && existing->Data == value.Data) return false;
    existing->Type = value.Type;
    existing->Data = std::move(value.Data);
    existing->Text.clear();
    return true;
  }
  document.Keys[EnsureRegKey(document, path)].Values.push_back(std::move(value));
  return true;
}
