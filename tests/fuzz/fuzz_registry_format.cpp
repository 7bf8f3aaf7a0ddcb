// Any bytes parse without harm, and whatever was understood survives being written and read again:
// the written file is understood completely, gives the same document and is written the same way.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "registry_format.h"

namespace {
[[noreturn]] void Fail(const char* what, const std::string& written) {
  std::fprintf(stderr, "%s\n--- written ---\n%s\n---\n", what, written.c_str());
  std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const TRegParseResult first = ParseRegistryText(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string written = SerializeRegistryText(first.Document);
  const TRegParseResult second = ParseRegistryText(written);
  if (!second.FullyUnderstood) Fail("the written file is not fully understood", written);
  if (!(second.Document == first.Document)) Fail("reading the written file gives another document", written);
  if (SerializeRegistryText(second.Document) != written) Fail("writing is not stable", written);
  return 0;
}
