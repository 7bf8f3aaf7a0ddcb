#include "settings/registry_format.h"

#include <cstdio>
#include <optional>

#include "settings/text_codec.h"

namespace {
constexpr std::string_view HeaderVersion4 = "REGEDIT4";
constexpr std::string_view HeaderVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::uint32_t TypeSz = 1, TypeExpandSz = 2, TypeBinary = 3, TypeDword = 4, TypeMultiSz = 7;
// Where registry exports break long hex lists.
constexpr std::size_t HexLineWidth = 76;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The types whose hex data a version 5 file holds as UTF-16 text.
bool HoldsUtf16InVersion5(std::uint32_t type) { return type == TypeSz || type == TypeExpandSz || type == TypeMultiSz; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameRegName(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hexadecimal digits and nothing else.
std::optional<std::uint32_t> ParseHexNumber(std::string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : s) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

// Comma-separated bytes of exactly two digits each; an empty list is empty data.
std::optional<std::string> ParseHexList(std::string_view s) {
  std::string bytes;
  s = Trim(s);
  if (s.empty()) return bytes;
  while (true) {
    const std::size_t comma = s.find(',');
    const std::string_view item = Trim(s.substr(0, comma));
    if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(HexDigit(item[0]) * 16 + HexDigit(item[1])));
    if (comma == std::string_view::npos) return bytes;
    s.remove_prefix(comma + 1);
  }
}

// Backslash escapes only the backslash and the quote; anything else after it is not understood.
std::optional<std::string> ParseQuoted(std::string_view s, std::size_t& pos) {
  if (pos >= s.size() || s[pos] != '"') return std::nullopt;
  std::string text;
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '"') {
      ++pos;
      return text;
    }
    if (c == '\\') {
      if (++pos >= s.size() || (s[pos] != '\\' && s[pos] != '"')) return std::nullopt;
      c = s[pos];
    }
    text.push_back(c);
  }
  return std::nullopt;
}

class TLineReader {
 public:
  explicit TLineReader(std::string_view text) : FText(text) {}

  std::optional<std::string_view> Peek() const {
    if (FPos >= FText.size()) return std::nullopt;
    std::size_t end = FText.find('\n', FPos);
    if (end == std::string_view::npos) end = FText.size();
    std::string_view line = FText.substr(FPos, end - FPos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  }

  std::optional<std::string_view> Next() {
    const auto line = Peek();
    if (line) {
      const std::size_t end = FText.find('\n', FPos);
      FPos = end == std::string_view::npos ? FText.size() : end + 1;
    }
    return line;
  }

  std::size_t Pos() const { return FPos; }
  // The text between two positions, line breaks included.
  std::string_view Between(std::size_t from, std::size_t to) const { return FText.substr(from, to - from); }

 private:
  std::string_view FText;
  std::size_t FPos = 0;
};

// A hex list ending in "\" goes on in the next line. A line that starts something else ends it
// early: a truncated list then fails alone instead of swallowing the next key or value.
std::string JoinContinuations(std::string_view first, TLineReader& lines) {
  std::string joined(first);
  while (!joined.empty() && joined.back() == '\\') {
    joined.pop_back();
    const auto next = lines.Peek();
    if (!next) break;
    const std::string_view part = Trim(*next);
    if (part.empty() || part[0] == '[' || part[0] == '"' || part[0] == '@' || part[0] == ';') break;
    joined += part;
    lines.Next();
  }
  return joined;
}

std::optional<TRegFileValue> ParseData(std::string_view data, int version) {
  TRegFileValue value;
  if (!data.empty() && data[0] == '"') {
    std::size_t pos = 0;
    auto text = ParseQuoted(data, pos);
    if (!text || !Trim(data.substr(pos)).empty()) return std::nullopt;
    value.Type = TypeSz;
    value.Data = std::move(*text);
    value.Data.push_back('\0');
    return value;
  }
  if (StartsWithNoCase(data, "dword:")) {
    const auto number = ParseHexNumber(data.substr(6));
    if (!number) return std::nullopt;
    value.Type = TypeDword;
    for (int shift = 0; shift < 32; shift += 8) value.Data.push_back(static_cast<char>((*number >> shift) & 0xFF));
    return value;
  }
  if (!StartsWithNoCase(data, "hex")) return std::nullopt;
  data.remove_prefix(3);
  value.Type = TypeBinary;
  if (!data.empty() && data[0] == '(') {
    const std::size_t close = data.find(')');
    if (close == std::string_view::npos) return std::nullopt;
    const auto type = ParseHexNumber(data.substr(1, close - 1));
    if (!type) return std::nullopt;
    value.Type = *type;
    data.remove_prefix(close + 1);
  }
  if (data.empty() || data[0] != ':') return std::nullopt;
  auto bytes = ParseHexList(data.substr(1));
  if (!bytes) return std::nullopt;
  value.Data = std::move(*bytes);
  if (version == 5 && HoldsUtf16InVersion5(value.Type)) {
    std::string utf8;
    if (!Utf16LeToUtf8(value.Data, utf8)) return std::nullopt;
    value.Data = std::move(utf8);
  }
  return value;
}

std::optional<TRegFileValue> ParseValueLine(std::string_view line, TLineReader& lines, int version) {
  std::size_t pos = 0;
  std::string name;
  if (line[0] == '@') {
    pos = 1;
  } else {
    auto quoted = ParseQuoted(line, pos);
    if (!quoted) return std::nullopt;
    name = std::move(*quoted);
  }
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos >= line.size() || line[pos] != '=') return std::nullopt;
  const std::string_view data = Trim(line.substr(pos + 1));
  std::optional<TRegFileValue> value;
  if (StartsWithNoCase(data, "hex")) {
    value = ParseData(JoinContinuations(data, lines), version);
  } else {
    value = ParseData(data, version);
  }
  if (value) value->Name = std::move(name);
  return value;
}

