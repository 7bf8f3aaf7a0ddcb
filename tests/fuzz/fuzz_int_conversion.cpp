// TryStrToInt against a reference built from the C library: the text is checked for the accepted
// form by hand (blanks, then sign and decimal digits, or a hex prefix and hex digits), and only the
// digits go to strtoll/strtoull. Each input is tried as UTF-8, as Latin-1 and as raw UTF-16 units.
// Accepted values, and the first four bytes as a number, must survive IntToStr and back.

#include <QString>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "base/int_conversion.h"

namespace {
bool IsDecimal(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDecimal(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool AllOf(const std::string& s, bool (*test)(char)) {
  for (char c : s) {
    if (!test(c)) return false;
  }
  return !s.empty();
}

std::optional<std::int32_t> Reference(const QString& text) {
  qsizetype pos = 0;
  while (pos < text.size() && text[pos] == u' ') ++pos;
  std::string rest;
  for (; pos < text.size(); ++pos) {
    if (text[pos].unicode() > 0x7F) return std::nullopt;  // every accepted character is ASCII
    rest.push_back(static_cast<char>(text[pos].unicode()));
  }
  std::size_t hexStart = 0;
  if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) hexStart = 1;
  if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) hexStart = 2;
  errno = 0;
  if (hexStart > 0) {
    const std::string digits = rest.substr(hexStart);
    if (!AllOf(digits, IsHex)) return std::nullopt;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, 16);
    if (errno == ERANGE || value > 0xFFFFFFFFULL) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  }
  const std::size_t digitsStart = !rest.empty() && (rest[0] == '+' || rest[0] == '-') ? 1 : 0;
  if (!AllOf(rest.substr(digitsStart), IsDecimal)) return std::nullopt;
  const long long value = std::strtoll(rest.c_str(), nullptr, 10);
  if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

void CheckRoundTrip(std::int32_t value) {
  const QString text = IntToStr(value);
  if (text.toStdString() != std::to_string(value) || TryStrToInt(text) != value) {
    std::fprintf(stderr, "IntToStr round trip fails for %d: '%s'\n", value, text.toUtf8().constData());
    std::abort();
  }
}

void Check(const QString& text) {
  const std::optional<std::int32_t> got = TryStrToInt(text);
  const std::optional<std::int32_t> expected = Reference(text);
  if (got != expected || StrToIntDef(text, 12345) != expected.value_or(12345)) {
    std::fprintf(stderr, "'%s': TryStrToInt %s%d, reference %s%d\n", text.toUtf8().constData(), got ? "" : "none ",
                 got.value_or(0), expected ? "" : "none ", expected.value_or(0));
    std::abort();
  }
  if (got) CheckRoundTrip(*got);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const auto length = static_cast<qsizetype>(size);
  Check(QString::fromUtf8(bytes, length));
  Check(QString::fromLatin1(bytes, length));
  QString units;
  for (std::size_t i = 0; i + 1 < size; i += 2) units.append(QChar(static_cast<char16_t>(data[i] | data[i + 1] << 8)));
  Check(units);
  if (size >= 4) {
    std::int32_t value;
    std::memcpy(&value, data, 4);
    CheckRoundTrip(value);
  }
  return 0;
}
