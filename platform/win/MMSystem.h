// The millisecond clock of the multimedia timer.
#pragma once

#include <cstdint>
#include <functional>

// Milliseconds since an arbitrary start; wraps around after 2^32.
uint32_t timeGetTime();
// Tests drive the clock; an empty function restores the real one.
void SetTimeGetTimeOverride(std::function<uint32_t()> clock);