// Lines that hold no value wait here until the next item takes them, or the key before them does.
class TDocumentBuilder {
 public:
  explicit TDocumentBuilder(TRegFileDocument& document) : FDocument(document) {}

  void Loose(std::string_view text) { FLoose += text; }

  void Key(std::string_view path, std::string_view text) {
    Settle();
    FDocument.Keys.push_back(TRegFileKey{std::string(path), {}, std::string(text), {}});
  }

  void Value(TRegFileValue value, std::string_view text) {
    value.LinesBefore = std::move(FLoose);
    FLoose.clear();
    value.Text = text;
    FDocument.Keys.back().Values.push_back(std::move(value));
  }

  void Settle() {
    (FDocument.Keys.empty() ? FDocument.Prologue : FDocument.Keys.back().LinesAfter) += FLoose;
    FLoose.clear();
  }

 private:
  TRegFileDocument& FDocument;
  std::string FLoose;
};

void ParseBody(TLineReader& lines, TRegParseResult& result) {
  TDocumentBuilder builder(result.Document);
  // False after a damaged key line: its values must not go to the key before it.
  bool inKey = false;
  while (true) {
    const std::size_t start = lines.Pos();
    const auto next = lines.Next();
    if (!next) break;
    const std::string_view line = Trim(*next);
    if (line.empty() || line[0] == ';') {
      builder.Loose(lines.Between(start, lines.Pos()));
      continue;
    }
    if (line[0] == '[' && line.size() >= 2 && line.back() == ']') {
      builder.Key(line.substr(1, line.size() - 2), lines.Between(start, lines.Pos()));
      inKey = true;
      continue;
    }
    std::optional<TRegFileValue> value;
    if (line[0] == '[') {
      inKey = false;
    } else if (line[0] == '"' || line[0] == '@') {
      value = ParseValueLine(line, lines, result.Document.Version);
    }
    if (value && inKey) {
      builder.Value(std::move(*value), lines.Between(start, lines.Pos()));
    } else {
      result.FullyUnderstood = false;
      builder.Loose(lines.Between(start, lines.Pos()));
    }
  }
  builder.Settle();
}

