#include "settings/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace {
// iconv stops at a sequence it cannot convert; each such place becomes one U+FFFD and the input goes
// on one unit further (a byte of UTF-8, two of UTF-16), so the rest of a damaged file still reads.
// false also when iconv lacks the encoding, which glibc's own UTF-16 module always provides.
bool Convert(const char* to, const char* from, std::size_t unit, std::string_view replacement, std::string_view in,
             std::string& out) {
  const iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  bool clean = true;
  char* next = const_cast<char*>(in.data());
  std::size_t left = in.size();
  while (left > 0) {
    char buffer[4096];
    char* written = buffer;
    std::size_t room = sizeof buffer;
    const bool stopped = iconv(converter, &next, &left, &written, &room) == static_cast<std::size_t>(-1);
    const int error = errno;
    out.append(buffer, written);
    if (!stopped || error == E2BIG) continue;
    out += replacement;
    clean = false;
    const std::size_t skipped = std::min(unit, left);
    next += skipped;
    left -= skipped;
  }
  iconv_close(converter);
  return clean;
}
}  // namespace

void Utf8ToUtf16Le(std::string_view text, std::string& out) {
  Convert("UTF-16LE", "UTF-8", 1, {"\xFD\xFF", 2}, text, out);
}

bool Utf16LeToUtf8(std::string_view bytes, std::string& out) {
  return Convert("UTF-8", "UTF-16LE", 2, "\xEF\xBF\xBD", bytes, out);
}

std::string_view DecodeRegistryText(std::string_view bytes, std::string& decoded, bool& understood) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return bytes.substr(3);
  if (!bytes.starts_with("\xFF\xFE")) return bytes;
  decoded.clear();
  if (!Utf16LeToUtf8(bytes.substr(2), decoded)) understood = false;
  return decoded;
}
