#pragma once
// How long a test waits for something that must happen. A wait ends as soon as its condition
// holds, so the bound only counts when it never does: it is generous enough for a sanitizer build
// on two cores that other tests keep busy. Waits that check that something does NOT happen keep
// their own short windows.

#include <chrono>

namespace testsupport {

inline constexpr int PatienceMs = 120000;
inline constexpr std::chrono::milliseconds Patience{PatienceMs};

}  // namespace testsupport
