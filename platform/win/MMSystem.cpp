#include "platform/win/MMSystem.h"

#include <chrono>

namespace {
std::function<uint32_t()>& ClockOverride() {
    static std::function<uint32_t()> f;
    return f;
}
} // namespace

uint32_t timeGetTime() {
    if (ClockOverride()) return ClockOverride()();
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SetTimeGetTimeOverride(std::function<uint32_t()> clock) {
    ClockOverride() = std::move(clock);
}
