#pragma once
// How hard the suite pushes. The test command runs the short form in every build; the long form
// (KORVADEN_STRESS=long, see scripts/stress.sh) runs the full counts and the ten-minute run.
// Sanitizer builds run slower by an order of magnitude, so their short form does fewer rounds.

#include <cstdlib>
#include <cstring>

namespace stress {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool Sanitized = true;
#else
inline constexpr bool Sanitized = false;
#endif
#else
inline constexpr bool Sanitized = false;
#endif

inline bool LongForm() {
  const char* value = std::getenv("KORVADEN_STRESS");
  return value != nullptr && std::strcmp(value, "long") == 0;
}

// Rounds for the long form, the short form of a normal build and that of a sanitizer build.
inline int Rounds(int longForm, int shortForm, int sanitized) {
  if (LongForm()) return longForm;
  return Sanitized ? sanitized : shortForm;
}

}  // namespace stress
