#pragma once
// A millisecond tick counter that wraps at 2^32; all differences are taken modulo 2^32.

#include <cstdint>
#include <functional>

std::uint32_t GetTickCount();

// Replaces the clock by source (thread-safe to call from any thread); an empty source restores
// the real clock. Lets tests place window boundaries to the millisecond.
void SetTickSource(std::function<std::uint32_t()> source);
