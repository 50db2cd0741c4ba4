#include "platform/win/KeyState.h"

#include <QCursor>
#include <QGuiApplication>

namespace {

std::function<bool(int)>& KeyOverride() {
    static std::function<bool(int)> f;
    return f;
}

std::function<TPoint()>& CursorOverride() {
    static std::function<TPoint()> f;
    return f;
}

bool RealKeyDown(int virtualKey) {
    if (QGuiApplication::instance() == nullptr) return false;
    switch (virtualKey) {
    case VK_LBUTTON:
        return (QGuiApplication::mouseButtons() & Qt::LeftButton) != 0;
    case VK_RBUTTON:
        return (QGuiApplication::mouseButtons() & Qt::RightButton) != 0;
    case VK_MBUTTON:
        return (QGuiApplication::mouseButtons() & Qt::MiddleButton) != 0;
    case VK_SHIFT:
        return (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) != 0;
    case VK_CONTROL:
        return (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0;
    case VK_MENU:
        return (QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier) != 0;
    default:
        return false;
    }
}

} // namespace

int16_t GetKeyState(int virtualKey) {
    const bool down = KeyOverride() ? KeyOverride()(virtualKey) : RealKeyDown(virtualKey);
    return down ? static_cast<int16_t>(-128) : static_cast<int16_t>(0);
}

void SetKeyStateOverride(std::function<bool(int)> isDown) {
    KeyOverride() = std::move(isDown);
}

TPoint GetCursorPos() {
    if (CursorOverride()) return CursorOverride()();
    const QPoint p = QCursor::pos();
    return Point(p.x(), p.y());
}

void SetCursorPosOverride(std::function<TPoint()> position) {
    CursorOverride() = std::move(position);
}
