// The keyboard and mouse state of the moment, and the pointer position.
#pragma once

#include "platform/graphics/Types.h"

#include <cstdint>
#include <functional>

inline constexpr int VK_LBUTTON = 0x01;
inline constexpr int VK_RBUTTON = 0x02;
inline constexpr int VK_MBUTTON = 0x04;
inline constexpr int VK_SHIFT = 0x10;
inline constexpr int VK_CONTROL = 0x11;
inline constexpr int VK_MENU = 0x12;
inline constexpr int VK_ESCAPE = 0x1B;
inline constexpr int VK_RETURN = 0x0D;
inline constexpr int VK_NUMPAD0 = 0x60;

// Negative while the key or button is down (the high bit of the platform's answer).
int16_t GetKeyState(int virtualKey);
// Tests decide which keys are down; an empty function restores the real state.
void SetKeyStateOverride(std::function<bool(int virtualKey)> isDown);

// The pointer's position on the screen.
TPoint GetCursorPos();
void SetCursorPosOverride(std::function<TPoint()> position);
