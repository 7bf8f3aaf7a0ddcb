#pragma once
// The one rule by which a text becomes a signed 32-bit integer: leading blanks (code 32 only),
// then an optional sign with decimal digits, or a "$", "x", "X", "0x" or "0X" prefix with up to
// 32 bits of hexadecimal digits; nothing may follow.

#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::optional<std::int32_t> TryStrToInt(const QString& text);
// Strict form: raises EConvertError for a text that is not an integer.
std::int32_t StrToInt(const QString& text);
// Default form: the caller's default for a text that is not an integer.
std::int32_t StrToIntDef(const QString& text, std::int32_t defaultValue);
// True for a text of the rule's form whose value lies beyond 32 bits ("99999999999", "$1FFFFFFFF"):
// a number, but none the program can hold.
bool IsIntegerBeyond32Bits(const QString& text);
// Plain decimal, "-" for negative numbers, no leading zeros.
QString IntToStr(std::int32_t value);
