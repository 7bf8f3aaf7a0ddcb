#pragma once
// The settings file in the text format of registry exports, read into and written from a plain
// model. Plain C++ without Qt, so the fuzzer can take it alone.
//
// Everything in the model is 8-bit: key paths and value names are the bytes of the file (UTF-8),
// data are the value's bytes. Version 5.00 files keep REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data
// given in hex as UTF-16; those are turned into UTF-8 on reading and back into UTF-16 on writing,
// while REGEDIT4 hex data are taken byte for byte.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Every line of the file is kept with the item it stands before, so a rewrite gives back the file
// as it was, comments, blank lines and lines we could not read included, with only the values the
// program set written anew. Keys and values are not merged: a name given twice stays twice, and a read
// takes the last one (registry_tree.h), as an import would.
struct TRegFileValue {
  std::string Name;  // "" is the key's default value, written "@"
  std::uint32_t Type = 0;
  std::string Data;
  // Lines above the value that hold none: comments, blank lines, lines that could not be read.
  std::string LinesBefore{};
  // The value's own line or lines as the file held them, line breaks included; empty for data the
  // program set, which are written in the form registry exports use.
  std::string Text{};
  // The same value: name, type and data. Where and how it was written is not compared.
  bool operator==(const TRegFileValue& other) const {
    return Name == other.Name && Type == other.Type && Data == other.Data;
  }
};

struct TRegFileKey {
  std::string Path;  // the full path as written, hive name first
  std::vector<TRegFileValue> Values;
  std::string Text{};        // the key's line as written; empty for a key the program added
  std::string LinesAfter{};  // lines after its last value that hold none, up to the next key
  bool operator==(const TRegFileKey& other) const { return Path == other.Path && Values == other.Values; }
};

struct TRegFileDocument {
  std::vector<TRegFileKey> Keys;
  // Everything before the first key: the header with any comments and blank lines around it. Empty
  // for a new file, which is written with the header of Version.
  std::string Prologue;
  int Version = 4;               // 5 for "Windows Registry Editor Version 5.00"
  std::string LineBreak = "\n";  // for lines the program writes: "\r\n" where the file uses it
  bool operator==(const TRegFileDocument& other) const { return Version == other.Version && Keys == other.Keys; }
};

struct TRegParseResult {
  TRegFileDocument Document;
  // False when a line could not be read as a header, key, value, comment or blank line.
  bool FullyUnderstood = true;
  // False when writing the document back would not give the file's lines again: it has no header we
  // know, its text could not be decoded, or it was too large to read. Such a file must not be
  // replaced before the original has been kept aside.
  bool HoldsEveryLine = true;
};

// Never fails: whatever cannot be understood is kept as text and reported through FullyUnderstood.
TRegParseResult ParseRegistryText(std::string_view bytes);
// The document's lines as they were read, with new and changed values in the form registry exports
// use. Parsing the result gives the same document back.
std::string SerializeRegistryText(const TRegFileDocument& document);

// Key paths and value names match without regard to the case of ASCII letters, as in the registry.
bool SameRegName(std::string_view a, std::string_view b);
