// Any bytes parse without harm. A file with a header is written back byte for byte; any written file
// holds every line, gives the same document when read again and is written the same way.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/registry_format.h"

namespace {
[[noreturn]] void Fail(const char* what, const std::string& written) {
  std::fprintf(stderr, "%s\n--- written ---\n%s\n---\n", what, written.c_str());
  std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const TRegParseResult first = ParseRegistryText(input);
  const std::string written = SerializeRegistryText(first.Document);
  const bool encoded = input.starts_with("\xEF\xBB\xBF") || input.starts_with("\xFF\xFE");
  if (first.HoldsEveryLine && !encoded && !first.Document.Prologue.empty() && written != input) {
    Fail("a line of the file was not written back as it stood", written);
  }
  const TRegParseResult second = ParseRegistryText(written);
  if (!second.HoldsEveryLine) Fail("the written file does not hold every line", written);
  if (first.HoldsEveryLine && second.FullyUnderstood != first.FullyUnderstood) Fail("understood differently", written);
  if (!(second.Document == first.Document)) Fail("reading the written file gives another document", written);
  if (SerializeRegistryText(second.Document) != written) Fail("writing is not stable", written);
  return 0;
}
