#pragma once
// The encodings a settings file may arrive in. Registry exports of version 5.00 are UTF-16LE with
// a byte order mark; hand-edited files may carry a UTF-8 one. Plain C++ for the fuzzer.

#include <string>
#include <string_view>

// Appends the UTF-8 form of UTF-16LE bytes. An odd length or an unpaired surrogate makes it return
// false; the damaged part becomes U+FFFD.
bool Utf16LeToUtf8(std::string_view bytes, std::string& out);

// Appends the UTF-16LE form of UTF-8 text; a byte that does not start a valid sequence becomes U+FFFD.
void Utf8ToUtf16Le(std::string_view text, std::string& out);

// The file's text as UTF-8 without a byte order mark: a view into bytes, or into decoded when it had
// to be converted. understood becomes false when the conversion lost something.
std::string_view DecodeRegistryText(std::string_view bytes, std::string& decoded, bool& understood);