void AppendEscaped(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

// A quoted string holds one zero-terminated line of text; any other REG_SZ data goes out as hex(1).
bool FitsQuoted(const TRegFileValue& value) {
  if (value.Type != TypeSz || value.Data.empty() || value.Data.back() != '\0') return false;
  return std::string_view(value.Data).substr(0, value.Data.size() - 1).find_first_of(std::string_view("\0\n\r", 3)) ==
         std::string_view::npos;
}

void AppendHex(std::string& out, const TRegFileValue& value, int version, std::string_view lineBreak) {
  static constexpr char Digits[] = "0123456789abcdef";
  if (value.Type == TypeBinary) {
    out += "hex:";
  } else {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.Type);
    out += prefix;
  }
  const bool utf16 = version == 5 && HoldsUtf16InVersion5(value.Type);
  std::string encoded;
  if (utf16) Utf8ToUtf16Le(value.Data, encoded);
  const std::string_view data = utf16 ? std::string_view(encoded) : std::string_view(value.Data);
  std::size_t lineStart = out.rfind('\n') + 1;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    out.push_back(Digits[byte >> 4]);
    out.push_back(Digits[byte & 0xF]);
    if (i + 1 == data.size()) break;
    out.push_back(',');
    if (out.size() - lineStart > HexLineWidth) {
      out += '\\';
      out += lineBreak;
      lineStart = out.size();
      out += "  ";
    }
  }
}

void AppendValue(std::string& out, const TRegFileValue& value, int version, std::string_view lineBreak) {
  if (value.Name.empty()) {
    out.push_back('@');
  } else {
    AppendEscaped(out, value.Name);
  }
  out.push_back('=');
  if (FitsQuoted(value)) {
    AppendEscaped(out, std::string_view(value.Data).substr(0, value.Data.size() - 1));
  } else if (value.Type == TypeDword && value.Data.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value.Data[i]);
    char text[24];
    std::snprintf(text, sizeof text, "dword:%08x", number);
    out += text;
  } else {
    AppendHex(out, value, version, lineBreak);
  }
  out += lineBreak;
}

// Only the file's last line can lack its break; whatever follows it starts a line of its own.
void AppendLines(std::string& out, std::string_view lines, std::string_view lineBreak) {
  if (lines.empty()) return;
  if (!out.empty() && out.back() != '\n') out += lineBreak;
  out += lines;
}
}  // namespace

bool SameRegName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

TRegParseResult ParseRegistryText(std::string_view bytes) {
  TRegParseResult result;
  std::string decoded;
  const std::string_view text = DecodeRegistryText(bytes, decoded, result.FullyUnderstood);
  result.HoldsEveryLine = result.FullyUnderstood;
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return result;

  // Comments and blank lines may come before the header; anything else there means another format.
  TLineReader lines(text);
  std::string_view header;
  while (const auto line = lines.Next()) {
    header = Trim(*line);
    if (!header.empty() && header[0] != ';') break;
  }
  TRegFileDocument& document = result.Document;
  if (header == HeaderVersion5) document.Version = 5;
  if (header != HeaderVersion4 && header != HeaderVersion5) {
    result.FullyUnderstood = result.HoldsEveryLine = false;
    return result;
  }
  document.Prologue = lines.Between(0, lines.Pos());
  if (document.Prologue.ends_with("\r\n")) document.LineBreak = "\r\n";
  ParseBody(lines, result);
  return result;
}

std::string SerializeRegistryText(const TRegFileDocument& document) {
  const std::string_view lineBreak = document.LineBreak;
  std::string out = document.Prologue;
  if (out.empty()) {
    out = document.Version == 5 ? HeaderVersion5 : HeaderVersion4;
    out += lineBreak;
  }
  for (const TRegFileKey& key : document.Keys) {
    if (key.Text.empty()) {
      AppendLines(out, std::string(lineBreak) + "[" + key.Path + "]" + std::string(lineBreak), lineBreak);
    } else {
      AppendLines(out, key.Text, lineBreak);
    }
    for (const TRegFileValue& value : key.Values) {
      AppendLines(out, value.LinesBefore, lineBreak);
      if (value.Text.empty()) {
        std::string line;
        AppendValue(line, value, document.Version, lineBreak);
        AppendLines(out, line, lineBreak);
      } else {
        AppendLines(out, value.Text, lineBreak);
      }
    }
    AppendLines(out, key.LinesAfter, lineBreak);
  }
  return out;
}
