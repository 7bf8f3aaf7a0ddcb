#pragma once
// The settings file in the text format of registry exports, read into and written from a plain
// model. Plain C++ without Qt, so the fuzzer can take it alone.
//
// Everything in the model is 8-bit: key paths and value names are the bytes of the file (UTF-8),
// data are the value's bytes. Version 5.00 files keep REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data
// given in hex as UTF-16; those are turned into UTF-8 on reading, because we only ever write
// REGEDIT4, whose hex data are taken byte for byte.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TRegFileValue {
  std::string Name;  // "" is the key's default value, written "@"
  std::uint32_t Type = 0;
  std::string Data;
  bool operator==(const TRegFileValue&) const = default;
};

struct TRegFileKey {
  std::string Path;  // the full path as written, hive name first
  std::vector<TRegFileValue> Values;
  bool operator==(const TRegFileKey&) const = default;
};

struct TRegFileDocument {
  std::vector<TRegFileKey> Keys;
  bool operator==(const TRegFileDocument&) const = default;
};

struct TRegParseResult {
  TRegFileDocument Document;
  // False when anything was skipped: a bad header, a line or a value we could not read. Such a
  // file must not be replaced before the original has been kept aside.
  bool FullyUnderstood = true;
};

// Never fails: whatever cannot be understood is left out and reported through FullyUnderstood.
TRegParseResult ParseRegistryText(std::string_view bytes);
// Always REGEDIT4; parsing the result gives the same document back, fully understood.
std::string SerializeRegistryText(const TRegFileDocument& document);

// Key paths and value names match without regard to the case of ASCII letters, as in the registry.
bool SameRegName(std::string_view a, std::string_view b);
