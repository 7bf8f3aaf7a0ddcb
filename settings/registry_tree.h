#pragma once
// Finding and changing keys and values of a parsed settings file by full path, hive name first
// ("HKEY_CURRENT_USER\\Software\\Omvra-Soft"). Names match without regard to ASCII case. A key or
// value that the file names twice counts as an import would take it: the last data win, and that is
// where a new value goes.

#include <cstddef>
#include <string_view>

#include "settings/registry_format.h"

// The key's first section.
const TRegFileKey* FindRegKey(const TRegFileDocument& document, std::string_view path);
// A key exists when it has a section of its own or when a key below it has one.
bool RegKeyExists(const TRegFileDocument& document, std::string_view path);
// The value as a read finds it: the last one of that name in any of the key's sections.
const TRegFileValue* FindRegValue(const TRegFileDocument& document, std::string_view path, std::string_view name);

// The index of the key's last section, added together with every missing parent below the hive. New
// sections go beside their relatives, so the file stays in tree order as an export would have it.
std::size_t EnsureRegKey(TRegFileDocument& document, std::string_view path);
// Changes the value where a read finds it, written anew in its place, or adds it to the key's last
// section, made as needed. Returns false when a read already gave exactly this value.
bool SetRegValue(TRegFileDocument& document, std::string_view path, TRegFileValue value);
