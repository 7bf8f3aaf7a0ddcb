#include "base/int_conversion.h"

namespace {
int HexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'a' && u <= u'f') return u - u'a' + 10;
  if (u >= u'A' && u <= u'F') return u - u'A' + 10;
  return -1;
}

bool IsDecimalDigit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }

// A text read by the rule: its value, or none; beyond32Bits when the text has the rule's form but
// its value does not fit.
struct TParsed {
  std::optional<std::int32_t> Value;
  bool Beyond32Bits = false;
};

TParsed ParseHex(const QString& text, qsizetype pos) {
  if (pos >= text.size()) return {};
  std::uint64_t value = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = HexDigit(text[pos]);
    if (digit < 0) return {};
    // Past 32 bits the digits are still checked: only a text of the rule's form is a number.
    if (value <= 0xFFFFFFFFULL) value = value * 16 + static_cast<unsigned>(digit);
  }
  if (value > 0xFFFFFFFFULL) return {std::nullopt, true};
  return {static_cast<std::int32_t>(static_cast<std::uint32_t>(value))};
}

TParsed ParseDecimal(const QString& text, qsizetype pos) {
  bool negative = false;
  if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
    negative = text[pos] == u'-';
    ++pos;
  }
  if (pos >= text.size()) return {};
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  std::int64_t value = 0;
  for (; pos < text.size(); ++pos) {
    if (!IsDecimalDigit(text[pos])) return {};
    if (value <= limit) value = value * 10 + (text[pos].unicode() - u'0');
  }
  if (value > limit) return {std::nullopt, true};
  return {static_cast<std::int32_t>(negative ? -value : value)};
}

TParsed Parse(const QString& text) {
  qsizetype pos = 0;
  while (pos < text.size() && text[pos] == u' ') ++pos;
  const QStringView rest = QStringView(text).mid(pos);
  if (rest.startsWith(u'$') || rest.startsWith(u'x') || rest.startsWith(u'X')) return ParseHex(text, pos + 1);
  if (rest.startsWith(u"0x") || rest.startsWith(u"0X")) return ParseHex(text, pos + 2);
  return ParseDecimal(text, pos);
}
}  // namespace

std::optional<std::int32_t> TryStrToInt(const QString& text) { return Parse(text).Value; }

bool IsIntegerBeyond32Bits(const QString& text) { return Parse(text).Beyond32Bits; }

std::int32_t StrToInt(const QString& text) {
  if (const auto value = TryStrToInt(text)) return *value;
  throw EConvertError("'" + text.toStdString() + "' is not a valid integer value");
}

std::int32_t StrToIntDef(const QString& text, std::int32_t defaultValue) {
  return TryStrToInt(text).value_or(defaultValue);
}

QString IntToStr(std::int32_t value) { return QString::number(value); }
