#pragma once
// Finding and changing keys and values of a parsed settings file by full path, hive name first
// ("HKEY_CURRENT_USER\\Software\\Omvra-Soft"). Names match without regard to ASCII case; new keys
// and values keep the spelling they were first written with.

#include <cstddef>
#include <string_view>

#include "registry_format.h"

const TRegFileKey* FindRegKey(const TRegFileDocument& document, std::string_view path);
// A key exists when it has a section of its own or when a key below it has one.
bool RegKeyExists(const TRegFileDocument& document, std::string_view path);
const TRegFileValue* FindRegValue(const TRegFileKey& key, std::string_view name);

// The index of the key's section, added together with every missing parent below the hive. New
// sections go beside their relatives, so the file stays in tree order as an export would have it.
std::size_t EnsureRegKey(TRegFileDocument& document, std::string_view path);
// Returns false when the key already held exactly this value.
bool SetRegValue(TRegFileKey& key, TRegFileValue value);
