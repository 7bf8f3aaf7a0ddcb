#include "settings/text_codec.h"

#include <cstdint>

namespace {
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

constexpr char32_t Replacement = 0xFFFD;

void AppendUtf16(std::string& out, char32_t c) {
  auto unit = [&](char32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  };
  if (c < 0x10000) {
    unit(c);
  } else {
    unit(0xD800 + ((c - 0x10000) >> 10));
    unit(0xDC00 + ((c - 0x10000) & 0x3FF));
  }
}

// The code point of the sequence at text[i], advancing i; Replacement and one byte for a bad one.
char32_t NextUtf8(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  if (length == 0 || i + length - 1 > text.size()) return Replacement;
  char32_t c = lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k - 1]);
    if ((next & 0xC0) != 0x80) return Replacement;
    c = c << 6 | (next & 0x3F);
  }
  const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return Replacement;
  i += length - 1;
  return c;
}
}  // namespace

void Utf8ToUtf16Le(std::string_view text, std::string& out) {
  out.reserve(out.size() + text.size() * 2);
  for (std::size_t i = 0; i < text.size();) AppendUtf16(out, NextUtf8(text, i));
}

bool Utf16LeToUtf8(std::string_view bytes, std::string& out) {
  bool clean = bytes.size() % 2 == 0;
  const std::size_t units = bytes.size() / 2;
  out.reserve(out.size() + units * 3 / 2);
  auto unit = [&](std::size_t i) -> char32_t {
    return static_cast<unsigned char>(bytes[2 * i]) | static_cast<unsigned char>(bytes[2 * i + 1]) << 8;
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendUtf8(out, Replacement);
      clean = false;
    } else {
      AppendUtf8(out, c);
    }
  }
  if (bytes.size() % 2) AppendUtf8(out, Replacement);
  return clean;
}

std::string_view DecodeRegistryText(std::string_view bytes, std::string& decoded, bool& understood) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return bytes.substr(3);
  if (!bytes.starts_with("\xFF\xFE")) return bytes;
  decoded.clear();
  if (!Utf16LeToUtf8(bytes.substr(2), decoded)) understood = false;
  return decoded;
}
