// Sleeping and the system's notification sounds.
#pragma once

#include <cstdint>
#include <functional>

inline constexpr uint32_t MB_OK = 0x00;
inline constexpr uint32_t MB_ICONHAND = 0x10;
inline constexpr uint32_t MB_ICONQUESTION = 0x20;
inline constexpr uint32_t MB_ICONEXCLAMATION = 0x30;
inline constexpr uint32_t MB_ICONASTERISK = 0x40;

void Sleep(uint32_t milliseconds);
// As Sleep, but the windows go on painting and taking input meanwhile: for waits a user sees.
// The sleep override sees it as one sleep.
void SleepResponsive(uint32_t milliseconds);
// Tests see every sleep instead of waiting; an empty function restores real sleeping.
void SetSleepOverride(std::function<void(uint32_t milliseconds)> sleep);
// Plays the sound of the given kind (here the desktop's bell).
bool MessageBeep(uint32_t type);
// Tests see every beep instead of hearing it; an empty function restores the bell.
void SetMessageBeepOverride(std::function<void(uint32_t type)> beep);
