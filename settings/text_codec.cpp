#include "text_codec.h"

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
}  // namespace

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
